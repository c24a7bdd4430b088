#pragma once

// The tray icon: one of three icons of our own (recording, paused, idle), the tool tip, and the
// menu, rebuilt from the controller's entries each time it is about to open (and when the shown
// state changes while it is closed, for tray hosts that read the menu without opening it).
//
// Qt picks the tray protocol once, at the first tray icon of the process: StatusNotifierItem over
// D-Bus when a watcher with a host runs, else the X11 system tray.
//
// Threads: main thread.

#include "StatusMenu.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace vantel {

// The tray icon of a kind, drawn at the usual tray sizes.
QIcon trayIcon(TrayIconKind kind);

class TrayIcon : public QObject {
    Q_OBJECT
public:
    using EntriesProvider = std::function<std::vector<MenuEntry>()>;
    using ActionHandler = std::function<void(MenuAction action, int seconds)>;

    TrayIcon(EntriesProvider entries, ActionHandler handler, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon and tool tip for the state and rebuilds the menu unless it is open.
    void show(TrayIconKind kind, const QString& toolTip);
    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return *m_menu; }

private:
    void rebuild();
    void addEntries(QMenu& menu, const std::vector<MenuEntry>& entries);

    EntriesProvider m_entries;
    ActionHandler m_handler;
    std::unique_ptr<QMenu> m_menu;
    std::vector<QMenu*> m_submenus; // children of m_menu, replaced at every rebuild
    QSystemTrayIcon m_icon;
};

} // namespace vantel
