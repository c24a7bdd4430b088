#pragma once

// Controls bound to options of the settings store through the store's table (setting::…):
// a bound control shows the option now, follows every change to it for as long as the control
// lives, and sets the option when the user changes the control. Showing a value never counts as
// the user's change (the control's signals are blocked meanwhile).
//
// Thread: main thread.

#include "settings/Settings.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QString>
#include <QVariant>

namespace vantel {

class ToggleSwitch;

namespace SettingBinding {

// Calls `show` with the option's value now and after every change, while `control` lives.
template <typename T, typename Show>
void follow(Settings& settings, const SettingField<T>& field, QObject* control, Show show) {
    show((settings.*field.get)());
    QObject::connect(&settings, field.changed, control, [show](T value) { show(value); });
}

// Shows `value` in `combo`; a stored value the list does not offer is added with `label`, so
// the picker never lies.
void select(QComboBox* combo, const QVariant& value, const QString& label);

// A switch: shows the option; a click sets it.
void bindSwitch(ToggleSwitch* control, Settings& settings, const SettingField<bool>& field);

// A picker offering `values`, each shown as `label(value)`: shows the option; a choice sets it.
template <typename T, typename Values, typename Label>
void bindPicker(QComboBox* combo, Settings& settings, const SettingField<T>& field,
                const Values& values, Label label) {
    for (T value : values)
        combo->addItem(label(value), static_cast<int>(value));
    QObject::connect(combo, &QComboBox::activated, combo, [combo, &settings, field](int index) {
        (settings.*field.set)(static_cast<T>(combo->itemData(index).toInt()));
    });
    follow(settings, field, combo,
           [combo, label](T value) { select(combo, static_cast<int>(value), label(value)); });
}

} // namespace SettingBinding

} // namespace vantel
