#pragma once

// What /proc tells about one process: its executable, whether it still runs, whether Steam
// started it as a game, and its Flatpak sandbox. Reading another user's process may fail in
// parts; the missing facts are left empty.
//
// Thread: any; nothing is shared.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vantel::platform {

struct FlatpakInfo {
    std::string appId;             // [Application] name
    std::filesystem::path appPath; // [Instance] app-path: the app's installed files
};

struct ProcessFacts {
    int32_t pid = 0;
    bool exists = false;
    std::filesystem::path executable; // the target of /proc/PID/exe; empty when unreadable
    std::string commandName;          // /proc/PID/comm, the kernel's short name
    bool steamGame = false;           // the environment holds SteamGameId
    std::optional<FlatpakInfo> flatpak;

    // The executable's file name, else the kernel's short name.
    std::string executableName() const;
};

class ProcessInfo {
public:
    // `procRoot` replaces /proc in tests.
    static ProcessFacts read(int32_t pid, const std::filesystem::path& procRoot = "/proc");
    static bool exists(int32_t pid, const std::filesystem::path& procRoot = "/proc");
    // Parses a .flatpak-info file; absent when it cannot be read or names no application.
    static std::optional<FlatpakInfo> readFlatpakInfo(const std::filesystem::path& file);
    // Whether a NUL-separated environment block holds the variable.
    static bool environHas(const std::string& block, const std::string& name);
};

} // namespace vantel::platform
