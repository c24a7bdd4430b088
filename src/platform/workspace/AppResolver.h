#pragma once

// Turns a process that owns windows into the facts the game detector reads: its application
// id (Flatpak id, else the matching desktop entry's id, else the executable's file name), its
// name, paths, categories and flags; for a process in a Flatpak sandbox also its own identity,
// found from its window class and executable as for a process outside any sandbox.
//
// Thread: main thread (it shares DesktopEntries with the caller).

#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Workspace.h"

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

    // `ownsWindow`: the process owns a managed normal top-level window.
    RunningApp describe(int32_t pid, const WindowClass& windowClass, bool ownsWindow) const;
    DesktopEntries& entries() const { return m_entries; }

private:
    AppIdentity identify(const DesktopEntry* entry, const WindowClass& windowClass,
                         const std::string& exeName) const;

    DesktopEntries& m_entries;
    std::filesystem::path m_procRoot;
    int32_t m_ownPid;
};

} // namespace vantel::platform
