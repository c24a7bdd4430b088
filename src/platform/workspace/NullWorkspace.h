#pragma once

// A desktop with no applications, windows or monitors: for sessions without a display server
// and for tests that must not see the real desktop. It never signals.

#include "platform/workspace/Workspace.h"

namespace vantel::platform {

class NullWorkspace : public Workspace {
    Q_OBJECT
public:
    using Workspace::Workspace;

    QList<RunningApp> runningApplications() override { return {}; }
    std::optional<int32_t> frontmostPid() override { return std::nullopt; }
    QList<WindowInfo> windows() override { return {}; }
    QList<Monitor> monitors() override { return {}; }
    std::optional<uint32_t> mainDisplay() override { return std::nullopt; }
    QList<uint32_t> displaysAt(QPoint) override { return {}; }
};

} // namespace vantel::platform
