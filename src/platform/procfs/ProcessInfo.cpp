#include "platform/procfs/ProcessInfo.h"

#include "platform/freedesktop/KeyFile.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace vantel::platform {

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return text.str();
}

} // namespace

std::string ProcessFacts::executableName() const {
    std::string name = executable.filename().string();
    // A replaced binary reads "name (deleted)"; the name is still what the user started.
    const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() && name.ends_with(deleted))
        name.resize(name.size() - deleted.size());
    return name.empty() ? commandName : name;
}

bool ProcessInfo::exists(int32_t pid, const fs::path& procRoot) {
    std::error_code ec;
    return pid > 0 && fs::is_directory(procRoot / std::to_string(pid), ec);
}

bool ProcessInfo::environHas(const std::string& block, const std::string& name) {
    const std::string prefix = name + "=";
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find('\0', pos);
        if (end == std::string::npos)
            end = block.size();
        if (block.compare(pos, prefix.size(), prefix) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

std::optional<FlatpakInfo> ProcessInfo::readFlatpakInfo(const fs::path& file) {
    auto key = KeyFile::load(file);
    if (!key)
        return std::nullopt;
    FlatpakInfo info{key->value("Application", "name"), key->value("Instance", "app-path")};
    if (info.appId.empty())
        return std::nullopt;
    return info;
}

ProcessFacts ProcessInfo::read(int32_t pid, const fs::path& procRoot) {
    ProcessFacts facts;
    facts.pid = pid;
    facts.exists = exists(pid, procRoot);
    if (!facts.exists)
        return facts;
    const fs::path dir = procRoot / std::to_string(pid);
    std::error_code ec;
    facts.executable = fs::read_symlink(dir / "exe", ec);
    facts.commandName = readAll(dir / "comm");
    while (!facts.commandName.empty() && facts.commandName.back() == '\n')
        facts.commandName.pop_back();
    facts.steamGame = environHas(readAll(dir / "environ"), "SteamGameId");
    facts.flatpak = readFlatpakInfo(dir / "root/.flatpak-info");
    return facts;
}

} // namespace vantel::platform
