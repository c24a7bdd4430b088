#pragma once

// Shows a file in the desktop's file manager: asks org.freedesktop.FileManager1 on the session
// bus to show it selected, and opens its folder in the default file browser when no file
// manager answers.
//
// Thread: main thread; returns at once (the D-Bus call is not awaited on the spot).

#include <QString>

namespace vantel {

void showInFolder(const QString& path);

} // namespace vantel
