#pragma once

// Whether the desktop blends translucent windows right now. Asked each time a translucent
// window is about to show, because a compositor can start and stop while the program runs.
//
// Thread: any; each call opens its own short connection to the display server.

namespace vantel::platform {

// X11: a compositing manager owns the selection _NET_WM_CM_S<screen>. False without a
// display.
bool desktopComposites();

} // namespace vantel::platform
