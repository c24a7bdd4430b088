#pragma once

// An MP4 file being written with its index (moov) at the front. Owns the muxer and the file:
// unless finish() succeeds, the destructor closes the muxer and removes the file, so a failed
// operation never leaves a partial file behind.
//
// Set-up (addStream, writeHeader) happens on one thread; write() may then be called from several
// threads at once (a mutex guards the muxer); finish() runs after every writer has stopped.

#include "FfmpegPtr.h"

#include <filesystem>
#include <mutex>

namespace vantel::media {

class Mp4Output {
public:
    enum class Existing {
        refuse,  // a file at the target fails with MediaError(openOutput)
        replace, // a file at the target is deleted first
    };

    // Creates the file. Throws MediaError(openOutput).
    Mp4Output(const std::filesystem::path& target, Existing existing);
    ~Mp4Output();
    Mp4Output(const Mp4Output&) = delete;
    Mp4Output& operator=(const Mp4Output&) = delete;

    AVFormatContext* format() { return m_fmt; }
    AVStream* addStream();
    // Throws MediaError(openOutput); afterwards each stream's time_base is final.
    void writeHeader();
    // Rescales `pkt` from `from` to its stream's time base and hands it to the interleaving
    // muxer, which takes its data. Thread-safe. Throws MediaError(write).
    void write(AVPacket* pkt, AVRational from);
    // Writes the index and closes the file. Throws MediaError(write).
    void finish();

    // Makes `out` a pass-through copy of `in`: codec parameters (extradata and the codec tag
    // where the mp4 muxer accepts it), stream side data such as the display matrix, time base,
    // disposition and language. Throws MediaError(openOutput).
    void copyStreamSetup(const AVStream* in, AVStream* out);

private:
    void claim(Existing existing);
    void release();

    std::filesystem::path m_target;
    AVFormatContext* m_fmt = nullptr;
    std::mutex m_writeLock; // guards m_fmt during write()
    bool m_finished = false;
};

} // namespace vantel::media
