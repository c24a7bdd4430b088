#pragma once

// Every test process runs in a home of its own: XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME,
// TMPDIR and the videos folder point into one fresh temporary folder, set before any shared
// instance reads them. The folder is removed when the process ends.

#include <filesystem>
#include <string>

namespace vantel::test {

// The fresh folder of this process.
const std::filesystem::path& testHome();

// Writes a file with the given bytes, creating parent folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

} // namespace vantel::test
