#include "LibraryTestSupport.h"
#include "common/Shell.h"
#include "library/IndexFile.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::LibraryPlaces;
using test::published;
using test::readAll;
using test::settle;

ClipMeta metaAt(const char* title, const char* iso) {
    ClipMeta meta;
    meta.title = title;
    meta.game = "G";
    meta.created = QDateTime::fromString(iso, Qt::ISODate).toUTC();
    return meta;
}

const Clip* find(const QList<Clip>& clips, const QString& url) {
    for (const Clip& clip : clips)
        if (clip.url == url)
            return &clip;
    return nullptr;
}

TEST(LibraryScan, ListsClipFilesWithDefaultsAndSkipsTheRest) {
    LibraryPlaces at("scan");
    const QString mov = at.clip("a.MOV");
    const QString deep = at.clip("Folder/Sub/x.mp4");
    const QString m4v = at.clip("Game/y.m4v");
    at.clip(".x.mp4");
    at.clip("x.mkv");
    at.clip(".hidden/z.mp4");
    at.clip("notes.txt");
    QDir().mkpath(at.folder + "/Odd/folder.mp4"); // the entry's kind is not examined
    Library library(at.places());

    QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 4);
    const Clip* a = find(clips, mov);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->meta.title, "a");
    EXPECT_EQ(a->meta.game, "Clips");
    EXPECT_EQ(a->meta.duration, 0.0);
    EXPECT_EQ(a->meta.width, 0);
    EXPECT_EQ(a->meta.height, 0);
    EXPECT_FALSE(a->meta.hasMic);
    EXPECT_FALSE(a->meta.shareURL);
    EXPECT_LE(std::abs(a->meta.created.secsTo(QDateTime::currentDateTimeUtc())), 60);

    const Clip* x = find(clips, deep);
    ASSERT_TRUE(x);
    EXPECT_EQ(x->meta.game, "Sub");
    EXPECT_EQ(library.key(deep), "Folder/Sub/x.mp4");
    EXPECT_EQ(library.thumbURL(deep), at.appSupport + "/thumbs/Folder_Sub_x.mp4.jpg");
    EXPECT_EQ(find(clips, m4v)->meta.game, "Game");
    EXPECT_TRUE(find(clips, at.folder + "/Odd/folder.mp4"));
    EXPECT_TRUE(QFileInfo(at.appSupport + "/thumbs").isDir());
    EXPECT_FALSE(QFile::exists(at.index())) << "a scan never writes the index";
}

TEST(LibraryScan, SortsNewestFirstAndKeepsWalkOrderForEqualDates) {
    LibraryPlaces at("order");
    QStringList names = {"c.mp4", "a.mp4", "e.mp4", "b.mp4", "d.mp4"};
    for (const QString& name : names)
        at.clip("Same/" + name);
    const QString newest = at.clip("new.mp4");
    {
        Library writer(at.places());
        for (const QString& name : names)
            writer.add(at.folder + "/Same/" + name, metaAt("same", "2025-03-01T13:05:09Z"));
        writer.add(newest, metaAt("new", "2025-03-02T00:00:00Z"));
    }
    QStringList walk;
    for (const auto& entry :
         std::filesystem::directory_iterator((at.folder + "/Same").toStdString()))
        walk << QString::fromStdString(entry.path().string());

    Library library(at.places()); // dates now come back from the file, to whole seconds
    QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 6);
    EXPECT_EQ(clips[0].url, newest);
    QStringList listed;
    for (qsizetype i = 1; i < clips.size(); ++i)
        listed << clips[i].url;
    EXPECT_EQ(listed, walk);
}

