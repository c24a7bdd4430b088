// The catalog on PostgreSQL, in a throw-away cluster, as several service instances use it: two
// Catalog objects on one database stand for two processes. What one records the other sees at
// once; the steps that must happen once (a code, an invitation, a part, finishing a clip) are
// won by exactly one of them, also when they race on threads; instances may start together.

#include "PgCluster.h"
#include "common/TestEnv.h"
#include "server/Catalog.h"
#include "server/Ids.h"

#include <QSqlDatabase>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace vantel::server;
using vantel::test::PgCluster;

namespace {

class PgCatalogTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_cluster = std::make_unique<PgCluster>(); }
    static void TearDownTestSuite() { s_cluster.reset(); }

    DatabaseConfig freshDatabase() {
        static int count = 0;
        return {s_cluster->url(s_cluster->createDatabase(QStringLiteral("db%1").arg(++count)))};
    }

    static ClipRecord clipOf(const QString& userId, int64_t created) {
        ClipRecord clip;
        clip.id = newId();
        clip.userId = userId;
        clip.title = QStringLiteral("Clutch ☆ \"ace\"");
        clip.game = QStringLiteral("Game");
        clip.size = 20'000'000;
        clip.partSize = 8 * 1024 * 1024;
        clip.uploadHandle = QStringLiteral("upload-") + clip.id;
        clip.created = created;
        return clip;
    }

    static std::unique_ptr<PgCluster> s_cluster;
};

std::unique_ptr<PgCluster> PgCatalogTest::s_cluster;

} // namespace

TEST_F(PgCatalogTest, TheDriverIsThere) {
    EXPECT_TRUE(QSqlDatabase::isDriverAvailable("QPSQL")) << "package libqt6sql6-psql";
}

TEST_F(PgCatalogTest, TwoInstancesShareUsersTokensAndOneTimeSteps) {
    const DatabaseConfig db = freshDatabase();
    Catalog one(db, QString()), two(db, QString());
    const UserRecord user =
        one.signInDiscordUser("42", "Ada", QStringLiteral("https://a/b.png"), 1);
    const UserRecord again = two.signInDiscordUser("42", "Ada L.", std::nullopt, 2);
    EXPECT_EQ(again.id, user.id);
    EXPECT_EQ(one.user(user.id)->name, "Ada L.");
    EXPECT_FALSE(one.user(user.id)->avatar);

    one.addToken(sha256Hex("token"), user.id, 3);
    EXPECT_EQ(two.userForToken(sha256Hex("token"))->id, user.id);
    two.removeToken(sha256Hex("token"));
    EXPECT_FALSE(one.userForToken(sha256Hex("token")));

    one.addCode(sha256Hex("code"), {user.id, "challenge", 100});
    EXPECT_FALSE(two.takeCode(sha256Hex("code"), 101)) << "an expired code";
    one.addCode(sha256Hex("code2"), {user.id, "challenge", 100});
    EXPECT_TRUE(two.takeCode(sha256Hex("code2"), 50));
    EXPECT_FALSE(one.takeCode(sha256Hex("code2"), 50)) << "a code works once";

    one.addInvite(sha256Hex("key"), "Bob", 100);
    EXPECT_EQ(two.takeInvite(sha256Hex("key"), 10), "Bob");
    EXPECT_FALSE(one.takeInvite(sha256Hex("key"), 10));
    EXPECT_EQ(one.signInInvitedUser("Bob", 11).id, two.signInInvitedUser("Bob", 12).id);
}

