#pragma once

// The installed desktop entries (applications/*.desktop under the XDG data folders and the
// Flatpak export folders), indexed by desktop-file id, and the rules that tie a running program
// to its entry.
//
// Thread: main thread. The index is built on first use and rebuilt only when one of the folders
// changed (refreshIfChanged() stats the folders, which is cheap).

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vantel::platform {

struct DesktopEntry {
    std::string id; // "org.foo.Bar" for applications/org.foo.Bar.desktop; "kde-foo" for kde/foo
    std::filesystem::path path;
    std::string name;
    std::string startupWMClass;
    std::string exec;    // the file name of the program Exec starts ("env" and VAR=x skipped)
    std::string tryExec; // the file name of TryExec
    std::vector<std::string> categories;
    std::string icon;       // Icon: a theme icon name or an absolute file path
    bool noDisplay = false; // NoDisplay=true: installed, but kept out of application lists
};

class DesktopEntries {
public:
    // The applications folders in precedence order: XDG_DATA_HOME, the user's Flatpak exports,
    // XDG_DATA_DIRS, the system Flatpak exports.
    static std::vector<std::filesystem::path> defaultFolders();
    // The program's index over defaultFolders(); created on first use, never destroyed. Only the
    // settings window still reaches it this way.
    static DesktopEntries& shared();

    explicit DesktopEntries(std::vector<std::filesystem::path> folders);

    // Rebuilds the index when a folder appeared, vanished or changed since the last build.
    void refreshIfChanged();

    const DesktopEntry* byId(const std::string& id) const;
    // Every visible application entry (not Hidden, Type=Application), in folder precedence, then
    // id order. The pointers stay valid until the next rebuild.
    const std::vector<const DesktopEntry*>& applications() const { return m_order; }
    // The entry of a program with the given window class (WM_CLASS class and instance) and
    // executable file name, in this order: id equal to the class or instance, StartupWMClass
    // equal to either, the last dotted part of the id equal to either, Exec or TryExec equal to
    // the executable name. Comparisons ignore letter case. Null when nothing matches.
    const DesktopEntry* match(const std::string& wmClass, const std::string& wmInstance,
                              const std::string& executable) const;

    static std::vector<std::string> splitList(const std::string& value);
    static std::string execProgram(const std::string& exec);

private:
    void rebuild();
    void scanFolder(const std::filesystem::path& folder);
    std::vector<std::filesystem::file_time_type> stamps() const;

    std::vector<std::filesystem::path> m_folders;
    std::vector<std::filesystem::file_time_type> m_stamps;
    bool m_built = false;
    std::map<std::string, DesktopEntry> m_entries; // by id
    std::vector<const DesktopEntry*> m_order;      // folder precedence, then id
};

} // namespace vantel::platform
