#include "platform/workspace/x11/X11Workspace.h"

#include "platform/procfs/ProcessInfo.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <xcb/randr.h>
#include <xcb/res.h>

namespace vantel::platform {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

struct WindowCookies {
    xcb_get_window_attributes_cookie_t attrs;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t type, pid, wmClass, frame;
};

std::vector<uint32_t> values32(xcb_connection_t* c, xcb_get_property_cookie_t cookie,
                               xcb_atom_t type) {
    auto r = reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!r || r->type != type || r->format != 32)
        return {};
    auto* data = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    return {data, data + xcb_get_property_value_length(r.get()) / 4};
}

WindowClass windowClass(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    auto r = reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!r || r->format != 8)
        return {};
    const char* data = static_cast<const char*>(xcb_get_property_value(r.get()));
    std::string all(data, size_t(xcb_get_property_value_length(r.get())));
    size_t nul = all.find('\0');
    if (nul == std::string::npos)
        return {all, {}};
    std::string klass = all.substr(nul + 1);
    if (!klass.empty() && klass.back() == '\0')
        klass.pop_back();
    return {all.substr(0, nul), klass};
}

} // namespace

X11Workspace::X11Workspace(DesktopEntries& entries, QObject* parent)
    : Workspace(parent)
    , m_resolver(entries) {
    m_haveWm =
        !m_x.property32(m_x.root(), m_x.atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).empty();
    selectEvents();
    m_notifier = std::make_unique<QSocketNotifier>(m_x.fd(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(true); });
    // Replies read by our own queries can pull events off the socket into xcb's queue; they
    // would wait there unseen until the next byte arrives, so drain the queue before sleeping.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        m_aboutToBlock = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                 [this] { readEvents(false); });
}

X11Workspace::~X11Workspace() {
    disconnect(m_aboutToBlock);
}

void X11Workspace::selectEvents() {
    // Without a window manager nobody keeps _NET_CLIENT_LIST; watch the root's children then.
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE |
                    (m_haveWm ? 0u : uint32_t(XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY));
    xcb_change_window_attributes(m_x.get(), m_x.root(), XCB_CW_EVENT_MASK, &mask);
    if (m_x.hasRandr())
        xcb_randr_select_input(m_x.get(), m_x.root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    xcb_flush(m_x.get());
}

void X11Workspace::readEvents(bool fromSocket) {
    bool apps = false, screens = false;
    // Before the loop sleeps only the queue is looked at: no system call on every iteration.
    auto next = [&] {
        return fromSocket ? xcb_poll_for_event(m_x.get()) : xcb_poll_for_queued_event(m_x.get());
    };
    while (xcb_generic_event_t* event = next()) {
        handleEvent(event, apps, screens);
        std::free(event);
    }
    if (m_x.broken() && m_notifier)
        m_notifier->setEnabled(false); // the socket stays readable forever after a hang-up
    // One signal per batch: a window appearing changes the list and the focus together.
    if (apps)
        emit applicationsChanged();
    if (screens)
        emit screensChanged();
}

void X11Workspace::handleEvent(const xcb_generic_event_t* event, bool& apps, bool& screens) {
    const int type = event->response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (e->window == m_x.root() &&
            (e->atom == m_x.atom("_NET_CLIENT_LIST") || e->atom == m_x.atom("_NET_ACTIVE_WINDOW")))
            apps = true;
    } else if (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY || type == XCB_DESTROY_NOTIFY) {
        apps = true;
    } else if (m_x.hasRandr() && (type == m_x.randrEventBase() + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                  type == m_x.randrEventBase() + XCB_RANDR_NOTIFY)) {
        screens = true;
    }
}

std::vector<xcb_window_t> X11Workspace::clientList(bool& managed) {
    std::vector<uint32_t> list =
        m_x.property32(m_x.root(), m_x.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    managed = m_haveWm;
    if (m_haveWm)
        return list;
    auto tree =
        reply(xcb_query_tree_reply(m_x.get(), xcb_query_tree(m_x.get(), m_x.root()), nullptr));
    if (!tree)
        return {};
    xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

std::vector<int32_t> X11Workspace::ownersByXRes(const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_res_query_client_ids_cookie_t> cookies;
    for (xcb_window_t w : windows) {
        xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        cookies.push_back(xcb_res_query_client_ids(m_x.get(), 1, &spec));
    }
    std::vector<int32_t> pids;
    for (auto cookie : cookies) {
        auto r = reply(xcb_res_query_client_ids_reply(m_x.get(), cookie, nullptr));
        int32_t pid = 0;
        if (r) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(r.get()); it.rem;
                 xcb_res_client_id_value_next(&it)) {
                if (xcb_res_client_id_value_value_length(it.data) > 0)
                    pid = int32_t(*xcb_res_client_id_value_value(it.data));
            }
        }
        pids.push_back(pid);
    }
    return pids;
}

