#pragma once

// Failures of the media operations. `kind` tells the caller which step failed so it can choose
// the user's words; what() carries FFmpeg's detail for logs and tests.

#include <stdexcept>
#include <string>

namespace vantel::media {

class MediaError : public std::runtime_error {
public:
    enum class Kind {
        openInput,  // the source cannot be opened or its streams cannot be read
        noVideo,    // the source has no video stream
        openOutput, // the target cannot be created or its header cannot be written
        read,       // reading or decoding failed part-way
        write,      // encoding or writing failed part-way
    };

    MediaError(Kind kind, const std::string& detail)
        : std::runtime_error(detail)
        , m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace vantel::media
