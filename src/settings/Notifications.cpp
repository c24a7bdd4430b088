#include "Notifications.h"

#include <QCoreApplication>

namespace vantel {

Notifications::Notifications(QObject* parent)
    : QObject(parent) {}

Notifications& Notifications::shared() {
    // Never destroyed: observers may still disconnect during shutdown.
    static Notifications* centre = [] {
        auto* made = new Notifications();
        if (QCoreApplication* app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *centre;
}

} // namespace vantel
