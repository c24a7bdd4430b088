#include "platform/workspace/Compositing.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <xcb/xcb.h>

namespace vantel::platform {

bool desktopComposites() {
    int screen = 0;
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, &screen),
                                                                   &xcb_disconnect);
    if (xcb_connection_has_error(c.get()))
        return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            c.get(), xcb_intern_atom(c.get(), 1, uint16_t(name.size()), name.data()), nullptr),
        &std::free);
    // Interned only if it exists: a selection nobody ever owned has no atom yet.
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c.get(), xcb_get_selection_owner(c.get(), atom->atom),
                                      nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace vantel::platform
