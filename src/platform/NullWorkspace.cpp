#include "platform/NullWorkspace.h"

#include "platform/x11/X11Workspace.h"

#include <QByteArray>

namespace vantel::platform {

std::unique_ptr<Workspace> createWorkspace(QObject* parent) {
    const QByteArray forced = qgetenv("VANTEL_WORKSPACE");
    if (forced == "null")
        return std::make_unique<NullWorkspace>(parent);
    try {
        return std::make_unique<X11Workspace>(parent);
    } catch (const std::exception& e) {
        if (forced == "x11")
            throw;
        return std::make_unique<NullWorkspace>(parent);
    }
}

} // namespace vantel::platform
