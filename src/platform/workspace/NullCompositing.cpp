// A build without X11 has no compositing manager to ask: translucent windows are not shown as
// such.

#include "platform/workspace/Compositing.h"

namespace vantel::platform {

bool desktopComposites() { return false; }

} // namespace vantel::platform
