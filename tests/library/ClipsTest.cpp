#include "ClipsTestSupport.h"
#include "engine/RecordError.h"

#include <QImage>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::LibraryPlaces;

class ClipsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString dir = QString::fromStdString(test::testHome().string()) + "/fixtures";
        QDir().mkpath(dir);
        s_withMic = test::makeFragmented(dir + "/mic.mp4", 4, 2);
        s_silent = test::makeFragmented(dir + "/silent.mp4", 2, 0);
        ASSERT_TRUE(QFileInfo(s_withMic).size() > 0);
    }

    LibraryPlaces at{"clips"};
    Library library{at.places()};
    static inline QString s_withMic;
    static inline QString s_silent;
};

void expectExportFailed(const std::function<void()>& action, const char* text) {
    try {
        action();
        ADD_FAILURE() << "no error, expected " << text;
    } catch (const RecordError& error) {
        EXPECT_EQ(error.kind(), RecordError::Kind::exportFailed);
        EXPECT_STREQ(error.what(), text);
    }
}

TEST(ClipsSafe, ReplacesPathCharactersAndTrimsBlanks) {
    EXPECT_EQ(Clips::safe("A/B: C"), "A-B- C");
    EXPECT_EQ(Clips::safe("  A?B  "), "A-B");
    EXPECT_EQ(Clips::safe("Half: Life / 2"), "Half- Life - 2");
    EXPECT_EQ(Clips::safe("\t<x>|\"y\"*%\\\t"), "-x---y----");
    EXPECT_EQ(Clips::safe("keep\nline"), "keep\nline");
    for (const char* empty : {"", "   ", "\t", ".", ".."})
        EXPECT_EQ(Clips::safe(empty), "Game") << '"' << empty << '"';
    // A leading dot would hide the game's folder and clips from the library.
    EXPECT_EQ(Clips::safe("../x"), "-x");
    EXPECT_EQ(Clips::safe(" .hack//G.U. "), "hack--G.U.");
}

TEST_F(ClipsTest, SavesTheNewestSecondsAsAnIndexedClip) {
    const GameTarget game{"A/B: C", 42, std::nullopt};
    const Clip clip = Clips::saveClip(test::fakeBuffer(s_withMic, 1920, 1080), game, 2, library);

    const QFileInfo file(clip.url);
    EXPECT_EQ(file.dir().path(), at.folder + "/A-B- C");
    EXPECT_TRUE(file.fileName().startsWith(
        "A-B- C " + QDateTime::currentDateTime().toString("yyyy-MM-dd 'at' ")));
    EXPECT_TRUE(file.fileName().endsWith(".mp4"));
    EXPECT_EQ(clip.meta.title, "A/B: C clip");
    EXPECT_EQ(clip.meta.game, "A/B: C");
    EXPECT_EQ(clip.meta.width, 1920);
    EXPECT_EQ(clip.meta.height, 1080);
    EXPECT_TRUE(clip.meta.hasMic);
    EXPECT_NEAR(clip.meta.duration, 2.0, 1.0 / 30 + 1e-3);
    EXPECT_NEAR(test::videoLength(clip.url), 2.0, 1.0 / 30 + 1e-3);
    EXPECT_EQ(test::probe(clip.url, "stream=codec_type,codec_name"),
              "h264,video\naac,audio\naac,audio\n");
    // The last frame of the buffer is in the clip: the range ends at the snapshot's end.
    const QByteArray bytes = test::readAll(clip.url);
    EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat")) << "index at the front";
    EXPECT_EQ(test::indexObject(at.index())[library.key(clip.url)].toObject()["title"].toString(),
              "A/B: C clip");
    EXPECT_TRUE(test::leftoverSnapshots().isEmpty());
}

