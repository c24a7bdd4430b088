#pragma once

// Makes the content of the program's windows by id: "library" (the clips), "settings" and
// "welcome". The window map owns what it returns and gives it its title and size. An unknown id
// gives an empty widget.
//
// Threads: main thread.

#include <QString>
#include <QWidget>

namespace vantel {

class AppState;
class CaptureController;
class Library;
class Settings;
class ShareService;
class Toast;

class WindowFactory {
public:
    // What the windows work with; each must outlive the factory and every window it made.
    struct Services {
        Settings& settings;
        CaptureController& capture; // the welcome window's permission check and request
        Library& library;
        AppState& state;       // the clips window's status footer
        Toast& toast;          // what the clips window has to tell once its view closed
        ShareService& sharing; // the clips window's shares (stopped when the program quits)
    };

    explicit WindowFactory(Services services)
        : m_services(services) {}

    QWidget* create(const QString& id) const;

private:
    QWidget* makeLibraryWindow() const;

    Services m_services;
};

} // namespace vantel
