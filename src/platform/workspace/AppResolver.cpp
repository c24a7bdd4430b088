#include "platform/workspace/AppResolver.h"

#include "platform/procfs/ProcessInfo.h"

#include <unistd.h>

namespace vantel::platform {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList qlist(const std::vector<std::string>& items) {
    QStringList out;
    for (const std::string& s : items)
        out << qs(s);
    return out;
}

} // namespace

AppResolver::AppResolver(DesktopEntries& entries, std::filesystem::path procRoot, int32_t ownPid)
    : m_entries(entries)
    , m_procRoot(std::move(procRoot))
    , m_ownPid(ownPid ? ownPid : getpid()) {}

AppIdentity AppResolver::identify(const DesktopEntry* entry, const WindowClass& windowClass,
                                  const std::string& exeName) const {
    AppIdentity id;
    id.appId = qs(entry ? entry->id : exeName);
    if (entry)
        id.bundlePath = qs(entry->path.string());
    id.name = qs(entry && !entry->name.empty() ? entry->name
                 : !windowClass.klass.empty()  ? windowClass.klass
                                               : exeName);
    if (entry)
        id.categories = qlist(entry->categories);
    return id;
}

RunningApp AppResolver::describe(int32_t pid, const WindowClass& windowClass,
                                 bool ownsWindow) const {
    const ProcessFacts facts = ProcessInfo::read(pid, m_procRoot);
    const std::string exeName = facts.executableName();
    const AppIdentity own = identify(
        m_entries.match(windowClass.klass, windowClass.instance, exeName), windowClass, exeName);

    RunningApp app;
    if (facts.flatpak) {
        const DesktopEntry* entry = m_entries.byId(facts.flatpak->appId);
        static_cast<AppIdentity&>(app) = identify(entry, windowClass, exeName);
        app.appId = qs(facts.flatpak->appId);
        app.bundlePath = qs(facts.flatpak->appPath.string());
        app.own = own;
    } else {
        static_cast<AppIdentity&>(app) = own;
    }
    app.pid = pid;
    app.executablePath = qs(facts.executable.string());
    app.terminated = !facts.exists;
    app.steamGame = facts.steamGame;
    app.regular = ownsWindow && pid != m_ownPid && facts.exists;
    return app;
}

} // namespace vantel::platform