// One damaged entry costs that entry alone: the others keep their titles and share links, the
// damaged file is kept once under a name of its own, and the user hears of it once.
TEST(LibraryIndex, ADamagedEntryCostsOnlyItselfAndIsToldOnce) {
    LibraryPlaces at("damaged");
    const QString kept = at.clip("Game/kept.mp4");
    const QString lost = at.clip("Game/lost.mp4");
    const QString after = at.clip("Game/after.mp4");
    const QByteArray damaged =
        R"({"Game/kept.mp4":{"title":"Kept","game":"G","created":"2025-03-01T13:05:09Z",)"
        R"("duration":1,"width":2,"height":3,"hasMic":false,"shareID":"s1","shareURL":"https://x/1"},)"
        R"("Game/lost.mp4":{"title":"Mine","game":"G","created":"2025-03-01T13:05:09Z",)"
        R"("duration":1,"width":2,"height":3},)"
        R"("Game/after.mp4":{"title":"After","game":"G","created":"2025-03-01T13:05:09Z",)"
        R"("duration":1,"width":2,"height":3,"hasMic":true}})";
    test::writeFile(at.index().toStdString(), damaged.toStdString());
    const QString earlier = at.index() + ".bad-19990101-000000";
    test::writeFile(earlier.toStdString(), "an earlier copy");

    QStringList told;
    auto library = std::make_unique<Library>(at.places());
    QObject::connect(
        library.get(), &Library::problem,
        [&](const QString& title, const QString& detail) { told << title + u'|' + detail; });
    QList<Clip> clips = published(*library);
    ASSERT_EQ(clips.size(), 3);
    EXPECT_EQ(find(clips, kept)->meta.title, "Kept");
    EXPECT_EQ(find(clips, kept)->meta.shareURL, QString("https://x/1"));
    EXPECT_EQ(find(clips, after)->meta.title, "After");
    EXPECT_EQ(find(clips, lost)->meta.title, "lost") << "only the damaged entry falls back";
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Some clip details couldn't be read|1 clip "))
        << told[0].toStdString();

    const QStringList copies =
        QDir(at.appSupport).entryList({"library.json.bad-*"}, QDir::Files, QDir::Name);
    ASSERT_EQ(copies.size(), 2);
    EXPECT_EQ(readAll(earlier), "an earlier copy") << "an older copy is never replaced";
    const QString copy = at.appSupport + u'/' + copies[1];
    EXPECT_EQ(readAll(copy), damaged);
    EXPECT_TRUE(told[0].contains(copies[1]));
    QJsonObject index = test::indexObject(at.index());
    EXPECT_EQ(index.keys(), (QStringList{"Game/after.mp4", "Game/kept.mp4"}))
        << "a sound index replaces the damaged one";

    // The next start finds nothing to tell and makes no second copy.
    library.reset();
    told.clear();
    library = std::make_unique<Library>(at.places());
    QObject::connect(library.get(), &Library::problem, [&] { told << "again"; });
    EXPECT_EQ(find(published(*library), kept)->meta.title, "Kept");
    EXPECT_TRUE(told.isEmpty());
    EXPECT_EQ(QDir(at.appSupport).entryList({"library.json.bad-*"}, QDir::Files).size(), 2);
}

TEST(LibraryIndex, BrokenSyntaxKeepsTheEntriesAroundIt) {
    // Cut off in the middle of an entry: what came before stays.
    IndexRead cut = decodeIndex(R"({"a.mp4":{"title":"A","game":"G","created":)"
                                R"("2025-03-01T13:05:09Z","duration":1,"width":2,"height":3,)"
                                R"("hasMic":false},"b.mp4":{"title":"B","ga)");
    EXPECT_EQ(cut.entries.keys(), QStringList{"a.mp4"});
    EXPECT_TRUE(cut.unreadRest);
    // A value of the wrong kind, a bad date, an entry with a brace inside a string: each alone.
    IndexRead mixed = decodeIndex(
        R"( { "x}.mp4" : {"title":"}{","game":"G","created":"2025-03-01T13:05:09Z",)"
        R"("duration":1,"width":2,"height":3,"hasMic":false}, "n.mp4": 5, )"
        R"("d.mp4":{"title":"D","game":"G","created":"yesterday","duration":1,"width":2,)"
        R"("height":3,"hasMic":false} } )");
    EXPECT_EQ(mixed.entries.keys(), QStringList{"x}.mp4"});
    EXPECT_EQ(mixed.entries["x}.mp4"].title, "}{");
    EXPECT_EQ(mixed.unreadEntries, 2);
    EXPECT_FALSE(mixed.unreadRest);
    EXPECT_TRUE(decodeIndex("not json").unreadRest);
    EXPECT_FALSE(decodeIndex("{}").damaged());
    EXPECT_FALSE(decodeIndex(encodeIndex(cut.entries)).damaged());
}

