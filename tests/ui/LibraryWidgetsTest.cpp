// The pieces of the library window on their own: the trim bar's handles and times, the grid
// model's small updates, the card picture queue, the grid's columns, and the date texts.

#include "LibraryTestSupport.h"
#include "ui/ClipGrid.h"
#include "ui/ClipListModel.h"
#include "ui/RelativeDate.h"
#include "ui/ThumbnailCache.h"
#include "ui/TrimBar.h"

#include <QPushButton>
#include <QSignalSpy>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace vantel {
namespace {

using test::eventually;

TEST(TrimBar, HandlesKeepOrderAndMinimumLengthAndReportTheFrameTime) {
    TrimPanel panel;
    TrimBar* bar = panel.bar();
    bar->resize(424, 44);
    bar->setDuration(20.0);
    EXPECT_DOUBLE_EQ(bar->in(), 0.0);
    EXPECT_DOUBLE_EQ(bar->out(), 20.0);
    bar->setRange(15.0, 5.0); // crossed: the out handle wins, the in handle keeps its distance
    EXPECT_DOUBLE_EQ(bar->out(), 5.0);
    EXPECT_DOUBLE_EQ(bar->in(), 5.0 - TrimBar::kMinLength);
    bar->setRange(-3.0, 99.0);
    EXPECT_DOUBLE_EQ(bar->in(), 0.0);
    EXPECT_DOUBLE_EQ(bar->out(), 20.0);

    QSignalSpy dragged(bar, &TrimBar::handleDragged);
    const int y = bar->height() / 2;
    // Grab the in handle just left of its time and drag it to 5 s.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->xOf(0.0) - 6, y));
    QTest::mouseMove(bar, QPoint(bar->xOf(5.0) - 6, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->xOf(5.0) - 6, y));
    EXPECT_NEAR(bar->in(), 5.0, 0.1);
    ASSERT_FALSE(dragged.isEmpty());
    EXPECT_NEAR(dragged.last().at(0).toDouble(), bar->in(), 1e-9);
    // The out handle cannot pass the in handle.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->xOf(20.0) + 6, y));
    QTest::mouseMove(bar, QPoint(bar->xOf(1.0), y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->xOf(1.0), y));
    EXPECT_NEAR(bar->out(), bar->in() + TrimBar::kMinLength, 1e-9);

    bar->setRange(3.25, 11.0);
    EXPECT_EQ(panel.timesText(), "In 0:03.3    Out 0:11.0    Length 0:07.8");
    QSignalSpy confirmed(&panel, &TrimPanel::confirmed);
    panel.confirmButton()->click();
    ASSERT_EQ(confirmed.size(), 1);
    EXPECT_DOUBLE_EQ(confirmed[0][0].toDouble(), 3.25);
    EXPECT_DOUBLE_EQ(confirmed[0][1].toDouble(), 11.0);
}

TEST(TrimBar, AClipShorterThanTheMinimumKeepsItsWholeLength) {
    TrimBar bar;
    bar.setDuration(0.3);
    bar.setRange(0.2, 0.25);
    EXPECT_DOUBLE_EQ(bar.in(), 0.0);
    EXPECT_DOUBLE_EQ(bar.out(), 0.3);
    EXPECT_EQ(fmtPrecise(3725.04), "1:02:05.0");
}

Clip clipAt(const QString& name, const QString& title = {}) {
    Clip clip;
    clip.url = QStringLiteral("/clips/") + name;
    clip.meta.title = title.isEmpty() ? name : title;
    clip.meta.game = QStringLiteral("Game");
    return clip;
}

TEST(ClipListModel, NewRemovedAndRetitledClipsAreSmallChangesNotAReset) {
    ClipListModel model(nullptr);
    model.setClips({clipAt("b"), clipAt("c"), clipAt("d")});
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.setClips({clipAt("a"), clipAt("b"), clipAt("c"), clipAt("d")}); // a new clip
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 0);
    model.setClips({clipAt("a"), clipAt("b"), clipAt("d")}); // c deleted
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 2);
    model.setClips({clipAt("a"), clipAt("b", "Ace"), clipAt("d")}); // b retitled
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
    EXPECT_EQ(model.index(1).data().toString(), "Ace");
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(model.rowOf("/clips/d"), 2);
    EXPECT_EQ(model.rowOf("/clips/c"), -1);

    model.setClips({clipAt("x"), clipAt("y")}); // everything new
    QStringList titles;
    for (const Clip& clip : model.clips())
        titles.append(clip.meta.title);
    EXPECT_EQ(titles, (QStringList{"x", "y"}));
}

