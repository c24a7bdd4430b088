// The toast's content as drawn: size rules, badge colours, and the two ways of making the
// rounded corners (transparent pixels with a compositor, a window mask without one).

#include "ui/ToastView.h"

#include "ui/Theme.h"

#include <QImage>
#include <gtest/gtest.h>

namespace vantel {
namespace {

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

TEST(ToastView, SizesToItsContentFromTheMinimumWidthUpToTheTextLimit) {
    ToastView view;
    view.setContent("Clip saved", "Desktop · 0:30", true);
    EXPECT_EQ(view.width(), ToastView::kMinimumWidth);
    EXPECT_GE(view.height(), 26 + 22);
    EXPECT_LE(view.height(), 70);

    const QString longDetail = QStringLiteral("The clip folder /media/games/Clips/Minecraft is "
                                              "not writable by this user");
    view.setContent("Couldn't save the clip", longDetail, false);
    EXPECT_GT(view.width(), ToastView::kMinimumWidth);
    EXPECT_EQ(view.detail(), longDetail) << "the full text stays available";

    view.setContent("Couldn't save the clip", longDetail.repeated(4), false);
    EXPECT_LE(view.width(), 14 + 26 + 12 + ToastView::kMaximumTextWidth + 14 + 2);
}

TEST(ToastView, BadgeIsAccentForSuccessAndRedForAProblem) {
    ToastView view;
    view.setContent("Clip saved", "Desktop · 0:30", true);
    // The badge's left edge area, clear of the symbol.
    const QPoint badge(14 + 4, view.height() / 2);
    EXPECT_LT(distance(view.grab().toImage().pixelColor(badge), Theme::accent()), 30);
    view.setContent("Not recording", "Paused", false);
    const QColor red = view.grab().toImage().pixelColor(badge);
    EXPECT_GT(red.red(), 180);
    EXPECT_LT(red.green(), 90);
}

TEST(ToastView, CornersAreTransparentWhenCompositedAndMaskedOtherwise) {
    ToastView view;
    view.setContent("Vantel Record is on", "Alt+Shift+C saves a clip", true);
    view.setComposited(true);
    QImage image = view.grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_LT(image.pixelColor(view.width() / 2, view.height() - 4).alpha(), 255);
    EXPECT_GT(image.pixelColor(view.width() / 2, view.height() - 4).alpha(), 220);
    EXPECT_TRUE(view.mask().isEmpty());

    view.setComposited(false);
    EXPECT_FALSE(view.mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(view.mask().contains(QPoint(view.width() - 1, view.height() - 1)));
    EXPECT_TRUE(view.mask().contains(QPoint(view.width() / 2, view.height() / 2)));
    EXPECT_TRUE(view.mask().contains(QPoint(view.width() / 2, 0)));
    image = view.grab().toImage();
    EXPECT_EQ(image.pixelColor(view.width() / 2, view.height() - 4).alpha(), 255);
    EXPECT_LT(distance(image.pixelColor(view.width() / 2, view.height() - 4), Theme::bg()), 12);
}

} // namespace
} // namespace vantel
