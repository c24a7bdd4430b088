#include "ClipVolumeRow.h"

#include "Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSlider>

namespace vantel {

ClipVolumeRow::ClipVolumeRow(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("volumeRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(28);
    m_gameSlider = addSlider(QStringLiteral("Game"), QStringLiteral("gameSlider"), m_gameValue);
    m_micSlider = addSlider(QStringLiteral("Mic"), QStringLiteral("micSlider"), m_micValue);
    row->addStretch(1);
    for (QSlider* slider : {m_gameSlider, m_micSlider})
        connect(slider, &QSlider::valueChanged, this, [this] {
            showValues();
            emit volumesChanged(gameVolume(), micVolume());
        });
}

QSlider* ClipVolumeRow::addSlider(const QString& label, const QString& name, QLabel*& value) {
    auto* pair = new QHBoxLayout;
    pair->setSpacing(8);
    auto* title = new QLabel(label);
    title->setFont(Theme::font(12));
    title->setProperty("muted", true);
    title->setFixedWidth(38);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(name);
    slider->setRange(0, 150);
    slider->setValue(100);
    slider->setFixedWidth(160);
    slider->setFocusPolicy(Qt::TabFocus);
    value = new QLabel(QStringLiteral("100%"));
    value->setFont(Theme::mono(12));
    value->setFixedWidth(40);
    pair->addWidget(title);
    pair->addWidget(slider);
    pair->addWidget(value);
    static_cast<QHBoxLayout*>(layout())->addLayout(pair);
    return slider;
}

double ClipVolumeRow::gameVolume() const {
    return m_gameSlider->value() / 100.0;
}

double ClipVolumeRow::micVolume() const {
    return m_micSlider->value() / 100.0;
}

void ClipVolumeRow::setVolumes(double game, double mic) {
    m_gameSlider->setValue(int(game * 100));
    m_micSlider->setValue(int(mic * 100));
}

void ClipVolumeRow::showValues() {
    m_gameValue->setText(QStringLiteral("%1%").arg(m_gameSlider->value()));
    m_micValue->setText(QStringLiteral("%1%").arg(m_micSlider->value()));
}

} // namespace vantel
