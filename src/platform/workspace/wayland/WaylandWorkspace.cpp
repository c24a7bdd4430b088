#include "platform/workspace/wayland/WaylandWorkspace.h"

#include "platform/procfs/ProcessInfo.h"
#include "platform/workspace/wayland/SocketClients.h"
#if HAVE_X11
#include "platform/workspace/x11/X11Workspace.h"
#endif

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vantel::platform {

namespace {

constexpr const char* kXwayland = "Xwayland";

std::string commandName(const fs::path& processDir) {
    std::ifstream in(processDir / "comm");
    std::string name;
    std::getline(in, name);
    return name;
}

} // namespace

fs::path WaylandWorkspace::socketPath() {
    const QByteArray display = qgetenv("WAYLAND_DISPLAY");
    if (display.isEmpty())
        return {};
    const fs::path name(display.toStdString());
    if (name.is_absolute())
        return name;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    return fs::path(runtime.toStdString()) / name;
}

WaylandWorkspace::WaylandWorkspace(DesktopEntries& entries, QObject* parent)
    : WaylandWorkspace(entries, Options{socketPath()}, parent) {}

WaylandWorkspace::WaylandWorkspace(DesktopEntries& entries, Options options, QObject* parent)
    : Workspace(parent)
    , m_options(std::move(options))
    , m_resolver(entries, m_options.procRoot) {
    std::error_code ec;
    if (m_options.socket.empty() || !fs::is_socket(m_options.socket, ec))
        throw std::runtime_error("no Wayland compositor socket at \"" + m_options.socket.string() +
                                 "\"");
    m_connections = SocketClients::peers(m_options.socket);
    followXwayland();
    connect(&m_poll, &QTimer::timeout, this, &WaylandWorkspace::poll);
    m_poll.start(m_options.poll);
}

WaylandWorkspace::~WaylandWorkspace() = default;

void WaylandWorkspace::poll() {
    std::set<uint64_t> now = SocketClients::peers(m_options.socket);
    const bool changed = now != m_connections;
    m_connections = std::move(now);
    const bool hadX = m_x != nullptr;
    followXwayland();
    if (changed || hadX != (m_x != nullptr))
        emit applicationsChanged();
}

bool WaylandWorkspace::xwaylandRuns() const {
    std::error_code ec;
    for (fs::directory_iterator it(m_options.procRoot, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) &&
            commandName(it->path()) == kXwayland)
            return true;
    }
    return false;
}

void WaylandWorkspace::followXwayland() {
#if HAVE_X11
    if (m_x && !static_cast<X11Workspace&>(*m_x).connected())
        m_x.reset();
    // Connecting to the X display of a desktop that starts Xwayland on demand would start it
    // and keep it running for nothing: connect only to a server that already runs.
    if (m_x || !m_options.useXwayland || qgetenv("DISPLAY").isEmpty() || !xwaylandRuns())
        return;
    try {
        m_x = std::make_unique<X11Workspace>(m_resolver.entries());
    } catch (const std::exception&) {
        return; // still starting, or not ours to read: asked again at the next poll
    }
    connect(m_x.get(), &Workspace::applicationsChanged, this, &Workspace::applicationsChanged);
#endif
}

QList<RunningApp> WaylandWorkspace::runningApplications() {
    m_resolver.entries().refreshIfChanged();
    followXwayland();
    const QList<RunningApp> xApps = m_x ? m_x->runningApplications() : QList<RunningApp>();
    m_connections = SocketClients::peers(m_options.socket);

    QList<RunningApp> apps;
    // Reading every process's open files is the costly part: done again only when the
    // compositor's connections changed.
    if (m_connections != m_heldConnections) {
        m_holders = SocketClients::holders(m_connections, m_options.procRoot);
        m_heldConnections = m_connections;
    }
    for (int32_t pid : m_holders) {
        const bool viaX = std::any_of(xApps.begin(), xApps.end(),
                                      [&](const RunningApp& app) { return app.pid == pid; });
        if (viaX || commandName(m_options.procRoot / std::to_string(pid)) == kXwayland)
            continue;
        apps << m_resolver.describe(pid, WindowClass{}, true);
    }
    apps << xApps;
    return apps;
}

std::optional<int32_t> WaylandWorkspace::frontmostPid() {
    followXwayland();
    return m_x ? m_x->frontmostPid() : std::nullopt;
}

} // namespace vantel::platform
