// The library window in process: the empty state, filtering, the detail view's rows and action
// row forms, renaming, sharing while busy, links published by the library, and deleting.
// The player is not shown (no display here); what it plays is covered end to end.

#include "ui/LibraryWindow.h"

#include "LibraryTestSupport.h"
#include "common/Screenshots.h"
#include "common/Shell.h"
#include "settings/Settings.h"
#include "ui/ClipCardDelegate.h"
#include "ui/ClipDetail.h"
#include "ui/ClipGrid.h"
#include "ui/GameSidebar.h"
#include "ui/PlayerView.h"
#include "ui/StatusFooter.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::eventually;
using test::FakeShareService;
using test::TestLibrary;

struct Toasted {
    QString title;
    QString detail;
    bool ok;
};

class LibraryWindowTest : public ::testing::Test {
protected:
    TestLibrary lib{QStringLiteral("window")};
    FakeShareService sharing{*lib.library};
    QList<Toasted> toasts;
    QStringList revealed;
    std::unique_ptr<LibraryWindow> window;

    void open() {
        LibraryWindow::Services services{Settings::shared(), *lib.library};
        services.sharing = &sharing;
        services.toast = [this](const QString& t, const QString& d, bool ok) {
            toasts.append({t, d, ok});
        };
        services.reveal = [this](const QString& path) {
            revealed.append(path);
        };
        window = std::make_unique<LibraryWindow>(services);
    }

    void TearDown() override {
        window.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    ClipDetail* openClip(const Clip& clip) {
        window->select(clip);
        return window->detail();
    }

    template <typename W> W* part(const char* name) const {
        return window->findChild<W*>(QString::fromLatin1(name));
    }

    QStringList sidebarRows() const {
        QStringList rows;
        GameListModel* model = window->sidebar()->rows();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row);
            rows.append(QStringLiteral("%1 %2%3")
                            .arg(index.data().toString())
                            .arg(index.data(GameListModel::CountRole).toInt())
                            .arg(index.data(GameListModel::HighlightRole).toBool() ? "*" : ""));
        }
        return rows;
    }
};

TEST_F(LibraryWindowTest, EmptyLibraryShowsTheShortcutAndTheCurrentBufferLength) {
    Settings::shared().setBufferSeconds(45);
    open();
    const QString shortcut = Settings::shared().saveHotkey().display();
    EXPECT_EQ(window->showing(), "empty");
    EXPECT_EQ(part<QLabel>("emptyHeading")->text(), "No clips yet");
    EXPECT_EQ(window->emptyText(),
              "Press " + shortcut + " while you play to save the last 45 seconds.");
    Settings::shared().setBufferSeconds(90);
    EXPECT_EQ(window->emptyText(),
              "Press " + shortcut + " while you play to save the last 90 seconds.");
    EXPECT_EQ(window->footer()->hintText(), shortcut + " saves a clip");
    EXPECT_EQ(sidebarRows(), QStringList{"All clips 0*"});
}

TEST_F(LibraryWindowTest, SidebarCountsGamesInCodePointOrderAndFiltersTheGrid) {
    lib.add("alpha", "a1", false, 5);
    lib.add("Zed", "z1", false, 4);
    lib.add("Zed", "z2", false, 3);
    lib.add("Éclair", "e1", false, 2);
    ASSERT_TRUE(lib.published(4));
    open();
    EXPECT_EQ(window->showing(), "grid");
    EXPECT_EQ(sidebarRows(), (QStringList{"All clips 4*", "Zed 2", "alpha 1", "Éclair 1"}));
    window->chooseGame(QStringLiteral("Zed"));
    EXPECT_EQ(sidebarRows(), (QStringList{"All clips 4", "Zed 2*", "alpha 1", "Éclair 1"}));
    QStringList titles;
    for (const Clip& clip : window->shown())
        titles.append(clip.meta.title);
    EXPECT_EQ(titles, (QStringList{"z2", "z1"})); // newest first
    EXPECT_EQ(window->grid()->model()->rowCount(), 2);
}

TEST_F(LibraryWindowTest, ChoosingAGameWhileAClipIsOpenReturnsToTheFilteredGrid) {
    const Clip a = lib.add("Minecraft", "m1");
    lib.add("Roblox", "r1");
    ASSERT_TRUE(lib.published(2));
    open();
    ASSERT_NE(openClip(a), nullptr);
    EXPECT_EQ(window->showing(), "detail");
    // The sidebar row is clicked like a player would.
    QListView* list = window->sidebar()->list();
    list->resize(200, 200);
    const QModelIndex roblox = window->sidebar()->rows()->index(2);
    ASSERT_EQ(roblox.data().toString(), "Roblox");
    emit list->clicked(roblox);
    EXPECT_EQ(window->showing(), "grid");
    EXPECT_EQ(window->detail(), nullptr);
    EXPECT_FALSE(window->selected().has_value());
    ASSERT_EQ(window->shown().size(), 1);
    EXPECT_EQ(window->shown()[0].meta.title, "r1");
}

