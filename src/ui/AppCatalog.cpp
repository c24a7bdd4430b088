#include "AppCatalog.h"

#include "platform/freedesktop/DesktopEntries.h"

#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace vantel {

namespace {

QIcon letterTile(const QString& name) {
    constexpr int kSize = 64;
    QPixmap tile(kSize, kSize);
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(44, 44, 50));
    p.drawRoundedRect(QRectF(2, 2, kSize - 4, kSize - 4), 14, 14);
    QFont font = p.font();
    font.setPixelSize(30);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(237, 237, 239));
    const QString letter = name.trimmed().left(1).toUpper();
    p.drawText(tile.rect(), Qt::AlignCenter, letter.isEmpty() ? QStringLiteral("?") : letter);
    return QIcon(tile);
}

} // namespace

AppCatalog::AppCatalog(platform::DesktopEntries& entries)
    : m_entries(entries) {}

std::vector<AppInfo> AppCatalog::applications() {
    m_entries.refreshIfChanged();
    std::vector<AppInfo> apps;
    for (const platform::DesktopEntry* entry : m_entries.applications()) {
        if (!entry->noDisplay)
            apps.push_back(infoOf(*entry));
    }
    std::stable_sort(apps.begin(), apps.end(), [](const AppInfo& a, const AppInfo& b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    return apps;
}

std::optional<AppInfo> AppCatalog::find(const QString& id) {
    m_entries.refreshIfChanged();
    const platform::DesktopEntry* entry = m_entries.byId(id.toStdString());
    if (!entry)
        return std::nullopt;
    return infoOf(*entry);
}

QIcon AppCatalog::iconFor(const QString& icon, const QString& name) {
    if (QFileInfo(icon).isAbsolute()) {
        QIcon fromFile(icon);
        if (!fromFile.availableSizes().isEmpty() || QFileInfo(icon).isFile())
            return fromFile;
    } else if (!icon.isEmpty() && QIcon::hasThemeIcon(icon)) {
        return QIcon::fromTheme(icon);
    }
    return letterTile(name);
}

AppInfo AppCatalog::infoOf(const platform::DesktopEntry& entry) {
    const QString id = QString::fromStdString(entry.id);
    QString name = QString::fromStdString(entry.name);
    if (name.isEmpty())
        name = id;
    return {id, name, iconFor(QString::fromStdString(entry.icon), name)};
}

} // namespace vantel