// A full disk while the index is rewritten leaves the previous index whole; the titles and
// links in it would otherwise be lost at the next start.
TEST(LibraryIndex, AFullDiskKeepsTheLastWholeIndex) {
    LibraryPlaces at("full");
    Library library(at.places());
    for (int i = 0; i < 40; ++i)
        library.add(at.clip(QString("Game/%1.mp4").arg(i)),
                    metaAt(qPrintable(QString("Title %1").arg(i)), "2025-03-01T13:05:09Z"));
    settle(library);
    const QByteArray before = readAll(at.index());
    ASSERT_GT(before.size(), 4096);
    {
        test::FileSizeLimit limit(2048);
        library.update(at.folder + "/Game/0.mp4", [](ClipMeta& meta) { meta.title = "New"; });
        settle(library);
    }
    EXPECT_TRUE(readAll(at.index()) == before);
    Library again(at.places());
    const Clip* first = find(published(again), at.folder + "/Game/1.mp4");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->meta.title, "Title 1");

    // The change stayed in memory and reaches the file with the next write.
    library.add(at.clip("z.mp4"), metaAt("z", "2025-03-01T13:05:09Z"));
    settle(library);
    EXPECT_EQ(test::indexObject(at.index())["Game/0.mp4"].toObject()["title"].toString(), "New");
}

TEST(LibraryIndex, KeepsUnknownShareUrlAbsentAndEntriesOfVanishedFiles) {
    LibraryPlaces at("share");
    test::writeFile(at.index().toStdString(),
                    R"({"gone.mp4":{"title":"Gone","game":"G","created":"2025-03-01T13:05:09Z",)"
                    R"("duration":1,"width":2,"height":3,"hasMic":false,"shareID":"s1"}})");
    Library library(at.places());
    EXPECT_TRUE(published(library).isEmpty()) << "an entry without its file is not listed";
    library.add(at.clip("new.mp4"), metaAt("new", "2025-03-01T13:05:09Z"));
    settle(library);

    QByteArray written = readAll(at.index());
    EXPECT_FALSE(written.contains('\n'));
    EXPECT_FALSE(written.contains(": "));
    EXPECT_FALSE(written.contains("shareURL"));
    QJsonObject gone = test::indexObject(at.index())["gone.mp4"].toObject();
    EXPECT_EQ(gone["shareID"].toString(), "s1");

    at.clip("gone.mp4"); // the file comes back under the same key
    library.reload();
    const Clip* back = find(published(library), at.folder + "/gone.mp4");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->meta.title, "Gone");
    EXPECT_EQ(back->meta.shareID, QString("s1"));
    EXPECT_FALSE(back->meta.shareURL);
}

// Partial files are clips being written; those of a process that has ended are removed when the
// library starts.
TEST(LibraryScan, RemovesPartialFilesOfEndedProcessesAndNeverListsPartials) {
    LibraryPlaces at("partials");
    const QString ended = at.clip("Game/.x.mp4.vantel-2147483000-0.partial", "half");
    const QString running = at.clip(
        QString("Game/.y.mp4.vantel-%1-3.partial").arg(QCoreApplication::applicationPid()), "half");
    const QString unrelated = at.clip("Game/.notes.partial", "someone else's");
    Library library(at.places());
    EXPECT_FALSE(QFile::exists(ended));
    EXPECT_TRUE(QFile::exists(running)) << "this process may be writing it";
    EXPECT_TRUE(QFile::exists(unrelated));
    EXPECT_TRUE(published(library).isEmpty());
}

