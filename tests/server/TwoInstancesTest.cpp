// Two vantel-share processes on one PostgreSQL database and one S3 bucket, as behind a load
// balancer: a clip is created on one, its parts are sent alternately to each, the other
// completes it, and both serve it; the MP4 that comes back is the one sent and decodes with
// ffmpeg. Deleting it on one removes it from the bucket and from the other.

#include "PgCluster.h"
#include "S3Standin.h"
#include "ServerProcess.h"
#include "common/Shell.h"
#include "common/TestEnv.h"
#include "server/Catalog.h"
#include "server/Ids.h"
#include "server/S3BlobStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <httplib.h>

using namespace vantel::server;
using namespace vantel::test;

namespace {

constexpr int64_t kPartSize = 5 * 1024 * 1024;

QByteArray makeClip(const std::string& path) {
    run("ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi "
        "-i sine=frequency=440 -t 5 -vf noise=alls=40:allf=t -c:v libx264 -preset ultrafast "
        "-qp 10 -c:a aac -movflags +faststart '" +
        path + "'");
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject jsonOf(const httplib::Result& result) {
    return result ? QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()
                  : QJsonObject();
}

} // namespace

TEST(TwoInstances, PartsSentAlternatelyMakeOneClipThatPlays) {
    PgCluster cluster;
    S3Standin s3;
    const QString database = cluster.url(cluster.createDatabase("share"));
    const auto home = testHome();
    const QStringList shared{"--database",      database,      "--s3-endpoint",
                             s3.endpoint(),     "--s3-bucket", "clips",
                             "--s3-access-key", "S3RVER",      "--s3-secret-key",
                             "S3RVER",          "--part-size", QString::number(kPartSize)};
    ServerProcess a(VANTEL_SHARE_PROGRAM,
                    shared + QStringList{"--data", QString::fromStdString((home / "a").string())});
    ServerProcess b(VANTEL_SHARE_PROGRAM,
                    shared + QStringList{"--data", QString::fromStdString((home / "b").string())});

    // A signed-in player, written straight into the shared catalog.
    Catalog catalog(DatabaseConfig{database}, QString());
    const UserRecord player = catalog.signInInvitedUser("Player", 1);
    catalog.addToken(sha256Hex("test-token"), player.id, 1);
    const httplib::Headers auth{{"Authorization", "Bearer test-token"}};
    httplib::Client toA("127.0.0.1", a.port()), toB("127.0.0.1", b.port());

    const QByteArray clip = makeClip((home / "clip.mp4").string());
    ASSERT_GT(clip.size(), 2 * kPartSize) << "the clip must need three parts";
    const QJsonObject created =
        jsonOf(toA.Post("/api/clips", auth,
                        QJsonDocument(QJsonObject{{"title", "Ace"},
                                                  {"game", "Game"},
                                                  {"duration", 5.0},
                                                  {"width", 640},
                                                  {"height", 360},
                                                  {"size", qint64(clip.size())},
                                                  {"preview", false}})
                            .toJson()
                            .toStdString(),
                        "application/json"));
    const QString id = created.value("id").toString();
    ASSERT_FALSE(id.isEmpty()) << a.log().toStdString();
    ASSERT_EQ(created.value("partSize").toInteger(), kPartSize);

    const int parts = int((clip.size() + kPartSize - 1) / kPartSize);
    for (int n = 1; n <= parts; ++n) {
        httplib::Client& instance = n % 2 ? toA : toB;
        const QByteArray part = clip.mid((n - 1) * kPartSize, kPartSize);
        auto sent =
            instance.Put(QStringLiteral("/api/clips/%1/video/%2").arg(id).arg(n).toStdString(),
                         auth, part.constData(), size_t(part.size()), "video/mp4");
        ASSERT_TRUE(sent);
        ASSERT_EQ(sent->status, 200)
            << sent->body << a.log().toStdString() << b.log().toStdString();
    }
    auto done =
        toB.Post(("/api/clips/" + id + "/done").toStdString(), auth,
                 QStringLiteral("{\"parts\": %1}").arg(parts).toStdString(), "application/json");
    ASSERT_TRUE(done);
    ASSERT_EQ(done->status, 200) << done->body << b.log().toStdString();
    EXPECT_TRUE(jsonOf(done).value("url").toString().endsWith("/c/" + id));

    auto whole = toA.Get(("/c/" + id + ".mp4").toStdString());
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(whole->body), clip)
        << "the served file is not the sent one";
    writeFile(home / "served.mp4", whole->body);
    EXPECT_EQ(run("ffmpeg -v error -i '" + (home / "served.mp4").string() + "' -f null - 2>&1"),
              "");
    EXPECT_NE(run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                  (home / "served.mp4").string() + "'")
                  .find("5.0"),
              std::string::npos);
    auto ranged =
        toB.Get(("/c/" + id + ".mp4").toStdString(), {{"Range", "bytes=5242870-5242889"}});
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status, 206);
    EXPECT_EQ(QByteArray::fromStdString(ranged->body), clip.mid(5242870, 20));

    const S3Client bucket(s3.config());
    EXPECT_TRUE(bucket.head(S3BlobStore::key(id, BlobKind::Video)));
    auto removed = toB.Delete(("/api/clips/" + id).toStdString(), auth);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->status, 200) << removed->body;
    EXPECT_FALSE(bucket.head(S3BlobStore::key(id, BlobKind::Video)));
    auto gone = toA.Get(("/c/" + id + ".mp4").toStdString());
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->status, 404);
}
