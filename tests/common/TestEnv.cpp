#include "TestEnv.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vantel::test {

namespace {
std::filesystem::path makeHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantel-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made)
        std::abort();
    std::filesystem::path home(made);
    for (const char* sub : {"config", "data", "cache", "tmp", "Videos"})
        std::filesystem::create_directories(home / sub);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("TMPDIR", (home / "tmp").c_str(), 1);
    std::ofstream dirs(home / "config" / "user-dirs.dirs");
    dirs << "XDG_VIDEOS_DIR=\"" << (home / "Videos").string() << "\"\n";
    return home;
}

struct HomeOwner {
    std::filesystem::path path = makeHome();
    ~HomeOwner() {
        std::error_code ignored;
        if (!std::getenv("VANTEL_KEEP_TEST_HOME"))
            std::filesystem::remove_all(path, ignored);
    }
};
} // namespace

const std::filesystem::path& testHome() {
    static HomeOwner owner;
    return owner.path;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace vantel::test