TEST(LibraryChanges, UpdateCreatesEntriesOnlyForListedClips) {
    LibraryPlaces at("update");
    const QString clip = at.clip("Game/x.mp4");
    Library library(at.places());
    settle(library);
    library.update(at.folder + "/Game/missing.mp4", [](ClipMeta& meta) { meta.title = "No"; });
    settle(library);
    EXPECT_FALSE(QFile::exists(at.index())) << "an unknown clip changes nothing";

    library.update(clip, [](ClipMeta& meta) { meta.shareURL = "https://example.test/1"; });
    settle(library);
    QJsonObject entry = test::indexObject(at.index())["Game/x.mp4"].toObject();
    EXPECT_EQ(entry["title"].toString(), "x");
    EXPECT_EQ(entry["game"].toString(), "Game");
    EXPECT_EQ(entry["shareURL"].toString(), "https://example.test/1");
    EXPECT_EQ(published(library)[0].meta.shareURL, QString("https://example.test/1"));
}

TEST(LibraryChanges, DeleteTrashesTheFileAndForgetsEntryAndThumbnail) {
    LibraryPlaces at("delete");
    const QString kept = at.clip("Game/kept.mp4", "video");
    const QString vanished = at.clip("Game/vanished.mp4");
    Library library(at.places());
    library.add(kept, metaAt("kept", "2025-03-01T13:05:09Z"));
    library.add(vanished, metaAt("vanished", "2025-03-01T13:05:09Z"));
    test::writeFile(library.thumbURL(kept).toStdString(), "jpeg");
    test::writeFile(library.thumbURL(vanished).toStdString(), "jpeg");
    QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 2);

    QFile::remove(vanished); // removed by hand before the delete
    library.deleteClip(*find(clips, vanished));
    library.deleteClip(*find(clips, kept));
    settle(library);

    EXPECT_TRUE(test::indexObject(at.index()).isEmpty());
    EXPECT_EQ(readAll(at.index()), "{}");
    EXPECT_FALSE(QFile::exists(library.thumbURL(kept)));
    EXPECT_FALSE(QFile::exists(library.thumbURL(vanished)));
    EXPECT_FALSE(QFile::exists(kept));
    const QString trash =
        QString::fromStdString(test::testHome().string()) + "/data/Trash/files/kept.mp4";
    EXPECT_EQ(readAll(trash), "video");
    EXPECT_TRUE(published(library).isEmpty());
}

TEST(LibraryChanges, AFailedTrashMoveKeepsTheFileItsEntryAndItsThumbnail) {
    LibraryPlaces at("trashfail");
    const QString clip = at.clip("Game/x.mp4", "video");
    Library library(at.places());
    library.add(clip, metaAt("Titled", "2025-03-01T13:05:09Z"));
    test::writeFile(library.thumbURL(clip).toStdString(), "jpeg");
    const QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 1);

    // No Trash can be made: a file holds its place.
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    const QString aside = trash + ".aside";
    QDir(aside).removeRecursively();
    QFile::rename(trash, aside);
    test::writeFile(trash.toStdString(), "not a folder");
    QString failure;
    try {
        library.deleteClip(clips[0]);
    } catch (const std::runtime_error& error) {
        failure = QString::fromUtf8(error.what());
    }
    QFile::remove(trash);
    QFile::rename(aside, trash);

    EXPECT_TRUE(failure.contains("x.mp4")) << failure.toStdString();
    settle(library);
    EXPECT_EQ(readAll(clip), "video");
    EXPECT_TRUE(QFile::exists(library.thumbURL(clip)));
    EXPECT_EQ(test::indexObject(at.index())["Game/x.mp4"].toObject()["title"].toString(), "Titled");
    ASSERT_EQ(published(library).size(), 1);
    EXPECT_EQ(published(library)[0].meta.title, "Titled");
}

