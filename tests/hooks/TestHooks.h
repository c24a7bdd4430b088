#pragma once

// The hooks of the program's test build (vantel-record-test), each asked for through the
// environment of the end-to-end test that starts it:
//
//   VANTEL_TOAST_LOG=<file>         every toast the controller shows is appended to the file as
//                                   one line "title<TAB>detail<TAB>ok|problem"
//   VANTEL_WIDGET_MAP=<file>        where the Clips window's controls are (WidgetMap.h)
//   VANTEL_SHORTCUTS_PORTAL=<name>  the bus name of a stand-in global shortcuts portal, where the
//                                   desktop's portal serves the other interfaces
//   VANTEL_COPY_READ_WRITE=1        clips saved from the buffer by reading and writing, not in
//                                   the kernel
//
// Thread: main thread.

#include "app/ProgramHooks.h"

#include <QProcessEnvironment>

namespace vantel::test {

ProgramHooks hooksFrom(const QProcessEnvironment& environment);

} // namespace vantel::test
