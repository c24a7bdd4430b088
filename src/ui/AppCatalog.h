#pragma once

// The installed applications as the settings window shows them: the application id the game
// detector matches (the desktop-file id, which for a Flatpak is its application id), the
// entry's name and its icon. An id without an entry has no name; the window shows the id.
//
// Thread: main thread (it shares the desktop-entry index with the game detector).

#include <QIcon>
#include <QString>
#include <optional>
#include <vector>

namespace vantel {

namespace platform {
class DesktopEntries;
struct DesktopEntry;
} // namespace platform

struct AppInfo {
    QString id;
    QString name;
    QIcon icon;
};

class AppCatalog {
public:
    explicit AppCatalog(platform::DesktopEntries& entries);

    // The applications a desktop lists (entries marked NoDisplay are left out), sorted by name
    // without regard to letter case. Re-reads the entries when their folders changed.
    std::vector<AppInfo> applications();
    // The application with this id, hidden from lists or not; no value when none is installed.
    std::optional<AppInfo> find(const QString& id);

    // The entry's icon: a file for an absolute path, else the icon theme's; when neither gives
    // one, a plain tile with the name's first letter.
    static QIcon iconFor(const QString& icon, const QString& name);

private:
    static AppInfo infoOf(const platform::DesktopEntry& entry);

    platform::DesktopEntries& m_entries;
};

} // namespace vantel
