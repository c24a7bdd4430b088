#pragma once

// An MP4 file being written with its index (moov) at the front. Owns the muxer and the file. The
// file is written under a hidden partial name beside the target (see PartialFile.h) and renamed
// to the target by finish(), so no one sees a half-written clip under its name; unless finish()
// succeeds, the destructor closes the muxer and removes the partial file.
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
        refuse,  // a file at the target fails with MediaError(openOutput), at creation or when
                 // one appears before finish() renames (never replaced)
        replace, // a file at the target is replaced when the new one is complete
    };

    // Creates the partial file. Throws MediaError(openOutput).
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
    // Writes the index, closes the file and gives it the target's name. Throws MediaError(write),
    // or MediaError(openOutput) when the target was taken meanwhile under Existing::refuse.
    void finish();

    // Makes `out` a pass-through copy of `in`: codec parameters (extradata and the codec tag
    // where the mp4 muxer accepts it), stream side data such as the display matrix, time base,
    // disposition and language. Throws MediaError(openOutput).
    void copyStreamSetup(const AVStream* in, AVStream* out);

private:
    void claim();
    void release();

    std::filesystem::path m_target;
    std::filesystem::path m_partial;
    Existing m_existing;
    AVFormatContext* m_fmt = nullptr;
    std::mutex m_writeLock; // guards m_fmt during write()
    bool m_finished = false;
};

} // namespace vantel::media