namespace {

// _NET_FRAME_EXTENTS (left, right, top, bottom) around a client. Any program can set them on its
// own window; values no real frame has are ignored rather than overflowing the geometry.
QRect withFrame(QRect bounds, const std::vector<uint32_t>& extents) {
    constexpr uint32_t kMaxExtent = 32767;
    if (extents.size() != 4 || *std::max_element(extents.begin(), extents.end()) > kMaxExtent)
        return bounds;
    return bounds.adjusted(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
}

} // namespace

std::vector<X11Workspace::Client> X11Workspace::clients(bool onScreenOnly) {
    bool managed = false;
    std::vector<xcb_window_t> list = clientList(managed);
    xcb_connection_t* c = m_x.get();
    const xcb_atom_t typeAtom = m_x.atom("_NET_WM_WINDOW_TYPE"), pidAtom = m_x.atom("_NET_WM_PID"),
                     frameAtom = m_x.atom("_NET_FRAME_EXTENTS"),
                     normal = m_x.atom("_NET_WM_WINDOW_TYPE_NORMAL");
    // Ask everything first and read the answers afterwards: one round trip for the whole list.
    std::vector<WindowCookies> cookies;
    for (xcb_window_t w : list)
        cookies.push_back({xcb_get_window_attributes(c, w), xcb_get_geometry(c, w),
                           xcb_translate_coordinates(c, w, m_x.root(), 0, 0),
                           xcb_get_property(c, 0, w, typeAtom, XCB_ATOM_ATOM, 0, 32),
                           xcb_get_property(c, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                           xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                           xcb_get_property(c, 0, w, frameAtom, XCB_ATOM_CARDINAL, 0, 4)});
    std::vector<Client> out;
    for (size_t i = 0; i < list.size(); ++i) {
        const WindowCookies& k = cookies[i];
        auto attrs = reply(xcb_get_window_attributes_reply(c, k.attrs, nullptr));
        auto geo = reply(xcb_get_geometry_reply(c, k.geometry, nullptr));
        auto origin = reply(xcb_translate_coordinates_reply(c, k.origin, nullptr));
        std::vector<uint32_t> types = values32(c, k.type, XCB_ATOM_ATOM);
        std::vector<uint32_t> pid = values32(c, k.pid, XCB_ATOM_CARDINAL);
        WindowClass cls = windowClass(c, k.wmClass);
        std::vector<uint32_t> frame = values32(c, k.frame, XCB_ATOM_CARDINAL);
        if (!attrs || !geo || !origin)
            continue;
        // A window the window manager keeps while it is minimised or on another desktop is not
        // viewable, but its program still runs; only the display choice needs it on screen.
        if (attrs->map_state != XCB_MAP_STATE_VIEWABLE && (onScreenOnly || !managed))
            continue;
        if (!managed && (attrs->override_redirect || attrs->_class == XCB_WINDOW_CLASS_INPUT_ONLY))
            continue;
        // Without a type a managed window is normal (a transient one a dialog, which we ignore
        // only when it says so).
        if (!types.empty() && std::find(types.begin(), types.end(), normal) == types.end())
            continue;
        QRect bounds(origin->dst_x, origin->dst_y, geo->width, geo->height);
        out.push_back(
            {WindowInfo{list[i], pid.empty() ? 0 : int32_t(pid[0]), withFrame(bounds, frame), 0},
             cls});
    }
    std::vector<xcb_window_t> unknown;
    for (const Client& cl : out)
        if (cl.info.pid == 0)
            unknown.push_back(cl.info.window);
    if (!unknown.empty()) {
        std::vector<int32_t> pids = ownersByXRes(unknown);
        for (size_t i = 0, j = 0; i < out.size(); ++i)
            if (out[i].info.pid == 0)
                out[i].info.pid = pids[j++];
    }
    return out;
}

QList<WindowInfo> X11Workspace::windows() {
    QList<WindowInfo> list;
    for (const Client& c : clients(true))
        list << c.info;
    return list;
}

std::optional<int32_t> X11Workspace::frontmostPid() {
    std::vector<uint32_t> active =
        m_x.property32(m_x.root(), m_x.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1);
    if (active.empty() || active[0] == XCB_WINDOW_NONE)
        return std::nullopt;
    std::vector<uint32_t> pid =
        m_x.property32(active[0], m_x.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
    int32_t owner = pid.empty() ? ownersByXRes({active[0]})[0] : int32_t(pid[0]);
    if (owner <= 0)
        return std::nullopt;
    return owner;
}

QList<RunningApp> X11Workspace::runningApplications() {
    m_resolver.entries().refreshIfChanged();
    QList<RunningApp> apps;
    std::vector<int32_t> seen;
    for (const Client& c : clients(false)) {
        if (c.info.pid <= 0 || std::find(seen.begin(), seen.end(), c.info.pid) != seen.end())
            continue;
        seen.push_back(c.info.pid);
        apps << m_resolver.describe(c.info.pid, c.windowClass, true);
    }
    return apps;
}

QList<Monitor> X11Workspace::monitors() {
    QList<Monitor> list;
    try {
        for (const X11Monitor& m : m_x.monitors())
            list << Monitor{m.id, QString::fromStdString(m.name),
                            QRect(m.x, m.y, m.width, m.height), m.primary};
    } catch (const std::exception&) {
        // A lost display has no monitors; the workspace reports nothing rather than failing.
    }
    return list;
}

std::optional<uint32_t> X11Workspace::mainDisplay() {
    QList<Monitor> list = monitors();
    if (list.isEmpty())
        return std::nullopt;
    for (const Monitor& m : list)
        if (m.primary)
            return m.id;
    return list.front().id;
}

QList<uint32_t> X11Workspace::displaysAt(QPoint point) {
    QList<uint32_t> ids;
    for (const Monitor& m : monitors()) {
        if (m.geometry.contains(point) && ids.size() < 4)
            ids << m.id;
    }
    return ids;
}

} // namespace vantel::platform