TEST_F(ClipsTest, SaveWithoutTargetOrMicTakesEverythingAndNamesFreely) {
    // Two saves within one second: the second takes " 2" before ".mp4". The clock may tick
    // during a save, so the names of the next seconds are taken in advance too.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int s = 0; s < 5; ++s)
        taken << at.clip("Desktop/Desktop " + now.addSecs(s).toString("yyyy-MM-dd 'at' HH.mm.ss") +
                             ".mp4",
                         "first");
    const Clip clip = Clips::saveClip(test::fakeBuffer(s_silent), std::nullopt, 100, library);
    EXPECT_TRUE(clip.url.endsWith(" 2.mp4")) << clip.url.toStdString();
    EXPECT_EQ(QFileInfo(clip.url).dir().dirName(), "Desktop");
    EXPECT_EQ(clip.meta.title, "Desktop clip");
    EXPECT_FALSE(clip.meta.hasMic);
    EXPECT_NEAR(clip.meta.duration, 2.0, 1.0 / 30 + 1e-3) << "more than buffered: all of it";
    for (const QString& path : taken)
        EXPECT_EQ(test::readAll(path), "first");
    EXPECT_TRUE(test::leftoverSnapshots().isEmpty());
}

TEST_F(ClipsTest, ClipOfAGameNamedWithALeadingDotIsListed) {
    const GameTarget game{".hack//G.U.", 42, std::nullopt};
    const Clip clip = Clips::saveClip(test::fakeBuffer(s_silent), game, 1, library);
    EXPECT_EQ(QFileInfo(clip.url).dir().dirName(), "hack--G.U.");
    EXPECT_EQ(clip.meta.game, ".hack//G.U.");
    const QList<Clip> listed = test::published(library);
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].url, clip.url);
    EXPECT_EQ(listed[0].meta.title, ".hack//G.U. clip");
}

TEST_F(ClipsTest, SaveFailuresPassOnTheirErrorAndLeaveNoSnapshot) {
    Clips::SnapshotSource empty;
    empty.snapshot = [](double, double) -> ReplayBuffer::Snapshot {
        throw RecordError::nothingBuffered();
    };
    EXPECT_THROW(Clips::saveClip(empty, std::nullopt, 5, library), RecordError);

    const QString text = at.clip("notes.txt", "not a video");
    expectExportFailed([&] { Clips::saveClip(test::fakeBuffer(text), std::nullopt, 5, library); },
                       "Could not start saving the clip.");

    const QString audioOnly = at.root + "/audio.mp4";
    test::run("ffmpeg -nostdin -y -v error -f lavfi -i sine -t 1 -c:a aac '" +
              audioOnly.toStdString() + "'");
    try {
        Clips::saveClip(test::fakeBuffer(audioOnly), std::nullopt, 5, library);
        ADD_FAILURE() << "a snapshot without video was saved";
    } catch (const RecordError& error) {
        EXPECT_EQ(error.kind(), RecordError::Kind::nothingBuffered);
    }

    test::writeFile((at.folder + "/Desktop").toStdString(), "a file where the folder goes");
    EXPECT_THROW(Clips::saveClip(test::fakeBuffer(s_silent), std::nullopt, 5, library),
                 std::filesystem::filesystem_error);

    EXPECT_TRUE(test::leftoverSnapshots().isEmpty());
    EXPECT_FALSE(QFile::exists(at.index())) << "no library entry after a failed save";
}

