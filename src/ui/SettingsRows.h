#pragma once

// The pieces the settings window's form is made of: a section (a heading over a grouped panel),
// rows with a title on the left and a control on the right, dividers between rows, secondary
// text, and the pickers and switches, named so tests and the style sheet find them.
//
// Thread: main thread.

#include <QString>

class QComboBox;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace vantel {

class ToggleSwitch;

namespace SettingsRows {

inline constexpr int kRowHeight = 40;

// Appends a section titled `title` to `page` and returns the layout its rows go into.
QVBoxLayout* section(QVBoxLayout* page, const QString& title);

// A row of a group: its title on the left, its control on the right.
QWidget* labelledRow(const QString& title, QWidget* control);
// `content` with the row's padding.
QWidget* paddedRow(QWidget* content);
// Adds `row` to a group, with a divider before every row but the first.
void addRow(QVBoxLayout* group, QWidget* row);
// A divider line between rows.
QWidget* divider();

// Smaller, dimmer, wrapped text.
QLabel* secondaryText(const QString& text, QWidget* parent = nullptr);
// A picker of the one width every picker has, so their left edges line up.
QComboBox* picker(const QString& name);
ToggleSwitch* toggle(const QString& name);

} // namespace SettingsRows

} // namespace vantel