TEST(LibraryChanges, FolderChangeListsTheNewFolderAndOldKeysStopMatching) {
    LibraryPlaces at("move");
    const QString old = at.clip("Game/x.mp4");
    Library library(at.places());
    library.add(old, metaAt("Titled", "2025-03-01T13:05:09Z"));

    const QString other = at.root + "/Other";
    test::writeFile((other + "/Game/y.mp4").toStdString(), "");
    test::writeFile((other + "/Top/z.mov").toStdString(), "");
    *at.currentFolder = other + "/"; // a trailing slash must not change the keys
    library.reload();
    QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 2);
    for (const Clip& clip : clips)
        EXPECT_TRUE(clip.url.startsWith(other + "/"));
    EXPECT_EQ(library.key(other + "/Game/y.mp4"), "Game/y.mp4");
    library.update(old, [](ClipMeta& meta) { meta.title = "Lost"; });
    settle(library);
    EXPECT_FALSE(readAll(at.index()).contains("Lost"))
        << "the old file is keyed by its full path now and is neither indexed nor listed";

    const QString cwd = QDir::currentPath();
    QDir::setCurrent(other);
    *at.currentFolder = "";
    library.reload();
    EXPECT_TRUE(published(library).isEmpty()) << "no folder lists nothing, not the working folder";
    QDir::setCurrent(cwd);
    EXPECT_EQ(library.key(old), old) << "a file outside the folder keeps its full path";
}

// The walk, the index write and the publication happen on the library's own thread: while it is
// held there, add(), update() and reload() return at once, and the list arrives later, right.
TEST(LibraryThreads, TheWalkKeepsNoCallerWaiting) {
    LibraryPlaces at("offthread");
    const QString first = at.clip("Game/a.mp4");
    QThread* caller = QThread::currentThread();
    QSemaphore held;
    std::atomic<int> askedElsewhere = 0;
    Library::Places places = at.places();
    places.folder = [folder = at.currentFolder, caller, &held, &askedElsewhere] {
        if (QThread::currentThread() != caller) {
            ++askedElsewhere;
            held.acquire();
        }
        return *folder;
    };
    Library library(places);
    const QString second = at.clip("Game/b.mp4");
    library.add(second, metaAt("Second", "2025-03-01T13:05:09Z"));
    library.update(second, [](ClipMeta& meta) { meta.title = "Renamed"; });
    library.reload();
    EXPECT_TRUE(QTest::qWaitFor([&] { return askedElsewhere > 0; }, 5000))
        << "the walk runs on the calling thread";
    EXPECT_TRUE(library.clips().isEmpty()) << "nothing is published while the walk is held";
    EXPECT_FALSE(QFile::exists(at.index()));

    held.release(1000);
    const QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 2);
    EXPECT_TRUE(find(clips, first));
    EXPECT_EQ(find(clips, second)->meta.title, "Renamed");
    EXPECT_EQ(test::indexObject(at.index())["Game/b.mp4"].toObject()["title"].toString(),
              "Renamed");
}