TEST_F(ClipsTest, TrimCopiesTheRangeNextToTheSource) {
    const QString source = at.clip("Roblox/Roblox 2025-03-01 at 10.00.00.mp4");
    QFile::remove(source);
    QFile::copy(s_withMic, source);
    at.clip("Roblox/Roblox 2025-03-01 at 10.00.00 trimmed.mp4", "taken");
    ClipMeta meta;
    meta.title = "Best";
    meta.game = "Roblox";
    meta.width = 160;
    meta.height = 90;
    meta.hasMic = true;
    meta.shareID = "s";
    meta.shareURL = "https://example.test/s";
    meta.created = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QString out = test::await(Clips::trimCopy({source, meta}, {1.0, 3.0}, library));

    EXPECT_EQ(out, at.folder + "/Roblox/Roblox 2025-03-01 at 10.00.00 trimmed 2.mp4");
    EXPECT_NEAR(test::videoLength(out), 2.0, 1.0 / 30 + 1e-3);
    const Clip* added = nullptr;
    const QList<Clip> clips = test::published(library);
    for (const Clip& clip : clips)
        if (clip.url == out)
            added = &clip;
    ASSERT_TRUE(added);
    EXPECT_EQ(added->meta.title, "Best (trimmed)");
    EXPECT_EQ(added->meta.game, "Roblox");
    EXPECT_TRUE(added->meta.hasMic);
    EXPECT_EQ(added->meta.duration, 2.0);
    EXPECT_FALSE(added->meta.shareID);
    EXPECT_FALSE(added->meta.shareURL);
    EXPECT_LE(std::abs(added->meta.created.secsTo(QDateTime::currentDateTimeUtc())), 60);
}

// A range reaching outside the clip keeps the clip's part of it, as an export does, instead of a
// longer file with an empty stretch at the front.
TEST_F(ClipsTest, TrimKeepsOnlyThePartOfTheRangeInsideTheClip) {
    const QString source = at.clip("Game/four.mp4");
    QFile::remove(source);
    QFile::copy(s_withMic, source);
    const QString out = test::await(Clips::trimCopy({source, {}}, {-1.0, 3.0}, library));
    EXPECT_NEAR(test::videoLength(out), 3.0, 1.0 / 30 + 1e-3);
    EXPECT_EQ(test::indexObject(at.index())[library.key(out)].toObject()["duration"].toDouble(),
              3.0);
    expectExportFailed(
        [&] {
            test::await(Clips::trimCopy({source, {}}, {10.0, 12.0}, library));
        },
        "Could not start the trim.");
}

// A reload while a clip is being written never lists it: it is written under a hidden partial
// name and named only when complete.
TEST_F(ClipsTest, AReloadDuringAnExportDoesNotListTheFileBeingWritten) {
    const QString target = at.folder + "/Game/export.mp4";
    QDir().mkpath(at.folder + "/Game");
    QStringList listedDuring;
    QObject::connect(&library, &Library::clipsChanged, [&](const QList<Clip>& clips) {
        for (const Clip& clip : clips)
            listedDuring << clip.url;
    });
    Clips::ExportOptions options;
    options.maxHeight = 60;
    test::await(Clips::exportClip(s_withMic, target, options, [&](double) { library.reload(); }));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(listedDuring.isEmpty()) << listedDuring.join(", ").toStdString();
    library.reload();
    const QList<Clip> after = test::published(library);
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].url, target);
}

TEST_F(ClipsTest, BrokenFilesGiveClearErrorsAndNoThumbnail) {
    const QString text = at.clip("Game/text.mp4", "this is not a video");
    // A regular MP4 cut short loses its index at the end; one with its index at the front keeps
    // the index but loses the media it points to.
    const QString regular = at.root + "/regular.mp4";
    const QString faststart = at.root + "/faststart.mp4";
    for (const QString& out : {regular, faststart})
        test::run("ffmpeg -nostdin -y -v error -i '" + s_withMic.toStdString() +
                  "' -c copy -map 0 " + (out == faststart ? "-movflags +faststart '" : "'") +
                  out.toStdString() + "'");
    const QByteArray full = test::readAll(regular);
    const QString cut = at.clip("Game/cut.mp4", full.left(full.size() * 2 / 3));
    const QByteArray front = test::readAll(faststart);
    const QString truncated = at.clip("Game/truncated.mp4", front.left(front.indexOf("mdat") + 64));

    for (const QString& broken : {text, truncated, cut}) {
        SCOPED_TRACE(broken.toStdString());
        try {
            test::await(Clips::trimCopy({broken, {}}, {0.0, 1.0}, library));
        } catch (const RecordError& error) {
            EXPECT_EQ(error.kind(), RecordError::Kind::exportFailed);
        }
        const QString target = at.root + "/export.mp4";
        EXPECT_THROW(test::await(Clips::exportClip(broken, target, {})), RecordError);
        EXPECT_TRUE(QDir(at.root).entryList({"*export.mp4*"}, QDir::Files | QDir::Hidden).isEmpty())
            << "a failed export leaves nothing behind";
        EXPECT_FALSE(test::await(library.thumbnail({broken, {}})));
        EXPECT_FALSE(QFile::exists(library.thumbURL(broken)));
    }
    expectExportFailed(
        [&] {
            test::await(Clips::trimCopy({text, {}}, {0.0, 1.0}, library));
        },
        "Could not start the trim.");
    expectExportFailed([&] { test::await(Clips::exportClip(text, at.root + "/export.mp4", {})); },
                       "Could not read the clip.");
    EXPECT_FALSE(test::readAll(at.index()).contains("trimmed"));
}

