#include "SettingsStyle.h"

#include "Theme.h"

#include <utility>

namespace vantel::SettingsStyle {

QFont bodyFont() {
    return Theme::font(13);
}

QFont secondaryFont() {
    return Theme::font(11.5);
}

QColor trackOff() {
    return {52, 52, 58};
}

QString styleSheet() {
    QString sheet = QStringLiteral(R"(
QLabel#sectionHeader { color: @muted; font-size: 11px; font-weight: 600; padding: 0 0 2px 4px; }
QLabel[role="secondary"] { color: @muted; }
QLabel#path { font-size: 12px; }
QFrame#group { background: @panel; border: 1px solid @line; border-radius: 10px; }
QFrame#divider { background: @line; border: none; max-height: 1px; min-height: 1px; }
QScrollArea#settingsScroll, QWidget#settingsContent { background: @bg; border: none; }
QPushButton { padding: 4px 12px; }
QPushButton#hotkey { background: @bg; min-width: 130px; }
QPushButton#hotkey[listening="true"] { border-color: @accent; color: @accent; }
QComboBox { padding: 3px 10px; }
QListView#apps { background: @bg; border: 1px solid @line; border-radius: 8px; padding: 4px; }
QListView#apps::item { padding: 4px 6px; border-radius: 6px; }
QListView#apps::item:selected { background: @selected; color: @ink; }
QPushButton#sharedClips { background: transparent; border: none; color: @accent;
    padding: 2px 6px; }
QPushButton#sharedClips:hover { text-decoration: underline; }
)");
    const std::pair<const char*, QString> names[] = {
        {"@selected", Theme::css(QColor(46, 58, 18))},
        {"@accent", Theme::css(Theme::accent())},
        {"@panel", Theme::css(Theme::panel())},
        {"@muted", Theme::css(Theme::muted())},
        {"@line", Theme::css(Theme::line())},
        {"@ink", Theme::css(Theme::ink())},
        {"@bg", Theme::css(Theme::bg())},
    };
    for (const auto& [name, value] : names)
        sheet.replace(QLatin1String(name), value);
    return sheet;
}

} // namespace vantel::SettingsStyle
