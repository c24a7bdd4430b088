#pragma once

// Running the ffmpeg and ffprobe command-line tools from tests.

#include <string>

namespace vantel::test {

// Runs `command` through the shell and returns what it printed on standard output and standard
// error together; "cannot run: ..." when the shell cannot be started.
std::string run(const std::string& command);

} // namespace vantel::test
