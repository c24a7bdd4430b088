#pragma once

// The look of the settings window on top of the application's dark theme: grouped panels with
// dividers, section headings, secondary text and the shortcut button, by object name and the
// "role" property. Colours come from Theme.

#include <QColor>
#include <QFont>
#include <QString>

namespace vantel::SettingsStyle {

// The text of the window and its dialogs, and the smaller secondary text.
QFont bodyFont();
QFont secondaryFont();

// The track of a switch that is off.
QColor trackOff();

// The style sheet of the settings window and its dialogs.
QString styleSheet();

} // namespace vantel::SettingsStyle