TEST_F(LibraryWindowTest, VolumeRowOnlyForClipsWithAMicrophoneTrack) {
    const Clip plain = lib.add("Game", "plain", false);
    const Clip withMic = lib.add("Game", "mic", true);
    ASSERT_TRUE(lib.published(2));
    open();
    openClip(plain);
    EXPECT_FALSE(part<QWidget>("volumeRow")->isVisibleTo(window->detail()));
    EXPECT_EQ(part<QWidget>("gameSlider")->isVisibleTo(window->detail()), false);
    window->back();
    ClipDetail* detail = openClip(withMic);
    EXPECT_TRUE(part<QWidget>("volumeRow")->isVisibleTo(detail));
    detail->setVolumes(1.5, 0.0);
    EXPECT_DOUBLE_EQ(detail->gameVolume(), 1.5);
    EXPECT_DOUBLE_EQ(detail->micVolume(), 0.0);
}

TEST_F(LibraryWindowTest, ActionRowFollowsSignInTrimAndSharing) {
    const Clip clip = lib.add("Game", "clip");
    ASSERT_TRUE(lib.published(1));
    open();
    ClipDetail* detail = openClip(clip);
    auto* signIn = part<QPushButton>("signInButton");
    ASSERT_NE(signIn, nullptr);
    EXPECT_EQ(signIn->text(), "Sign in with Discord to share");
    signIn->click();
    EXPECT_EQ(sharing.signIns, 1);
    auto* share = part<QPushButton>("shareButton");
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->text(), "Get a link");
    detail->setTrim(media::TimeRange{2.0, 7.5});
    EXPECT_EQ(part<QPushButton>("shareButton")->text(), "Get a link to the trimmed part");
    EXPECT_EQ(part<QPushButton>("saveTrimButton")->text(), "Save trimmed copy (0:06)");

    // Busy while the share runs: disabled button, stage text and progress.
    detail->setVolumes(0.5, 1.25);
    part<QPushButton>("shareButton")->click();
    EXPECT_FALSE(part<QPushButton>("shareButton")->isEnabled());
    EXPECT_EQ(detail->busy(), std::optional<QString>("Uploading"));
    EXPECT_TRUE(part<QWidget>("busyRow")->isVisibleTo(detail));
    EXPECT_EQ(window->findChild<QProgressBar*>()->value(), 500);
    ASSERT_TRUE(sharing.lastOptions.range.has_value());
    EXPECT_DOUBLE_EQ(sharing.lastOptions.range->start, 2.0);
    EXPECT_FLOAT_EQ(sharing.lastOptions.gameVolume, 0.5f);
    EXPECT_FLOAT_EQ(sharing.lastOptions.micVolume, 1.25f);
    part<QPushButton>("shareButton")->click(); // ignored while busy
    EXPECT_EQ(sharing.shares, 1);

    // The link lands in the library; the same detail view switches its row.
    sharing.finishShare(QStringLiteral("https://clips.example/c/1"));
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("copyLinkButton") != nullptr; }));
    EXPECT_EQ(window->detail(), detail);
    EXPECT_FALSE(detail->busy().has_value());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://clips.example/c/1");
    ASSERT_FALSE(toasts.isEmpty());
    EXPECT_EQ(toasts.last().title, "Link copied");
    EXPECT_EQ(toasts.last().detail, "https://clips.example/c/1");
    EXPECT_NE(part<QPushButton>("openButton"), nullptr);
    EXPECT_NE(part<QPushButton>("stopSharingButton"), nullptr);
    EXPECT_EQ(part<QPushButton>("shareButton"), nullptr);
    // Stopping the share brings the share button back once the library says so.
    part<QPushButton>("stopSharingButton")->click();
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("shareButton") != nullptr; }));
}

TEST_F(LibraryWindowTest, AFailedShareShowsTheErrorAndFreesTheButton) {
    const Clip clip = lib.add("Game", "clip");
    ASSERT_TRUE(lib.published(1));
    sharing.setSignedIn(true);
    open();
    ClipDetail* detail = openClip(clip);
    part<QPushButton>("shareButton")->click();
    sharing.failShare(QStringLiteral("The clip is too large."));
    ASSERT_TRUE(eventually([&] { return detail->error().has_value(); }));
    EXPECT_EQ(*detail->error(), "The clip is too large.");
    EXPECT_TRUE(part<QLabel>("errorText")->isVisibleTo(detail));
    EXPECT_FALSE(detail->busy().has_value());
    EXPECT_TRUE(part<QPushButton>("shareButton")->isEnabled());
}

