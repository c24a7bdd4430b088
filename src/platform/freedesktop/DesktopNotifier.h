#pragma once

// Short messages as desktop notifications (org.freedesktop.Notifications on the session bus):
// how toasts reach the user where no program may place its own windows, as on Wayland. Each
// message replaces the one before (replaces_id), so there is never more than one. The server
// tells a message's id only in its answer, so a message asked for while the one before is still
// unanswered waits for that answer; of several waiting, only the newest is sent.
//
// Thread: main thread. notify() returns at once; the server's answer arrives later through the
// event loop. Without a notification server nothing shows and nothing is reported.

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace vantel::platform {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // `problem` raises the urgency; `timeoutMs` is how long the server should keep it.
    void notify(const QString& title, const QString& body, bool problem, int timeoutMs);
    // The server's id of the last message, 0 before its first answer.
    std::uint32_t lastId() const { return m_lastId; }

signals:
    // The server answered a notify() with this id.
    void shown(std::uint32_t id);

private:
    struct Message {
        QString title;
        QString body;
        bool problem = false;
        int timeoutMs = 0;
    };
    void send(const Message& message);

    std::uint32_t m_lastId = 0;
    bool m_waiting = false;        // a message was sent and its answer has not come
    std::optional<Message> m_next; // the newest message asked for meanwhile
};

} // namespace vantel::platform
