#pragma once

// Opening the program when the user logs in, through the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/vantel-record.desktop, which every freedesktop desktop (GNOME,
// KDE, Xfce, ...) starts at login.
//
// Thread: any; each call reads or writes the file afresh.

#include <QString>

namespace vantel::platform {

class Autostart {
public:
    Autostart() = delete;

    // The entry exists and is not switched off (Hidden=true, or
    // X-GNOME-Autostart-enabled=false, as desktops write when the user turns it off in their
    // own settings).
    static bool enabled();
    // true: writes the entry, starting `program` (default: the running program's file).
    // false: removes it. Returns false when the file could not be written or removed; the
    // entry is then as it was.
    static bool setEnabled(bool on, const QString& program = {});

    static QString entryPath();
    // The entry's text for `program`, its path quoted as desktop entries require.
    static QString entryText(const QString& program);
};

} // namespace vantel::platform