TEST_F(ClipsTest, ThumbnailIsMadeOnceAndThenReadFromTheCache) {
    const QString clip = at.clip("Game/x.mp4");
    QFile::remove(clip);
    QFile::copy(s_withMic, clip);
    auto made = test::await(library.thumbnail({clip, {}}));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->size(), QSize(160, 90));
    QImage cached(library.thumbURL(clip));
    EXPECT_EQ(cached.size(), QSize(160, 90));

    // The cached file wins without the video being opened: here the video is garbage.
    const QString garbage = at.clip("Game/garbage.mp4", "garbage");
    QImage marker(8, 4, QImage::Format_RGB32);
    marker.fill(Qt::red);
    ASSERT_TRUE(marker.save(library.thumbURL(garbage), "JPEG"));
    auto fromCache = test::await(library.thumbnail({garbage, {}}));
    ASSERT_TRUE(fromCache);
    EXPECT_EQ(fromCache->size(), QSize(8, 4));
}

// A thumbnail that does not fit on the disk is still shown, but never cached cut short: a cut
// JPEG still loads (grey below the cut) and would be shown for good.
TEST_F(ClipsTest, ThumbnailOnAFullDiskIsNotCachedHalfWritten) {
    const QString clip = at.clip("Game/full.mp4");
    QFile::remove(clip);
    QFile::copy(s_withMic, clip);
    const auto whole = test::await(Clips::jpegFrame(clip, 640, 0.5));
    ASSERT_TRUE(whole);
    ASSERT_GT(whole->size(), 2048);
    const QString thumb = library.thumbURL(clip);
    {
        test::FileSizeLimit limit(1024);
        auto shown = test::await(library.thumbnail({clip, {}}));
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->size(), QSize(160, 90));
    }
    if (QFile::exists(thumb)) {
        EXPECT_EQ(test::readAll(thumb).size(), whole->size());
    }
    ASSERT_TRUE(test::await(library.thumbnail({clip, {}})));
    EXPECT_TRUE(test::readAll(thumb) == *whole);
}

TEST_F(ClipsTest, ExportAppliesItsOptions) {
    const QString target = at.root + "/out.mp4";
    test::writeFile(target.toStdString(), "old content is replaced");
    Clips::ExportOptions options;
    options.range = media::TimeRange{0.5, 1.5};
    options.maxHeight = 60;
    options.micVolume = 0.0f;
    double last = -1;
    test::await(Clips::exportClip(s_withMic, target, options, [&](double p) { last = p; }));
    EXPECT_EQ(test::probe(target, "stream=codec_type,codec_name,width,height"),
              "h264,video,106,60\naac,audio\n");
    EXPECT_NEAR(test::videoLength(target), 1.0, 0.1);
    EXPECT_GT(last, 0.5);
    EXPECT_LE(last, 1.0);
}

} // namespace
} // namespace vantel