TEST_F(LibraryWindowTest, RenameTrimsBlanksIgnoresEmptyTitlesAndTellsTheService) {
    const Clip local = lib.add("Game", "local", false, 1);
    const Clip shared = lib.add("Game", "shared", false, 2, QStringLiteral("https://x/1"));
    ASSERT_TRUE(lib.published(2));
    open();
    openClip(local);
    auto* field = part<QLineEdit>("titleField");
    field->setText(QStringLiteral(" \t "));
    emit field->returnPressed();
    field->setText(QStringLiteral("  Clutch\tround \t"));
    emit field->returnPressed();
    ASSERT_TRUE(eventually([&] {
        const auto clips = lib.library->clips();
        return !clips.isEmpty() && clips[0].meta.title == "Clutch\tround";
    }));
    EXPECT_EQ(field->text(), "Clutch\tround");
    EXPECT_TRUE(sharing.sentTitles.isEmpty());

    window->back();
    openClip(shared);
    field = part<QLineEdit>("titleField");
    field->setText(QStringLiteral("Ace "));
    emit field->returnPressed();
    ASSERT_EQ(sharing.sentTitles.size(), 1);
    EXPECT_EQ(sharing.sentTitles[0].first, "id-shared");
    EXPECT_EQ(sharing.sentTitles[0].second, "Ace");
    ASSERT_TRUE(eventually([&] { return window->detail()->clip().meta.title == "Ace"; }));
}

TEST_F(LibraryWindowTest, MovingTheOpenClipToTheTrashReturnsToTheGridWithoutIt) {
    const Clip keep = lib.add("Game", "keep", false, 2);
    const Clip gone = lib.add("Game", "gone", false, 1);
    ASSERT_TRUE(lib.published(2));
    open();
    openClip(gone);
    part<QToolButton>("trashButton")->click();
    ASSERT_TRUE(eventually([&] { return window->showing() == "grid"; }));
    ASSERT_TRUE(lib.published(1));
    ASSERT_EQ(window->shown().size(), 1);
    EXPECT_EQ(window->shown()[0].url, keep.url);
    EXPECT_FALSE(QFile::exists(gone.url));
    const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/gone.mp4";
    EXPECT_TRUE(QFile::exists(trashed)) << trashed.toStdString();
}

TEST_F(LibraryWindowTest, AFailedTrashMoveKeepsTheClipOpenAndSaysWhy) {
    const Clip clip = lib.add("Game", "kept", false, 1);
    ASSERT_TRUE(lib.published(1));
    open();
    QPointer<ClipDetail> detail = openClip(clip);
    // No Trash can be made: a file holds its place.
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    const QString aside = trash + ".aside";
    QDir(aside).removeRecursively();
    QFile::rename(trash, aside);
    test::writeFile(trash.toStdString(), "not a folder");
    part<QToolButton>("trashButton")->click();
    const bool told = eventually([&] { return !detail || detail->error().has_value(); });
    QFile::remove(trash);
    QFile::rename(aside, trash);
    ASSERT_TRUE(told);
    ASSERT_TRUE(detail) << "the view went back to the grid as if the clip were gone";
    EXPECT_TRUE(detail->error()->contains("kept.mp4")) << detail->error()->toStdString();
    EXPECT_EQ(window->showing(), "detail");
    EXPECT_TRUE(QFile::exists(clip.url));
    lib.library->reload();
    test::settle(*lib.library);
    ASSERT_EQ(lib.library->clips().size(), 1);
    EXPECT_EQ(lib.library->clips()[0].meta.title, "kept") << "the entry stays";
}

TEST_F(LibraryWindowTest, AFailedStopSharingKeepsTheLinkAndSaysWhy) {
    const Clip clip = lib.add("Game", "shared", false, 1, QStringLiteral("https://x/c/1"));
    ASSERT_TRUE(lib.published(1));
    sharing.setSignedIn(true);
    sharing.unshareFailure = QStringLiteral("The sharing service is down for maintenance.");
    open();
    ClipDetail* detail = openClip(clip);
    part<QPushButton>("stopSharingButton")->click();
    ASSERT_TRUE(eventually([&] { return detail->error().has_value(); }));
    EXPECT_EQ(*detail->error(),
              "Couldn't stop sharing: The sharing service is down for maintenance.");
    EXPECT_TRUE(part<QLabel>("errorText")->isVisibleTo(detail));
    ASSERT_NE(part<QPushButton>("stopSharingButton"), nullptr);
    EXPECT_TRUE(part<QPushButton>("stopSharingButton")->isEnabled()) << "it can be tried again";
    test::settle(*lib.library);
    EXPECT_EQ(lib.library->clips()[0].meta.shareURL, QString("https://x/c/1"));
}

