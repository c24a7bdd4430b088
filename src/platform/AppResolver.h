#pragma once

// Turns a process that owns windows into the facts the game detector reads: its application
// id (Flatpak id, else the matching desktop entry's id, else the executable's file name), its
// name, paths, categories and flags.
//
// Thread: main thread (it shares DesktopEntries with the caller).

#include "platform/Workspace.h"
#include "platform/freedesktop/DesktopEntries.h"

#include <filesystem>
#include <string>

namespace vantel::platform {

struct WindowClass {
    std::string instance; // WM_CLASS, first string
    std::string klass;    // WM_CLASS, second string
};

class AppResolver {
public:
    // `procRoot` replaces /proc and `ownPid` this process in tests.
    AppResolver(DesktopEntries& entries, std::filesystem::path procRoot = "/proc",
                int32_t ownPid = 0);

    // `ownsWindow`: the process owns a mapped normal top-level window.
    RunningApp describe(int32_t pid, const WindowClass& windowClass, bool ownsWindow) const;

private:
    DesktopEntries& m_entries;
    std::filesystem::path m_procRoot;
    int32_t m_ownPid;
};

} // namespace vantel::platform