// The files a user may find in the folder without an entry: a clip copied in, and files no
// player can open. The clip's length is read once and kept; the others are marked.
TEST(LibraryFacts, FilesWithoutEntriesGetTheirLengthOnceOrAreMarkedUnplayable) {
    LibraryPlaces at("facts");
    const QString made = at.root + "/made";
    QDir().mkpath(made);
    const std::string tool =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x180:rate=30:duration=4 "
        "-f lavfi -i sine=frequency=440:duration=4 -f lavfi -i sine=frequency=880:duration=4 "
        "-map 0 -map 1 -map 2 -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac ";
    test::run(tool + "-movflags +faststart '" + made.toStdString() + "/front.mp4'");
    test::run(tool + "'" + made.toStdString() + "/back.mp4'");
    const QByteArray front = readAll(made + "/front.mp4");
    const QByteArray back = readAll(made + "/back.mp4");
    ASSERT_GT(front.size(), 10000);
    ASSERT_GT(back.size(), 10000);
    QByteArray noise(100000, '\0');
    QRandomGenerator(17).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    QByteArray huge = front; // the video track's sample table claims 2^31 samples
    const qsizetype stsz = huge.indexOf("stsz");
    ASSERT_GT(stsz, 0);
    huge[stsz + 12] = char(0x80);
    huge[stsz + 13] = huge[stsz + 14] = huge[stsz + 15] = 0;

    const QString copied = at.clip("Game/copied.mp4", front);
    const QStringList broken = {
        at.clip("Game/random.mp4", noise),
        at.clip("Game/empty.mp4"),
        at.clip("Game/cut.mp4", front.left(front.size() / 2)),
        at.clip("Game/cut-tail.mov", back.left(back.size() / 2)),
        at.clip("Game/huge.m4v", huge),
    };
    auto library = std::make_unique<Library>(at.places());
    auto checking = [&] {
        QList<Clip> clips = published(*library);
        return clips.isEmpty() || std::any_of(clips.begin(), clips.end(), [](const Clip& clip) {
                   return clip.playback == Playback::checking;
               });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !checking(); }, 30000));
    QList<Clip> clips = published(*library);
    ASSERT_EQ(clips.size(), 6);
    const Clip* clip = find(clips, copied);
    EXPECT_EQ(clip->playback, Playback::playable);
    EXPECT_NEAR(clip->meta.duration, 4.0, 0.1);
    EXPECT_EQ(clip->meta.width, 320);
    EXPECT_EQ(clip->meta.height, 180);
    EXPECT_TRUE(clip->meta.hasMic);
    EXPECT_EQ(clip->meta.title, "copied");
    for (const QString& path : broken)
        EXPECT_EQ(find(clips, path)->playback, Playback::unplayable) << path.toStdString();

    settle(*library);
    const QJsonObject index = test::indexObject(at.index());
    EXPECT_EQ(index.keys(), QStringList{"Game/copied.mp4"}) << "only facts are kept";
    EXPECT_NEAR(index["Game/copied.mp4"].toObject()["duration"].toDouble(), 4.0, 0.1);

    // Read once: the next start lists the clip with its facts straight away.
    library = std::make_unique<Library>(at.places());
    clips = published(*library);
    EXPECT_EQ(find(clips, copied)->playback, Playback::playable);
    EXPECT_NEAR(find(clips, copied)->meta.duration, 4.0, 0.1);
}

TEST(LibraryThreads, ConcurrentChangesAllLandAndPublishOnTheMainThread) {
    LibraryPlaces at("threads");
    std::unique_ptr<Library> library;
    // Created on a worker, as when a background save is the first user.
    QtConcurrent::run([&] { library = std::make_unique<Library>(at.places()); }).waitForFinished();
    ASSERT_EQ(library->thread(), QCoreApplication::instance()->thread());

    QThread* publishedOn = nullptr;
    QObject::connect(library.get(), &Library::clipsChanged,
                     [&] { publishedOn = QThread::currentThread(); });
    QList<QFuture<void>> workers;
    for (int t = 0; t < 4; ++t)
        workers << QtConcurrent::run([&, t] {
            for (int i = 0; i < 15; ++i)
                library->add(at.clip(QString("T%1/c%2.mp4").arg(t).arg(i)),
                             metaAt("c", "2025-03-01T13:05:09Z"));
        });
    for (auto& worker : workers)
        worker.waitForFinished();
    settle(*library);

    EXPECT_EQ(test::indexObject(at.index()).size(), 60);
    EXPECT_EQ(published(*library).size(), 60) << "the last posted list is the one shown";
    EXPECT_EQ(publishedOn, QThread::currentThread());
}

} // namespace
} // namespace vantel
