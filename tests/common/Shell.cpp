#include "Shell.h"

#include <array>
#include <cstdio>

namespace vantel::test {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run: " + command;
    std::array<char, 4096> chunk{};
    while (size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), n);
    ::pclose(pipe);
    return output;
}

} // namespace vantel::test
