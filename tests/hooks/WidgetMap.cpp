#include "WidgetMap.h"

#include "library/Clip.h"
#include "ui/ClipCardDelegate.h"
#include "ui/ClipGrid.h"
#include "ui/ClipListModel.h"
#include "ui/TrimBar.h"

#include <QMenu>
#include <QSaveFile>
#include <QSlider>
#include <QStyleOptionSlider>

namespace vantel {

namespace {

QString line(const QString& name, const QRect& global, const QString& tail = {}) {
    QString text = QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(name)
                       .arg(global.x())
                       .arg(global.y())
                       .arg(global.width())
                       .arg(global.height());
    if (!tail.isEmpty())
        text += u' ' + tail;
    return text + u'\n';
}

QRect onScreen(const QWidget* widget, const QRect& local) {
    return {widget->mapToGlobal(local.topLeft()), local.size()};
}

QString sliderParts(const QSlider* slider) {
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.subControls = QStyle::SC_All;
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderHandle, slider);
    return line(slider->objectName() + QStringLiteral(".handle"), onScreen(slider, handle));
}

QString trimParts(const TrimBar* bar) {
    const int y = bar->height() / 2;
    // Grabbed at their middles: the in handle lies left of its time, the out handle right.
    const QRect in(bar->xOf(bar->in()) - 6, y, 1, 1);
    const QRect out(bar->xOf(bar->out()) + 6, y, 1, 1);
    const QRect track(bar->xOf(0), y, bar->xOf(bar->duration()) - bar->xOf(0), 1);
    return line(QStringLiteral("trimBar.in"), onScreen(bar, in)) +
           line(QStringLiteral("trimBar.out"), onScreen(bar, out)) +
           line(QStringLiteral("trimBar.track"), onScreen(bar, track));
}

QString cards(const ClipGrid* grid) {
    QString text;
    const QRect shown = grid->viewport()->rect();
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        const QModelIndex index = grid->model()->index(row, 0);
        const QRect cell = grid->visualRect(index);
        if (!cell.intersects(shown))
            continue;
        const QRect card(cell.topLeft(), cell.size() - QSize(ClipCardDelegate::kColumnGap,
                                                             ClipCardDelegate::kRowGap));
        text += line(QStringLiteral("card"), onScreen(grid->viewport(), card),
                     index.data(ClipListModel::ClipRole).value<Clip>().url);
    }
    return text;
}

QString menuItems(const QMenu* menu) {
    QString text;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            text += line(QStringLiteral("action"), onScreen(menu, menu->actionGeometry(action)),
                         action->text());
    return text;
}

} // namespace

WidgetMap::WidgetMap(QWidget* window, QString path)
    : QObject(window)
    , m_window(window)
    , m_path(std::move(path)) {
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &WidgetMap::write);
    m_timer.start();
}

QString WidgetMap::describe() const {
    if (!m_window->isVisible())
        return {};
    QString text = line(QStringLiteral("window"), onScreen(m_window, m_window->rect()));
    for (const QWidget* widget : m_window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        if (const auto* menu = qobject_cast<const QMenu*>(widget))
            text += menuItems(menu);
        if (widget->objectName().isEmpty() || widget->objectName().startsWith(u"qt_"))
            continue;
        text += line(widget->objectName(), onScreen(widget, widget->rect()));
        if (const auto* slider = qobject_cast<const QSlider*>(widget))
            text += sliderParts(slider);
        else if (const auto* bar = qobject_cast<const TrimBar*>(widget))
            text += trimParts(bar);
        else if (const auto* grid = qobject_cast<const ClipGrid*>(widget))
            text += cards(grid);
    }
    return text;
}

void WidgetMap::write() {
    const QString text = describe();
    if (text == m_written)
        return;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text.toUtf8());
    if (file.commit())
        m_written = text;
}

} // namespace vantel
