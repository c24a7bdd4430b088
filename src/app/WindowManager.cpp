#include "WindowManager.h"

#include "ui/Theme.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

namespace vantel {

namespace {
QString geometryKey(const QString& id) {
    return QStringLiteral("windows/") + id;
}

} // namespace

WindowManager::WindowManager(QSettings& store, Factory factory, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_factory(std::move(factory)) {}

WindowManager::~WindowManager() {
    const auto windows = m_windows;
    m_windows.clear();
    for (const QPointer<QWidget>& window : windows)
        delete window.data();
}

QWidget* WindowManager::open(const WindowSpec& spec) {
    if (QWidget* existing = window(spec.id)) {
        raise(existing);
        return existing;
    }
    QWidget* created = m_factory(spec.id);
    created->setParent(nullptr, Qt::Window);
    created->setObjectName(spec.id);
    created->setWindowTitle(spec.title);
    created->resize(spec.size);
    if (!spec.resizable)
        created->setFixedSize(spec.size);
    Theme::styleWindow(created);
    created->setAttribute(Qt::WA_DeleteOnClose);
    created->installEventFilter(this);
    connect(created, &QObject::destroyed, this,
            [this, id = spec.id](QObject* gone) { forget(id, gone); });
    m_windows.insert(spec.id, created);
    place(created, spec.id);
    created->show();
    raise(created);
    emit opened(spec.id);
    return created;
}

void WindowManager::close(const QString& id) {
    if (QWidget* open = window(id))
        open->close();
}

QWidget* WindowManager::window(const QString& id) const {
    return m_windows.value(id).data();
}

bool WindowManager::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched->isWidgetType()) {
        auto* closing = static_cast<QWidget*>(watched);
        m_store.setValue(geometryKey(closing->objectName()), closing->saveGeometry());
    }
    return QObject::eventFilter(watched, event);
}

void WindowManager::place(QWidget* window, const QString& id) {
    const QByteArray saved = m_store.value(geometryKey(id)).toByteArray();
    if (!saved.isEmpty() && window->restoreGeometry(saved))
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void WindowManager::forget(const QString& id, QObject* gone) {
    const auto found = m_windows.constFind(id);
    if (found == m_windows.constEnd() || (!found->isNull() && found->data() != gone))
        return;
    m_windows.remove(id);
    emit closed(id);
}

void WindowManager::raise(QWidget* window) {
    window->showNormal();
    window->raise();
    window->activateWindow();
}

} // namespace vantel
