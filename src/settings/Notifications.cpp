#include "Notifications.h"

#include <QCoreApplication>

namespace vantel {

Notifications& Notifications::shared() {
    // Never destroyed: observers may post or disconnect during shutdown.
    static Notifications* centre = [] {
        auto* made = new Notifications();
        if (QCoreApplication* app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *centre;
}

void Notifications::post(const QString& name) {
    emit posted(name);
}

QMetaObject::Connection Notifications::observe(const QString& name, const QObject* context,
                                               std::function<void()> callback) {
    return connect(this, &Notifications::posted, context,
                   [name, callback = std::move(callback)](const QString& posted) {
                       if (posted == name)
                           callback();
                   });
}

} // namespace vantel
