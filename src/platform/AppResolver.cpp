#include "platform/AppResolver.h"

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

RunningApp AppResolver::describe(int32_t pid, const WindowClass& windowClass,
                                 bool ownsWindow) const {
    const ProcessFacts facts = ProcessInfo::read(pid, m_procRoot);
    const std::string exeName = facts.executableName();
    const DesktopEntry* entry =
        facts.flatpak ? m_entries.byId(facts.flatpak->appId)
                      : m_entries.match(windowClass.klass, windowClass.instance, exeName);

    RunningApp app;
    app.pid = pid;
    app.executablePath = qs(facts.executable.string());
    app.terminated = !facts.exists;
    app.steamGame = facts.steamGame;
    app.regular = ownsWindow && pid != m_ownPid && facts.exists;
    app.appId = qs(facts.flatpak ? facts.flatpak->appId : entry ? entry->id : exeName);
    if (facts.flatpak)
        app.bundlePath = qs(facts.flatpak->appPath.string());
    else if (entry)
        app.bundlePath = qs(entry->path.string());
    app.name = qs(entry && !entry->name.empty() ? entry->name
                  : !windowClass.klass.empty()  ? windowClass.klass
                                                : exeName);
    if (entry)
        app.categories = qlist(entry->categories);
    return app;
}

} // namespace vantel::platform
