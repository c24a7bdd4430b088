#pragma once

// Makes the content of the program's windows by id: "library" (the clips), "settings" and
// "welcome". The window map owns what it returns and gives it its title and size. A window that
// is not built yet ("settings") is an empty widget, so its menu item still opens a
// window of the right title and size.
//
// Threads: main thread.

#include <QString>
#include <QWidget>
#include <memory>

namespace vantel {

class Cancellation;

// `uploads` stops the clips window's shares when the program quits.
QWidget* createWindowContent(const QString& id, const std::shared_ptr<Cancellation>& uploads);

} // namespace vantel
