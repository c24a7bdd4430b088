#pragma once

// The game and microphone volume sliders of the clip detail view, 0 to 150 % each, with the
// value beside each slider. Shown only for clips with a microphone track.
//
// Thread: main thread.

#include <QWidget>

class QLabel;
class QSlider;

namespace vantel {

class ClipVolumeRow : public QWidget {
    Q_OBJECT
public:
    explicit ClipVolumeRow(QWidget* parent = nullptr);

    // 1.0 is the level as recorded.
    double gameVolume() const;
    double micVolume() const;
    // Moves the sliders (whole percent), as a person would.
    void setVolumes(double game, double mic);

signals:
    void volumesChanged(double game, double mic);

private:
    QSlider* addSlider(const QString& label, const QString& name, QLabel*& value);
    void showValues();

    QSlider* m_gameSlider = nullptr;
    QSlider* m_micSlider = nullptr;
    QLabel* m_gameValue = nullptr;
    QLabel* m_micValue = nullptr;
};

} // namespace vantel
