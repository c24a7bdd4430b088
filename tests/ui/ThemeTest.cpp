// The shared look: clock texts, the primary button as drawn, the dark window background and the
// monospaced font as resolved on this machine. Leaves build/screenshots/theme-sample.png.

#include "ui/Theme.h"

#include "common/Screenshots.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace vantel {
namespace {

TEST(FmtDuration, RoundsHalvesAwayFromZeroAndSwitchesToHoursAtOneHour) {
    const std::pair<double, const char*> cases[] = {
        {0, "0:00"},         {0.49, "0:00"},      {0.5, "0:01"},       {59.5, "1:00"},
        {75.4, "1:15"},      {3599.4, "59:59"},   {3599.5, "1:00:00"}, {3600, "1:00:00"},
        {3725, "1:02:05"},   {36000, "10:00:00"}, {-0.4, "0:00"},      {-5, "-0:05"},
        {-3725, "-1:02:05"}, {-0.5, "-0:01"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(fmtDuration(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(FmtDuration, ValuesWithoutAClockTextAreMarked) {
    EXPECT_EQ(fmtDuration(std::numeric_limits<double>::quiet_NaN()), "--:--");
    EXPECT_EQ(fmtDuration(std::numeric_limits<double>::infinity()), "--:--");
    EXPECT_EQ(fmtDuration(-std::numeric_limits<double>::infinity()), "--:--");
    EXPECT_EQ(fmtDuration(1e300), "--:--");
}

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

QColor over(const QColor& top, qreal alpha, const QColor& below) {
    auto mix = [&](int t, int b) {
        return int(std::lround(t * alpha + b * (1 - alpha)));
    };
    return QColor(mix(top.red(), below.red()), mix(top.green(), below.green()),
                  mix(top.blue(), below.blue()));
}

struct AccentWindow {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("Start"), &window);
    AccentWindow() {
        Theme::styleWindow(&window);
        Accent::apply(button);
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(button);
        window.resize(200, 80);
        window.show();
    }
    // A point inside the button, clear of the label and the rounded corners.
    QColor fill() {
        const QImage image = window.grab().toImage();
        const QPoint p = button->geometry().topLeft() + QPoint(5, button->height() / 2);
        return image.pixelColor(p);
    }
    bool labelIsBlack() {
        const QImage image = window.grab(button->geometry()).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (distance(image.pixelColor(x, y), Qt::black) < 60)
                    return true;
        return false;
    }
};

TEST(Accent, PrimaryButtonIsAccentWithABlackLabelAndDimsWhilePressed) {
    AccentWindow w;
    EXPECT_TRUE(w.button->property(Accent::property).toBool());
    EXPECT_LT(distance(w.fill(), Theme::accent()), 12) << w.fill().name().toStdString();
    EXPECT_TRUE(w.labelIsBlack());
    EXPECT_EQ(QFontInfo(w.button->font()).weight(), QFont::DemiBold);

    w.button->setDown(true);
    const QColor pressed = over(Theme::accent(), 0.75, Theme::bg());
    EXPECT_LT(distance(w.fill(), pressed), 12) << w.fill().name().toStdString();
}

TEST(Theme, StyledWindowIsDarkAndTheSampleLooksFinished) {
    QWidget window;
    Theme::styleWindow(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("Vantel Record"));
    title->setFont(Theme::font(22, QFont::Bold));
    auto* note = new QLabel(QStringLiteral("Secondary text in the muted colour"));
    note->setProperty("muted", true);
    auto* length = new QLabel(fmtDuration(3725));
    length->setFont(Theme::mono(12));
    auto* field = new QLineEdit(QStringLiteral("Minecraft 2026-12-07 01-30-00"));
    auto* combo = new QComboBox;
    combo->addItems({QStringLiteral("High"), QStringLiteral("Medium")});
    auto* check = new QCheckBox(QStringLiteral("Open Vantel Record when I log in"));
    check->setChecked(true);
    auto* unchecked = new QCheckBox(QStringLiteral("Record the microphone"));
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setValue(60);
    auto* progress = new QProgressBar;
    progress->setValue(40);
    auto* buttons = new QHBoxLayout;
    auto* later = new QPushButton(QStringLiteral("Cancel"));
    auto* start = new QPushButton(QStringLiteral("Start"));
    Accent::apply(start);
    buttons->addStretch();
    buttons->addWidget(later);
    buttons->addWidget(start);
    for (QWidget* w :
         {static_cast<QWidget*>(title), static_cast<QWidget*>(note), static_cast<QWidget*>(length),
          static_cast<QWidget*>(field), static_cast<QWidget*>(combo), static_cast<QWidget*>(check),
          static_cast<QWidget*>(unchecked), static_cast<QWidget*>(slider),
          static_cast<QWidget*>(progress)})
        layout->addWidget(w);
    layout->addLayout(buttons);
    window.resize(420, 410);
    window.show();

    const QImage shot = test::saveWidgetShot(&window, QStringLiteral("theme-sample"));
    EXPECT_EQ(shot.pixelColor(2, 2), Theme::bg());
    EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() - 3), Theme::bg());
    EXPECT_LT(
        distance(shot.pixelColor(field->geometry().center() + QPoint(field->width() / 2 - 6, 0)),
                 Theme::panel()),
        12);
}

TEST(Theme, MenusMatchTheWindows) {
    QWidget window;
    Theme::styleWindow(&window);
    QMenu menu;
    menu.addAction(QStringLiteral("Recording Desktop"))->setEnabled(false);
    menu.addAction(QStringLiteral("30 s ready · 1080p 60 fps"))->setEnabled(false);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Save Clip  Alt+Shift+C"));
    menu.addMenu(QStringLiteral("Save Last"))->addAction(QStringLiteral("10 seconds"));
    menu.addAction(QStringLiteral("Pause Recording"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("Quit Vantel Record"));
    menu.popup(QPoint(0, 0));
    const QImage shot = test::saveWidgetShot(&menu, QStringLiteral("theme-menu"));
    const QColor middle = shot.pixelColor(shot.width() / 2, shot.height() - 3);
    EXPECT_LT(distance(middle, Theme::panel()), 12) << middle.name().toStdString();
    menu.hide();
}

TEST(Theme, MonoFontIsFixedPitchAtTheAskedSize) {
    const QFontInfo info(Theme::mono(12));
    EXPECT_TRUE(info.fixedPitch()) << info.family().toStdString();
    EXPECT_NEAR(info.pixelSize(), 12, 1);
    EXPECT_NEAR(QFontInfo(Theme::font(13)).pixelSize(), 13, 1);
}

} // namespace
} // namespace vantel
