#include "SettingBinding.h"

#include "ToggleSwitch.h"

namespace vantel::SettingBinding {

void select(QComboBox* combo, const QVariant& value, const QString& label) {
    int index = combo->findData(value);
    if (index < 0) {
        combo->addItem(label, value);
        index = combo->count() - 1;
    }
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(index);
}

void bindSwitch(ToggleSwitch* control, Settings& settings, const SettingField<bool>& field) {
    QObject::connect(control, &ToggleSwitch::clicked, control,
                     [&settings, field](bool on) { (settings.*field.set)(on); });
    follow(settings, field, control, [control](bool on) {
        const QSignalBlocker quiet(control);
        control->setChecked(on);
    });
}

} // namespace vantel::SettingBinding
