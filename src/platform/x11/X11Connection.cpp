#include "platform/x11/X11Connection.h"

#include <cstdlib>
#include <stdexcept>
#include <xcb/randr.h>

namespace vantel::platform {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

std::string displayName() {
    const char* name = std::getenv("DISPLAY");
    return name && *name ? name : "(none)";
}

} // namespace

X11Connection::X11Connection() {
    int screenIndex = 0;
    m_conn = xcb_connect(nullptr, &screenIndex);
    if (xcb_connection_has_error(m_conn)) {
        xcb_disconnect(m_conn);
        m_conn = nullptr;
        throw std::runtime_error("Cannot connect to the X display " + displayName() + ".");
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn));
    for (int i = 0; i < screenIndex && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(m_conn);
        throw std::runtime_error("The X display " + displayName() + " has no screen.");
    }
    m_screen = it.data;
    initRandr();
}

X11Connection::~X11Connection() {
    xcb_disconnect(m_conn);
}

void X11Connection::checkAlive() const {
    if (broken())
        throw std::runtime_error("The connection to the X display was lost.");
}

void X11Connection::initRandr() {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_conn, &xcb_randr_id);
    if (!ext || !ext->present)
        return;
    auto version = reply(
        xcb_randr_query_version_reply(m_conn, xcb_randr_query_version(m_conn, 1, 5), nullptr));
    if (!version)
        return;
    m_randrEvent = ext->first_event;
    m_randrMonitors = version->major_version > 1 || version->minor_version >= 5;
}

xcb_atom_t X11Connection::atom(const std::string& name) {
    if (auto it = m_atoms.find(name); it != m_atoms.end())
        return it->second;
    auto r = reply(xcb_intern_atom_reply(
        m_conn, xcb_intern_atom(m_conn, 0, uint16_t(name.size()), name.data()), nullptr));
    xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (r)
        m_atoms.emplace(name, atom);
    return atom;
}

std::vector<std::string> X11Connection::atomNames(const std::vector<xcb_atom_t>& atoms) {
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (xcb_atom_t a : atoms)
        cookies.push_back(xcb_get_atom_name(m_conn, a));
    std::vector<std::string> names;
    for (auto cookie : cookies) {
        auto r = reply(xcb_get_atom_name_reply(m_conn, cookie, nullptr));
        names.emplace_back(
            r ? std::string(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get()))
              : std::string());
    }
    return names;
}

std::vector<X11Monitor> X11Connection::monitors() {
    checkAlive();
    const xcb_screen_t& s = *m_screen;
    if (!m_randrMonitors)
        return {X11Monitor{1, "screen", 0, 0, s.width_in_pixels, s.height_in_pixels, true}};
    auto r = reply(
        xcb_randr_get_monitors_reply(m_conn, xcb_randr_get_monitors(m_conn, root(), 1), nullptr));
    checkAlive();
    if (!r)
        throw std::runtime_error("The X display did not list its monitors.");
    std::vector<X11Monitor> list;
    std::vector<xcb_atom_t> nameAtoms;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        X11Monitor mon{0, {}, m->x, m->y, m->width, m->height, m->primary != 0};
        mon.id =
            m->nOutput > 0 ? xcb_randr_monitor_info_outputs(m)[0] : (kOutputlessIdBit | m->name);
        list.push_back(mon);
        nameAtoms.push_back(m->name);
    }
    std::vector<std::string> names = atomNames(nameAtoms);
    for (size_t i = 0; i < list.size(); ++i)
        list[i].name = names[i];
    return list;
}

std::vector<uint32_t> X11Connection::property32(xcb_window_t window, xcb_atom_t property,
                                                xcb_atom_t type, uint32_t maxItems) {
    auto r = reply(xcb_get_property_reply(
        m_conn, xcb_get_property(m_conn, 0, window, property, type, 0, maxItems), nullptr));
    if (!r || r->type != type || r->format != 32)
        return {};
    auto* data = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(r.get()) / 4);
}

} // namespace vantel::platform
