#include "TrayIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <utility>

namespace vantel {

namespace {
const QColor kRecording(232, 64, 64);
const QColor kRing(237, 237, 239);
const QColor kPause(212, 255, 63);

// A light ring with, inside it, a filled dot (recording), two bars (paused) or a hollow dot
// (idle); dark outlines keep it readable on light panels too.
QPixmap drawIcon(TrayIconKind kind, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 32.0;
    const QRectF ring(3 * unit, 3 * unit, 26 * unit, 26 * unit);
    p.setPen(QPen(QColor(0, 0, 0, 140), 5 * unit));
    p.drawEllipse(ring);
    p.setPen(QPen(kRing, 3 * unit));
    p.drawEllipse(ring);
    p.setPen(Qt::NoPen);
    const QRectF core(10 * unit, 10 * unit, 12 * unit, 12 * unit);
    switch (kind) {
    case TrayIconKind::recording:
        p.setBrush(kRecording);
        p.drawEllipse(core);
        break;
    case TrayIconKind::paused:
        p.setBrush(kPause);
        p.drawRoundedRect(QRectF(10.5 * unit, 10 * unit, 4 * unit, 12 * unit), unit, unit);
        p.drawRoundedRect(QRectF(17.5 * unit, 10 * unit, 4 * unit, 12 * unit), unit, unit);
        break;
    case TrayIconKind::idle:
        p.setPen(QPen(kRing, 2.5 * unit));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(core.adjusted(unit, unit, -unit, -unit));
        break;
    }
    return pixmap;
}
} // namespace

QIcon trayIcon(TrayIconKind kind) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(drawIcon(kind, size));
    return icon;
}

TrayIcon::TrayIcon(EntriesProvider entries, ActionHandler handler, QObject* parent)
    : QObject(parent)
    , m_entries(std::move(entries))
    , m_handler(std::move(handler))
    , m_menu(std::make_unique<QMenu>()) {
    m_menu->setTitle(QStringLiteral("Vantel Record"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayIcon::rebuild);
    rebuild();
    m_icon.setContextMenu(m_menu.get());
    m_icon.setIcon(trayIcon(TrayIconKind::idle));
}

TrayIcon::~TrayIcon() {
    m_icon.hide();
    m_icon.setContextMenu(nullptr);
}

void TrayIcon::show(TrayIconKind kind, const QString& toolTip) {
    m_icon.setIcon(trayIcon(kind));
    m_icon.setToolTip(toolTip);
    if (!m_menu->isVisible())
        rebuild();
    m_icon.show();
}

void TrayIcon::rebuild() {
    m_menu->clear();
    for (QMenu* submenu : std::exchange(m_submenus, {}))
        submenu->deleteLater();
    addEntries(*m_menu, m_entries());
}

void TrayIcon::addEntries(QMenu& menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntry::Kind::separator) {
            menu.addSeparator();
            continue;
        }
        if (entry.kind == MenuEntry::Kind::submenu) {
            QMenu* submenu = menu.addMenu(entry.text);
            m_submenus.push_back(submenu);
            addEntries(*submenu, entry.children);
            continue;
        }
        QAction* action = menu.addAction(entry.text);
        action->setEnabled(entry.enabled);
        if (!entry.shortcut.isEmpty())
            action->setShortcut(QKeySequence(entry.shortcut));
        if (entry.action != MenuAction::none)
            connect(
                action, &QAction::triggered, this,
                [this, kind = entry.action, seconds = entry.seconds] { m_handler(kind, seconds); });
    }
}

} // namespace vantel
