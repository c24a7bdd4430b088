#include "LibraryTestSupport.h"

#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::LibraryPlaces;
using test::published;
using test::readAll;

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

TEST(LibraryIndex, BrokenIndexIsIgnoredAndKeptAsBadBeforeTheFirstWrite) {
    LibraryPlaces at("broken");
    const QString clip = at.clip("Game/x.mp4");
    const QByteArray broken = R"({"Game/x.mp4":{"title":"Mine","game":"G","created":)"
                              R"("2025-03-01T13:05:09Z","duration":1,"width":2,"height":3}})";
    test::writeFile(at.index().toStdString(), broken.toStdString());
    Library library(at.places());
    QList<Clip> clips = published(library);
    ASSERT_EQ(clips.size(), 1);
    EXPECT_EQ(clips[0].meta.title, "x") << "the whole index is ignored";
    EXPECT_EQ(readAll(at.index()), broken) << "nothing is touched at start";

    library.update(clip, [](ClipMeta& meta) { meta.title = "Renamed"; });
    EXPECT_EQ(readAll(at.index() + ".bad"), broken);
    QJsonObject index = test::indexObject(at.index());
    EXPECT_EQ(index.keys(), QStringList{"Game/x.mp4"});
    EXPECT_EQ(index["Game/x.mp4"].toObject()["title"].toString(), "Renamed");

    // A later broken file replaces the older copy.
    test::writeFile(at.index().toStdString(), "not json");
    Library again(at.places());
    again.add(at.clip("y.mp4"), metaAt("y", "2025-03-01T13:05:09Z"));
    EXPECT_EQ(readAll(at.index() + ".bad"), "not json");
    EXPECT_EQ(test::indexObject(at.index()).keys(), QStringList{"y.mp4"});
}

// A full disk while the index is rewritten leaves the previous index whole; the titles and
// links in it would otherwise be lost at the next start.
TEST(LibraryIndex, AFullDiskKeepsTheLastWholeIndex) {
    LibraryPlaces at("full");
    Library library(at.places());
    for (int i = 0; i < 40; ++i)
        library.add(at.clip(QString("Game/%1.mp4").arg(i)),
                    metaAt(qPrintable(QString("Title %1").arg(i)), "2025-03-01T13:05:09Z"));
    const QByteArray before = readAll(at.index());
    ASSERT_GT(before.size(), 4096);
    {
        test::FileSizeLimit limit(2048);
        library.update(at.folder + "/Game/0.mp4", [](ClipMeta& meta) { meta.title = "New"; });
    }
    EXPECT_TRUE(readAll(at.index()) == before);
    Library again(at.places());
    const Clip* first = find(published(again), at.folder + "/Game/1.mp4");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->meta.title, "Title 1");

    // The change stayed in memory and reaches the file with the next write.
    library.add(at.clip("z.mp4"), metaAt("z", "2025-03-01T13:05:09Z"));
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
    library.update(at.folder + "/Game/missing.mp4", [](ClipMeta& meta) { meta.title = "No"; });
    EXPECT_FALSE(QFile::exists(at.index())) << "an unknown clip changes nothing";

    library.update(clip, [](ClipMeta& meta) { meta.shareURL = "https://example.test/1"; });
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

    EXPECT_EQ(test::indexObject(at.index()).size(), 60);
    EXPECT_EQ(published(*library).size(), 60) << "the last posted list is the one shown";
    EXPECT_EQ(publishedOn, QThread::currentThread());
}

} // namespace
} // namespace vantel