TEST_F(PgCatalogTest, ClipsAndPartsAcrossInstances) {
    const DatabaseConfig db = freshDatabase();
    Catalog one(db, QString()), two(db, QString());
    const UserRecord user = one.signInInvitedUser("Cy", 1);
    const ClipRecord older = clipOf(user.id, 10), newer = clipOf(user.id, 20);
    one.createClip(older);
    two.createClip(newer);
    const QList<ClipRecord> mine = one.userClips(user.id);
    ASSERT_EQ(mine.size(), 2);
    EXPECT_EQ(mine[0].id, newer.id);
    EXPECT_EQ(mine[0].title, newer.title);
    EXPECT_EQ(mine[0].uploadHandle, newer.uploadHandle);
    EXPECT_EQ(two.usedBytes(user.id), 40'000'000);

    EXPECT_TRUE(one.addPart(newer.id, {2, 8, "b", "\"etag2\""}));
    EXPECT_TRUE(two.addPart(newer.id, {1, 8, "a", "\"etag1\""}));
    EXPECT_FALSE(one.addPart(newer.id, {1, 8, "other", "\"x\""}));
    const QList<PartRecord> parts = one.parts(newer.id);
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0].number, 1);
    EXPECT_EQ(parts[0].tag, "\"etag1\"");
    EXPECT_EQ(parts[1].sha256, "b");

    EXPECT_TRUE(two.finishClip(newer.id, {1920, 1080, 12.5}));
    EXPECT_FALSE(one.finishClip(newer.id, {1, 1, 1}));
    const ClipRecord ready = *one.clip(newer.id);
    EXPECT_EQ(ready.state, ClipState::Ready);
    EXPECT_EQ(ready.width, 1920);
    EXPECT_DOUBLE_EQ(ready.duration, 12.5);
    one.countView(newer.id);
    two.countView(newer.id);
    EXPECT_EQ(one.clip(newer.id)->views, 2);
    EXPECT_TRUE(two.renameClip(newer.id, "Renamed"));
    EXPECT_EQ(one.clip(newer.id)->title, "Renamed");
    EXPECT_TRUE(one.removeClip(newer.id));
    EXPECT_FALSE(two.clip(newer.id));
    EXPECT_TRUE(two.parts(newer.id).isEmpty());
    EXPECT_FALSE(two.removeClip(newer.id));
}

TEST_F(PgCatalogTest, RacingInstancesRecordAPartAndACodeOnce) {
    const DatabaseConfig db = freshDatabase();
    Catalog one(db, QString()), two(db, QString());
    const UserRecord user = one.signInInvitedUser("Di", 1);
    const ClipRecord clip = clipOf(user.id, 1);
    one.createClip(clip);
    for (int round = 0; round < 20; ++round)
        one.addCode(sha256Hex(QString::number(round)), {user.id, "c", 1000});
    std::atomic<int> partsWon = 0, codesWon = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Catalog& mine = t % 2 ? one : two;
            for (int round = 0; round < 20; ++round) {
                partsWon += mine.addPart(clip.id, {round + 1, 1, "h", "e"}) ? 1 : 0;
                codesWon += mine.takeCode(sha256Hex(QString::number(round)), 10) ? 1 : 0;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(partsWon, 20);
    EXPECT_EQ(codesWon, 20);
    EXPECT_EQ(two.parts(clip.id).size(), 20);
}

TEST_F(PgCatalogTest, InstancesStartingTogetherBothCreateTheSchema) {
    const DatabaseConfig db = freshDatabase();
    std::atomic<int> failures = 0;
    std::vector<std::thread> starts;
    for (int i = 0; i < 4; ++i)
        starts.emplace_back([&] {
            try {
                Catalog instance(db, QString());
                instance.user("nobody");
            } catch (const CatalogError& error) {
                ADD_FAILURE() << error.what();
                ++failures;
            }
        });
    for (std::thread& start : starts)
        start.join();
    EXPECT_EQ(failures, 0);
}

// The disk store names no upload and gives no part receipts: empty texts, which QtSql would bind
// as SQL NULL into NOT NULL columns. On SQLite (the embedded default) and on PostgreSQL alike.
TEST_F(PgCatalogTest, EmptyHandlesAndReceiptsAreStoredAsText) {
    const QString sqliteDir = QString::fromStdString((vantel::test::testHome() / "empty").string());
    for (const DatabaseConfig& db : {DatabaseConfig{}, freshDatabase()}) {
        Catalog catalog(db, sqliteDir);
        const UserRecord user = catalog.signInInvitedUser("Ed", 1);
        ClipRecord clip = clipOf(user.id, 1);
        clip.uploadHandle = QString();
        ASSERT_NO_THROW(catalog.createClip(clip)) << db.url.toStdString();
        EXPECT_TRUE(catalog.addPart(clip.id, {1, 8, "h", QString()}));
        EXPECT_EQ(catalog.clip(clip.id)->uploadHandle, "");
        EXPECT_EQ(catalog.part(clip.id, 1)->tag, "");
        const UserRecord noAvatar = catalog.signInDiscordUser("7", "Fay", std::nullopt, 1);
        EXPECT_FALSE(catalog.user(noAvatar.id)->avatar) << "a missing avatar stays NULL";
    }
}

TEST_F(PgCatalogTest, AnUnreachableDatabaseIsAClearError) {
    try {
        Catalog(DatabaseConfig{QStringLiteral("postgresql://app@127.0.0.1:1/none")}, QString());
        FAIL() << "opened a database that is not there";
    } catch (const CatalogError& error) {
        EXPECT_NE(std::string(error.what()).find("database"), std::string::npos) << error.what();
    }
}
