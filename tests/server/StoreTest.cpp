// The service's storage below HTTP: the catalog on SQLite (records that must be taken once,
// parts, quotas, one connection per thread), the disk blob store (sinks that vanish unless
// committed, joins, ranges, ids that are not names), the upload checks and the configuration.

#include "ServerRig.h"
#include "common/Shell.h"
#include "common/TestEnv.h"
#include "server/Catalog.h"
#include "server/DiskBlobStore.h"
#include "server/Ids.h"
#include "server/MediaCheck.h"
#include "server/ServerConfig.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace vantel::server {
namespace {

QString freshFolder(const char* name) {
    return QString::fromStdString(test::testHome().string()) + "/" + name + "-" +
           QUuid::createUuid().toString(QUuid::Id128).left(8);
}

ClipRecord clipFor(const QString& user, int64_t size) {
    ClipRecord clip;
    clip.id = newId();
    clip.userId = user;
    clip.title = "t";
    clip.game = "g";
    clip.size = size;
    clip.partSize = 100;
    clip.created = 1000;
    return clip;
}

TEST(CatalogTest, CodesStatesAndInvitationsAreTakenOnceAndExpire) {
    Catalog catalog({}, freshFolder("catalog"));
    const UserRecord user = catalog.signInInvitedUser("Sam", 100);
    EXPECT_EQ(catalog.signInInvitedUser("Sam", 200).id, user.id);
    catalog.addCode("h1", {user.id, "challenge", 500});
    EXPECT_FALSE(catalog.takeCode("other", 100));
    const std::optional<SignInCode> code = catalog.takeCode("h1", 400);
    ASSERT_TRUE(code);
    EXPECT_EQ(code->challenge, "challenge");
    EXPECT_FALSE(catalog.takeCode("h1", 400)) << "a code works once";
    catalog.addCode("h2", {user.id, "c", 500});
    EXPECT_FALSE(catalog.takeCode("h2", 501)) << "an expired code is refused";
    EXPECT_FALSE(catalog.takeCode("h2", 100)) << "and gone";

    catalog.addSignInState("s", {"c", "v", 500});
    EXPECT_EQ(catalog.takeSignInState("s", 100)->discordVerifier, "v");
    EXPECT_FALSE(catalog.takeSignInState("s", 100));
    catalog.addInvite("k", "Kim", 500);
    EXPECT_FALSE(catalog.takeInvite("k", 600));
    EXPECT_FALSE(catalog.takeInvite("k", 100));

    const UserRecord nelly = catalog.signInDiscordUser("42", "Nelly", QString("a.png"), 1);
    const UserRecord renamed = catalog.signInDiscordUser("42", "Nel", std::nullopt, 2);
    EXPECT_EQ(renamed.id, nelly.id);
    EXPECT_EQ(renamed.name, "Nel");
    EXPECT_FALSE(renamed.avatar);
    catalog.addToken("t", nelly.id, 3);
    EXPECT_EQ(catalog.userForToken("t")->name, "Nel");
    catalog.removeToken("t");
    EXPECT_FALSE(catalog.userForToken("t"));
}

TEST(CatalogTest, ThreadsRacingForOneCodeOrPartHaveOneWinnerEach) {
    const QString folder = freshFolder("race");
    Catalog catalog({}, folder);
    const UserRecord user = catalog.signInInvitedUser("Racer", 1);
    const ClipRecord clip = clipFor(user.id, 1000);
    catalog.createClip(clip);
    for (int round = 0; round < 5; ++round)
        catalog.addCode("code" + QString::number(round), {user.id, "c", 1000});
    std::atomic<int> codesWon{0};
    std::atomic<int> partsWon{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            try {
                for (int round = 0; round < 5; ++round) {
                    codesWon += catalog.takeCode("code" + QString::number(round), 10) ? 1 : 0;
                    partsWon += catalog.addPart(clip.id, {round + 1, 100, QString::number(t), ""});
                }
            } catch (const CatalogError&) {
                ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(codesWon, 5);
    EXPECT_EQ(partsWon, 5);
    EXPECT_EQ(catalog.parts(clip.id).size(), 5);
}

TEST(CatalogTest, ClipsPartsQuotaAndRemoval) {
    Catalog catalog({}, freshFolder("clips"));
    ClipRecord clip = clipFor("u", 250);
    EXPECT_EQ(clip.partCount(), 3);
    EXPECT_EQ(clip.partBytes(1), 100);
    EXPECT_EQ(clip.partBytes(3), 50);
    EXPECT_EQ(clip.partBytes(4), -1);
    clip.size = 300;
    EXPECT_EQ(clip.partCount(), 3);
    EXPECT_EQ(clip.partBytes(3), 100);
    catalog.createClip(clip);
    catalog.createClip(clipFor("u", 50));
    catalog.createClip(clipFor("v", 999));
    EXPECT_EQ(catalog.usedBytes("u"), 350);
    EXPECT_EQ(catalog.userClips("u").size(), 2);
    EXPECT_TRUE(catalog.addPart(clip.id, {2, 100, "aa", "tag"}));
    EXPECT_FALSE(catalog.addPart(clip.id, {2, 100, "bb", ""}));
    EXPECT_EQ(catalog.part(clip.id, 2)->sha256, "aa");
    EXPECT_TRUE(catalog.finishClip(clip.id, {1280, 720, 29.5}));
    EXPECT_FALSE(catalog.finishClip(clip.id, {1, 1, 1})) << "a clip finishes once";
    EXPECT_EQ(catalog.clip(clip.id)->width, 1280);
    EXPECT_EQ(catalog.clip(clip.id)->state, ClipState::Ready);
    EXPECT_TRUE(catalog.removeClip(clip.id));
    EXPECT_FALSE(catalog.clip(clip.id));
    EXPECT_TRUE(catalog.parts(clip.id).isEmpty());
    EXPECT_FALSE(catalog.removeClip(clip.id));
}

TEST(DiskStoreTest, OnlyCommittedBytesAppearAndPartsJoinInOrder) {
    const QString root = freshFolder("blobs");
    DiskBlobStore store(root);
    const QString id = newId();
    const QString handle = store.beginUpload(id);
    {
        auto abandoned = store.openPart(id, handle, 1, 5);
        abandoned->write("xxxxx", 5);
    }
    EXPECT_TRUE(
        QDir(store.clipFolder(id) + "/parts").entryList(QDir::Files | QDir::Hidden).isEmpty());
    for (int n : {2, 1}) {
        auto sink = store.openPart(id, handle, n, 3);
        sink->write(n == 1 ? "abc" : "def", 3);
        sink->commit();
    }
    store.joinParts(id, handle, {{1, 3, {}}, {2, 3, {}}});
    std::unique_ptr<BlobReader> video = store.open(id, BlobKind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->size(), 6);
    char bytes[8] = {};
    EXPECT_EQ(video->read(2, bytes, 8), 4u);
    EXPECT_EQ(std::string(bytes, 4), "cdef");
    EXPECT_EQ(video->read(6, bytes, 8), 0u);
    EXPECT_FALSE(QDir(store.clipFolder(id) + "/parts").exists());
    EXPECT_FALSE(store.open(id, BlobKind::Preview));
    store.removeClip(id, handle);
    EXPECT_FALSE(store.open(id, BlobKind::Video));
    for (const char* bad : {"..", "a/b", "a.b", "", "é"})
        EXPECT_THROW(store.open(QString::fromUtf8(bad), BlobKind::Video), BlobError) << bad;
}

TEST(DiskStoreTest, AJoinIsKeptAcrossARepeatAndRefusesMissingOrDamagedParts) {
    const QString root = freshFolder("joins");
    DiskBlobStore store(root);
    auto upload = [&](const QString& id, int parts) {
        const QString handle = store.beginUpload(id);
        for (int n = 1; n <= parts; ++n) {
            auto sink = store.openPart(id, handle, n, 4);
            sink->write(QByteArray::number(1000 + n).constData(), 4);
            sink->commit();
        }
        return handle;
    };
    auto all = [&](const QString& id) {
        std::unique_ptr<BlobReader> video = store.open(id, BlobKind::Video);
        if (!video)
            return std::string("(none)");
        std::string bytes(size_t(video->size()), '\0');
        EXPECT_EQ(video->read(0, bytes.data(), bytes.size()), bytes.size());
        return bytes;
    };

    // The service stopped between the join and recording the clip as finished: the repeated
    // join of the client's retry finds the video whole.
    const QString id = newId();
    const QString handle = upload(id, 3);
    const QList<StoredPart> parts{{1, 4, {}}, {2, 4, {}}, {3, 4, {}}};
    store.joinParts(id, handle, parts);
    store.joinParts(id, handle, parts);
    EXPECT_EQ(all(id), "100110021003");

    // A part that is not there, or not of its recorded size, stops the join with the parts kept.
    const QString gap = newId();
    const QString gapHandle = upload(gap, 2);
    EXPECT_THROW(store.joinParts(gap, gapHandle, {{1, 4, {}}, {2, 4, {}}, {3, 4, {}}}),
                 BlobError);
    EXPECT_THROW(store.joinParts(gap, gapHandle, {{1, 4, {}}, {2, 5, {}}}), BlobError);
    EXPECT_EQ(all(gap), "(none)");
    store.joinParts(gap, gapHandle, {{1, 4, {}}, {2, 4, {}}});
    EXPECT_EQ(all(gap), "10011002");

    // A stored part changed behind the service's back is an error when read, never other bytes.
    QFile damaged(store.clipFolder(gap) + "/video/2");
    ASSERT_TRUE(damaged.open(QIODevice::Append));
    damaged.write("!");
    damaged.close();
    std::unique_ptr<BlobReader> video = store.open(gap, BlobKind::Video);
    ASSERT_TRUE(video);
    char bytes[8];
    EXPECT_EQ(video->read(0, bytes, 4), 4u);
    EXPECT_THROW(video->read(0, bytes, 8), BlobError);

    // A whole video stored in one file still reads, and removing the video removes either form.
    const QString whole = newId();
    auto sink = store.openBlob(whole, BlobKind::Video, 5);
    sink->write("hello", 5);
    sink->commit();
    EXPECT_EQ(all(whole), "hello");
    store.remove(whole, BlobKind::Video);
    store.remove(id, BlobKind::Video);
    EXPECT_EQ(all(whole), "(none)");
    EXPECT_EQ(all(id), "(none)");
}

TEST(MediaCheckTest, H264Mp4IsMeasuredAndTheRestRefused) {
    const QString root = freshFolder("media");
    DiskBlobStore store(root);
    auto stored = [&](const QByteArray& bytes) {
        const QString id = newId();
        auto sink = store.openBlob(id, BlobKind::Video, bytes.size());
        sink->write(bytes.constData(), size_t(bytes.size()));
        sink->commit();
        return store.open(id, BlobKind::Video);
    };
    const VideoFacts facts = checkMp4(*stored(test::readAll(test::makeClip("m.mp4", 2, 320, 180))));
    EXPECT_EQ(facts.width, 320);
    EXPECT_EQ(facts.height, 180);
    EXPECT_NEAR(facts.duration, 2.0, 0.1);
    EXPECT_THROW(checkMp4(*stored(QByteArray(5000, 'x'))), MediaRefused);
    EXPECT_THROW(checkMp4(*stored(test::readAll(test::makeClip("v.mp4", 1, 160, 90, "mpeg4")))),
                 MediaRefused);
    const QString audio = QString::fromStdString(test::testHome().string()) + "/a.mp4";
    test::run("ffmpeg -nostdin -y -v error -f lavfi -i sine -t 1 -c:a aac '" + audio.toStdString() +
              "'");
    EXPECT_THROW(checkMp4(*stored(test::readAll(audio))), MediaRefused);

    const AssetFacts jpeg = checkJpeg(test::readAll(test::makeJpeg("t.jpg", 200, 100)));
    EXPECT_EQ(jpeg.width, 200);
    EXPECT_EQ(jpeg.height, 100);
    EXPECT_THROW(checkJpeg("\xFF\xD8\xFF"), MediaRefused);
    EXPECT_THROW(checkJpeg(QByteArray(100, '\xFF')), MediaRefused);
}

TEST(ConfigTest, DataAloneIsEnoughAndBadValuesSayWhichSetting) {
    const ServerConfig plain = ServerConfig::fromArguments({"--data", "/tmp/x"});
    EXPECT_EQ(plain.listenHost, "127.0.0.1");
    EXPECT_EQ(plain.listenPort, 8080);
    EXPECT_EQ(plain.partSize, 8 * 1024 * 1024);
    EXPECT_EQ(plain.link("c/abc").toString(), "http://127.0.0.1:8080/c/abc");
    EXPECT_FALSE(plain.discord.enabled());
    const ServerConfig behindProxy = ServerConfig::fromArguments(
        {"--data", "/tmp/x", "--public-url", "https://clips.example.org/share"});
    EXPECT_EQ(behindProxy.link("c/abc").toString(), "https://clips.example.org/share/c/abc");

    const QString file = QString::fromStdString(test::testHome().string()) + "/share.ini";
    test::writeFile(file.toStdString(), "data=/srv/share\nlisten=0.0.0.0:9000\npart-size=300000\n");
    const ServerConfig fromFile =
        ServerConfig::fromArguments({"--config", file, "--part-size", "400000"});
    EXPECT_EQ(fromFile.dataDir, "/srv/share");
    EXPECT_EQ(fromFile.listenPort, 9000);
    EXPECT_EQ(fromFile.partSize, 400000) << "flags win over the file";

    auto message = [](const QStringList& arguments) {
        try {
            ServerConfig::fromArguments(arguments);
        } catch (const ConfigError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message({}).find("--data DIR"), std::string::npos);
    EXPECT_NE(message({"--data", "d", "--part-size", "0"}).find("part-size"), std::string::npos);
    EXPECT_NE(message({"--data", "d", "--part-size", "65536"}).find("262144"), std::string::npos);
    EXPECT_NE(message({"--data", "d", "--listen", "nowhere"}).find("HOST:PORT"), std::string::npos);
    EXPECT_NE(message({"--data", "d", "--public-url", "ftp://x"}).find("public-url"),
              std::string::npos);
    EXPECT_NE(message({"--data", "d", "--colour", "red"}).find("Unknown setting"),
              std::string::npos);
    EXPECT_NE(message({"--data", "d", "--discord-client-id", "1"}).find("both"), std::string::npos);
    EXPECT_NE(message({"--data"}).find("--SETTING VALUE"), std::string::npos);
}

TEST(IdsTest, IdsAreLongRandomAndUrlSafe) {
    std::set<QString> seen;
    for (int i = 0; i < 1000; ++i) {
        const QString id = newId();
        EXPECT_EQ(id.size(), 16);
        EXPECT_TRUE(isSafeId(id));
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(s256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

} // namespace
} // namespace vantel::server