// A copied-in clip shows its real length once read; files that no player can open say so on
// their cards and in the detail view, which offers only Show in Folder and Move to Trash.
TEST_F(LibraryWindowTest, FilesThatCannotBePlayedSaySoOnTheCardAndInTheDetail) {
    const QString copied = lib.places.folder + "/Game/copied.mp4";
    QDir().mkpath(lib.places.folder + "/Game");
    test::run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x180:rate=30:duration=4 "
              "-c:v libx264 -preset veryfast -pix_fmt yuv420p -movflags +faststart '" +
              copied.toStdString() + "'");
    const QByteArray whole = test::readAll(copied);
    ASSERT_GT(whole.size(), 1000);
    const QString cut = lib.places.clip("Game/cut.mp4", whole.left(whole.size() / 2));
    lib.places.clip("Game/empty.mp4");
    lib.library->reload();
    open();
    window->resize(1080, 700);
    window->show();
    auto rowOf = [&](const QString& url) {
        const QList<Clip> shown = window->shown();
        for (qsizetype row = 0; row < shown.size(); ++row)
            if (shown[row].url == url)
                return shown[row];
        return Clip{};
    };
    ASSERT_TRUE(eventually(
        [&] {
            return rowOf(copied).playback == Playback::playable &&
                   rowOf(cut).playback == Playback::unplayable;
        },
        30000));
    EXPECT_NEAR(rowOf(copied).meta.duration, 4.0, 0.1);
    EXPECT_TRUE(eventually([&] { return window->thumbnails()->loading() == 0; }));
    test::saveWidgetShot(window.get(), "library-cant-be-played-grid");

    ClipDetail* detail = openClip(rowOf(cut));
    ASSERT_NE(detail, nullptr);
    EXPECT_TRUE(part<QWidget>("cantPlay")->isVisibleTo(detail));
    EXPECT_EQ(part<QLabel>("cantPlayHeading")->text(), ClipCardDelegate::cantPlayText());
    EXPECT_EQ(ClipCardDelegate::cantPlayText(), "Can't be played");
    EXPECT_FALSE(detail->playerView()->isVisibleTo(detail));
    EXPECT_FALSE(part<QPushButton>("trimButton")->isVisibleTo(detail));
    EXPECT_EQ(part<QPushButton>("signInButton"), nullptr);
    EXPECT_EQ(part<QPushButton>("shareButton"), nullptr);
    EXPECT_NE(part<QPushButton>("revealButton"), nullptr);
    EXPECT_NE(part<QToolButton>("trashButton"), nullptr);
    test::saveWidgetShot(window.get(), "library-cant-be-played-detail");
    part<QPushButton>("revealButton")->click();
    EXPECT_EQ(revealed, QStringList{cut});
    window->back();

    ClipDetail* playable = openClip(rowOf(copied));
    EXPECT_FALSE(part<QWidget>("cantPlay")->isVisibleTo(playable));
    EXPECT_TRUE(playable->playerView()->isVisibleTo(playable));
    EXPECT_NE(part<QPushButton>("signInButton"), nullptr);
}

TEST_F(LibraryWindowTest, DeletingTheLastClipOfTheChosenGameKeepsTheFilterAndShowsEmpty) {
    lib.add("Minecraft", "m1");
    const Clip last = lib.add("Roblox", "r1");
    ASSERT_TRUE(lib.published(2));
    open();
    window->chooseGame(QStringLiteral("Roblox"));
    lib.library->deleteClip(last);
    ASSERT_TRUE(lib.published(1));
    EXPECT_EQ(window->game(), std::optional<QString>("Roblox"));
    EXPECT_EQ(sidebarRows(), (QStringList{"All clips 1", "Minecraft 1"}));
    EXPECT_EQ(window->showing(), "empty");
    EXPECT_EQ(part<QLabel>("emptyHeading")->text(), "No clips yet");
}

TEST_F(LibraryWindowTest, ASelectedClipThatLeavesTheLibraryShowsTheGridAndComesBack) {
    const Clip clip = lib.add("Game", "clip");
    lib.add("Game", "other", false, 3);
    ASSERT_TRUE(lib.published(2));
    open();
    openClip(clip);
    const QString aside = clip.url + QStringLiteral(".moved");
    ASSERT_TRUE(QFile::rename(clip.url, aside));
    lib.library->reload();
    ASSERT_TRUE(lib.published(1));
    EXPECT_EQ(window->showing(), "grid");
    EXPECT_TRUE(window->selected().has_value());
    ASSERT_TRUE(QFile::rename(aside, clip.url));
    lib.library->reload();
    ASSERT_TRUE(lib.published(2));
    EXPECT_EQ(window->showing(), "detail");
}

} // namespace
} // namespace vantel
