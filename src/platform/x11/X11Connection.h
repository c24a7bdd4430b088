#pragma once

// One connection to the X server with the few helpers every X11 backend needs: interned atoms,
// window properties and the RandR monitor list.
//
// Thread: a connection belongs to the thread that uses it. The workspace keeps one on the main
// thread; each capture stream opens its own for its sample thread; short queries open a
// temporary one.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace vantel::platform {

struct X11Monitor {
    // The monitor's first RandR output. A monitor made without an output (`xrandr --setmonitor
    // NAME GEOMETRY none`) has none; it gets kOutputlessIdBit | its name atom instead. Atoms and
    // XIDs stay below 2^29, so the two kinds never collide, and the name atom stays the same for
    // the life of the X server, so the id is stable while the monitor exists.
    uint32_t id = 0;
    std::string name;
    int x = 0, y = 0, width = 0, height = 0;
    bool primary = false;

    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

inline constexpr uint32_t kOutputlessIdBit = 0x80000000u;

class X11Connection {
public:
    // Opens the display named by DISPLAY. Throws std::runtime_error with a readable message.
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* get() const { return m_conn; }
    xcb_window_t root() const { return m_screen->root; }
    const xcb_screen_t& screen() const { return *m_screen; }
    int fd() const { return xcb_get_file_descriptor(m_conn); }
    bool broken() const { return xcb_connection_has_error(m_conn) != 0; }
    // Throws std::runtime_error when the server has gone away.
    void checkAlive() const;

    // Interns on first use; XCB_ATOM_NONE when the server refuses.
    xcb_atom_t atom(const std::string& name);

    // The RandR monitors in the server's order; one monitor covering the screen when the server
    // lacks RandR 1.5. Throws std::runtime_error when the connection is broken.
    std::vector<X11Monitor> monitors();
    bool hasRandr() const { return m_randrEvent >= 0; }
    // The event code of RandR's screen-change notify; -1 without RandR.
    int randrEventBase() const { return m_randrEvent; }

    // A property of 32-bit items (WINDOW, ATOM, CARDINAL) of the given type; empty when absent.
    std::vector<uint32_t> property32(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                     uint32_t maxItems = 4096);

private:
    void initRandr();
    std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms);

    xcb_connection_t* m_conn = nullptr;
    xcb_screen_t* m_screen = nullptr;
    std::map<std::string, xcb_atom_t> m_atoms;
    int m_randrEvent = -1;
    bool m_randrMonitors = false;
};

} // namespace vantel::platform