// Another folder of many thousand clips arrives a part per turn of the event loop, and a list
// published meanwhile is the one the model ends with.
TEST(ClipListModel, AVeryLongNewListArrivesInPartsAndEndsRight) {
    ClipListModel model(nullptr);
    model.setClips({clipAt("old")});
    QList<Clip> many;
    for (int i = 0; i < 3 * ClipListModel::kRowsPerTurn + 5; ++i)
        many.append(clipAt(QStringLiteral("c%1").arg(i)));
    model.setClips(many);
    EXPECT_EQ(model.rowCount(), ClipListModel::kRowsPerTurn) << "the first part at once";
    EXPECT_EQ(model.rowOf("/clips/old"), -1);
    QCoreApplication::processEvents();
    EXPECT_LT(model.rowCount(), many.size());
    many[7].meta.title = QStringLiteral("Renamed meanwhile");
    many.removeAt(3);
    model.setClips(many);
    ASSERT_TRUE(eventually([&] { return model.rowCount() == many.size(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(model.rowCount(), many.size());
    EXPECT_EQ(model.index(6).data().toString(), "Renamed meanwhile");
    EXPECT_EQ(model.rowOf("/clips/c3"), -1);
    EXPECT_EQ(model.rowOf(many.last().url), many.size() - 1);
    for (qsizetype row = 0; row < many.size(); row += 997)
        ASSERT_EQ(model.clips()[row].url, many[row].url);
}

// Picture loads that each wait until the test lets them finish.
class GatedLoads {
public:
    std::optional<QImage> load(const Clip& clip) {
        std::unique_lock lock(m_mutex);
        m_started.append(clip.meta.title);
        m_changed.wait(lock, [&] { return m_open.contains(clip.meta.title); });
        if (clip.meta.title == "bad")
            return std::nullopt;
        QImage image(640, 360, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    }
    void open(const QString& title) {
        {
            std::lock_guard lock(m_mutex);
            m_open.insert(title);
        }
        m_changed.notify_all();
    }
    QStringList started() {
        std::lock_guard lock(m_mutex);
        return m_started;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_started;
    QSet<QString> m_open;
};

TEST(ThumbnailCache, MakesTheNewestRequestsFirstTwoAtATimeAsFinishedCardPictures) {
    GatedLoads loads;
    {
        ThumbnailCache cache([&](const Clip& clip) { return loads.load(clip); });
        cache.setShape({QSize(200, 112), 9, 2});
        cache.setParallel(2);
        QSignalSpy ready(&cache, &ThumbnailCache::ready);
        for (const char* name : {"1", "2", "3", "4", "bad"})
            EXPECT_TRUE(cache.picture(clipAt(name)).isNull());
        ASSERT_TRUE(eventually([&] { return loads.started().size() == 2; }));
        QStringList first = loads.started();
        first.sort();
        EXPECT_EQ(first, (QStringList{"1", "2"}));
        EXPECT_EQ(cache.loading(), 2);
        loads.open("1");
        ASSERT_TRUE(eventually([&] { return loads.started().size() == 3; }));
        EXPECT_EQ(loads.started().last(), "bad"); // the newest waiting request goes next
        for (const char* name : {"2", "3", "4", "bad"})
            loads.open(name);
        ASSERT_TRUE(eventually([&] { return cache.loading() == 0 && cache.queued() == 0; }));
        EXPECT_EQ(ready.size(), 4);
        const QImage one = cache.picture(clipAt("1"));
        EXPECT_EQ(one.size(), QSize(400, 224)); // in device pixels of the shape
        EXPECT_EQ(one.devicePixelRatio(), 2.0);
        EXPECT_EQ(qAlpha(one.pixel(0, 0)), 0) << "rounded corner";
        EXPECT_EQ(one.pixelColor(200, 112), QColor(Qt::red));
        EXPECT_TRUE(cache.picture(clipAt("bad")).isNull());
        EXPECT_EQ(loads.started().size(), 5); // neither the cached nor the failed one again

        // Another card size: the old picture is handed out while one of the new size is made.
        cache.setShape({QSize(300, 168), 9, 1});
        EXPECT_EQ(cache.picture(clipAt("1")).size(), QSize(400, 224));
        EXPECT_TRUE(
            eventually([&] { return cache.picture(clipAt("1")).size() == QSize(300, 168); }));
    }
    ThumbnailCache::pool().waitForDone();
}

TEST(ClipGrid, ColumnsStayBetweenTheSmallestAndLargestCard) {
    for (int width : {300, 500, 655, 835, 1300, 2500}) {
        const auto [columns, card] = ClipGrid::columnsFor(width);
        EXPECT_GE(card, ClipGrid::kMinCard) << width;
        EXPECT_LE(card, ClipGrid::kMaxCard) << width;
        EXPECT_LE(columns * (card + 16), std::max(width, ClipGrid::kMinCard + 16)) << width;
    }
    EXPECT_EQ(ClipGrid::columnsFor(655).first, 2);
    EXPECT_EQ(ClipGrid::columnsFor(835).first, 3);
}

TEST(RelativeDate, WordsForEachSpanAndTheFuture) {
    const QDateTime now = QDateTime(QDate(2025, 3, 1), QTime(14, 0), Qt::UTC);
    const std::pair<qint64, const char*> cases[] = {
        {3, "just now"},
        {45, "45 seconds ago"},
        {60, "1 minute ago"},
        {7200, "2 hours ago"},
        {86400, "1 day ago"},
        {86400 * 13, "1 week ago"},
        {86400 * 40, "1 month ago"},
        {86400 * 800, "2 years ago"},
        {-7200, "in 2 hours"},
    };
    for (const auto& [ago, text] : cases)
        EXPECT_EQ(relativeDate(now.addSecs(-ago), now), QString::fromUtf8(text)) << ago;
}

TEST(RelativeDate, AbbreviatedDatesFollowTheLocale) {
    const QDateTime when = QDateTime(QDate(2025, 3, 1), QTime(14, 5, 9)).toUTC();
    EXPECT_EQ(shortDateTime(when, QLocale(QLocale::English, QLocale::UnitedKingdom)),
              "1 Mar 2025, 14:05");
    EXPECT_EQ(shortDateTime(when, QLocale(QLocale::English, QLocale::UnitedStates)),
              "Mar 1, 2025, 2:05 PM");
    EXPECT_EQ(shortDateTime(when, QLocale(QLocale::German, QLocale::Germany)),
              "1. März 2025, 14:05");
}

} // namespace
} // namespace vantel
