#include "platform/capture/wayland/ScreenCastPortal.h"

#include "platform/capture/CaptureBackend.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <atomic>
#include <fcntl.h>
#include <stdexcept>

namespace vantel::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
constexpr int kCallTimeoutMs = 5000;

enum SourceType : uint32_t { monitor = 1 };
enum CursorMode : uint32_t { hidden = 1, embedded = 2 };
enum PersistMode : uint32_t { untilRevoked = 2 };

QString token() {
    static std::atomic<int> counter{0};
    return QStringLiteral("vantel%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// Where the portal publishes the answer to a request made with `handleToken`.
QString requestPath(const QString& handleToken) {
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + handleToken;
}

QDBusMessage callPortal(const QString& interface, const QString& method, const QVariantList& args,
                        int timeoutMs = kCallTimeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    call.setArguments(args);
    QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        throw std::runtime_error("The desktop's screen sharing failed: " +
                                 reply.errorMessage().toStdString());
    return reply;
}

QVariant property(const QString& name, int timeoutMs) {
    QDBusMessage reply = callPortal(QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kScreenCast, name}, timeoutMs);
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

} // namespace

// Waits on the calling thread for the portal's Response to one request.
class PortalAnswer : public QObject {
    Q_OBJECT
public:
    explicit PortalAnswer(const QString& handleToken)
        : m_path(requestPath(handleToken)) {
        QDBusConnection::sessionBus().connect(kService, m_path, kRequest,
                                              QStringLiteral("Response"), this,
                                              SLOT(response(uint, QVariantMap)));
    }
    ~PortalAnswer() override {
        QDBusConnection::sessionBus().disconnect(kService, m_path, kRequest,
                                                 QStringLiteral("Response"), this,
                                                 SLOT(response(uint, QVariantMap)));
    }

    // The results of a successful request. Throws PermissionDenied when the user cancelled.
    QVariantMap await(std::chrono::milliseconds timeout, const char* what) {
        if (!m_answered) {
            QEventLoop loop;
            QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
            connect(this, &PortalAnswer::answered, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (!m_answered)
            throw std::runtime_error(std::string("The desktop did not answer in time (") + what +
                                     ").");
        if (m_code == 1)
            throw PermissionDenied("Screen sharing was not allowed.");
        if (m_code != 0)
            throw std::runtime_error(std::string("The desktop's screen sharing failed (") + what +
                                     ").");
        return m_results;
    }

signals:
    void answered();

private slots:
    void response(uint code, const QVariantMap& results) {
        m_answered = true;
        m_code = code;
        m_results = results;
        emit answered();
    }

private:
    QString m_path;
    bool m_answered = false;
    uint m_code = 2;
    QVariantMap m_results;
};

namespace {

// Makes one request and waits for its answer.
QVariantMap request(const QString& method, QVariantList args, QVariantMap options,
                    std::chrono::milliseconds timeout) {
    const QString handle = token();
    options.insert(QStringLiteral("handle_token"), handle);
    args.append(options);
    PortalAnswer answer(handle);
    callPortal(kScreenCast, method, args);
    return answer.await(timeout, method.toLatin1().constData());
}

QString sessionHandle(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>() && value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

struct Stream {
    uint32_t node = 0;
    int width = 0, height = 0;
};

// The first stream of Start's "streams" (a(ua{sv})).
Stream firstStream(const QVariant& streams) {
    const QDBusArgument list = streams.value<QDBusArgument>();
    Stream first;
    bool found = false;
    list.beginArray();
    while (!list.atEnd()) {
        uint node = 0;
        QVariantMap props;
        list.beginStructure();
        list >> node >> props;
        list.endStructure();
        if (found)
            continue;
        found = true;
        first.node = node;
        const QDBusArgument size = props.value(QStringLiteral("size")).value<QDBusArgument>();
        if (size.currentType() == QDBusArgument::StructureType) {
            size.beginStructure();
            size >> first.width >> first.height;
            size.endStructure();
        }
    }
    list.endArray();
    if (!found)
        throw std::runtime_error("The desktop shared no screen.");
    return first;
}

uint32_t cursorMode(bool showCursor) {
    uint32_t available = 0;
    try {
        available = property(QStringLiteral("AvailableCursorModes"), kCallTimeoutMs).toUInt();
    } catch (const std::runtime_error&) {
    }
    const uint32_t wanted = showCursor ? embedded : hidden;
    return (available & wanted) ? wanted : 0;
}

void closeSession(const QString& path) {
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        kService, path, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

struct SessionGuard {
    QString path;
    bool armed = true;
    ~SessionGuard() {
        if (armed)
            closeSession(path);
    }
};

} // namespace

ScreenCast::ScreenCast(std::string session, uint32_t node, int width, int height, std::string token,
                       bool showCursor)
    : m_session(std::move(session))
    , m_node(node)
    , m_width(width)
    , m_height(height)
    , m_token(std::move(token))
    , m_showCursor(showCursor) {}

ScreenCast::~ScreenCast() {
    closeSession(QString::fromStdString(m_session));
}

int ScreenCast::openPipeWireRemote() const {
    QDBusMessage reply = callPortal(
        kScreenCast, QStringLiteral("OpenPipeWireRemote"),
        {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(m_session))), QVariantMap()});
    const auto fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    // The descriptor object closes its own copy.
    const int own = fd.isValid() ? fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (own < 0)
        throw std::runtime_error("The desktop gave no screen stream.");
    return own;
}

std::optional<uint32_t> ScreenCastPortal::version() {
    try {
        return property(QStringLiteral("version"), 1000).toUInt();
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

std::unique_ptr<ScreenCast> ScreenCastPortal::open(const ScreenCastRequest& wanted) {
    const std::optional<uint32_t> portal = version();
    if (!portal)
        throw std::runtime_error("The desktop offers no screen sharing (xdg-desktop-portal).");
    using namespace std::chrono_literals;
    QVariantMap created = request(QStringLiteral("CreateSession"), {},
                                  {{QStringLiteral("session_handle_token"), token()}}, 10s);
    const QString session = sessionHandle(created.value(QStringLiteral("session_handle")));
    const QVariant sessionPath = QVariant::fromValue(QDBusObjectPath(session));
    // From here on the session is ours to close, also when a later step fails.
    SessionGuard guard{session};

    QVariantMap sources{{QStringLiteral("types"), uint(monitor)},
                        {QStringLiteral("multiple"), false}};
    if (const uint32_t mode = cursorMode(wanted.showCursor))
        sources.insert(QStringLiteral("cursor_mode"), mode);
    if (ScreenCastPortal::keepsChoices(*portal)) {
        sources.insert(QStringLiteral("persist_mode"), uint(untilRevoked));
        if (!wanted.restoreToken.empty())
            sources.insert(QStringLiteral("restore_token"),
                           QString::fromStdString(wanted.restoreToken));
    }
    try {
        request(QStringLiteral("SelectSources"), {sessionPath}, sources, 10s);
    } catch (const PermissionDenied&) {
        throw;
    } catch (const std::runtime_error&) {
        // A token this portal cannot read at all (one from another desktop, a damaged settings
        // file) is refused outright rather than ignored: ask as if none were kept.
        if (!sources.remove(QStringLiteral("restore_token")))
            throw;
        request(QStringLiteral("SelectSources"), {sessionPath}, sources, 10s);
    }
    QVariantMap started =
        request(QStringLiteral("Start"), {sessionPath, QString()}, {}, wanted.answerTimeout);
    const Stream stream = firstStream(started.value(QStringLiteral("streams")));
    const std::string newToken =
        started.value(QStringLiteral("restore_token")).toString().toStdString();
    guard.armed = false;
    return std::make_unique<ScreenCast>(session.toStdString(), stream.node, stream.width,
                                        stream.height, newToken, wanted.showCursor);
}

} // namespace vantel::platform

#include "ScreenCastPortal.moc"
