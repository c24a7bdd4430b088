// Uploads against the real vantel-share over loopback: create, parts, thumbnail, preview, done,
// the MP4 served with ranges, rename and delete; and every hostile request of the list, each a
// clear error that leaves nothing stored.

#include "ServerRig.h"
#include "sharing/Replies.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantel::test {
namespace {

constexpr int64_t partSize = 256 * 1024;

struct Share {
    std::string id;
    int64_t partSize = 0;
    int64_t size = 0;
    int64_t parts() const { return (size + partSize - 1) / partSize; }
};

class Uploads : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new ShareProcess({"--part-size", QString::number(partSize), "--clip-size-limit",
                                     "50000000", "--user-quota", "60000000", "--read-timeout", "2",
                                     "--app-version", "1.4.0", "--app-url",
                                     "https://example.org/vantel-record"});
        s_clip = new QByteArray(readAll(makeClip("upload.mp4", 3, 640, 360)));
        s_thumb = new QByteArray(readAll(makeJpeg("thumb.jpg", 320, 180)));
        s_owner = new std::string(signInByInvite(*s_server, "Owner"));
        s_other = new std::string(signInByInvite(*s_server, "Other"));
    }
    static void TearDownTestSuite() {
        const QString report = s_server->stop();
        EXPECT_EQ(report, "");
        delete s_server;
        delete s_clip;
        delete s_thumb;
        delete s_owner;
        delete s_other;
    }

    void SetUp() override {
        ASSERT_TRUE(s_server->running());
        ASSERT_GT(s_clip->size(), 2 * partSize) << "the test clip must need several parts";
        ASSERT_FALSE(s_owner->empty());
        m_client = s_server->client();
    }

    static httplib::Headers as(const std::string& token) {
        return {{"Authorization", "Bearer " + token}};
    }

    Share create(int64_t size, bool preview = false, const std::string& token = *s_owner) {
        QJsonObject body{{"title", "Ace <clutch> & \"win\""},
                         {"game", "Deep Rock"},
                         {"duration", 2.0},
                         {"width", 320},
                         {"height", 180},
                         {"size", qint64(size)},
                         {"preview", preview}};
        const auto reply = m_client->Post(
            "/api/clips", as(token),
            QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
        EXPECT_TRUE(reply && reply->status == 201) << (reply ? reply->body : "no answer");
        if (!reply || reply->status != 201)
            return {};
        const Sharing::Created created =
            Sharing::Created::fromJson(QByteArray::fromStdString(reply->body));
        EXPECT_EQ(created.url.toStdString(), s_server->base() + "c/" + created.id.toStdString());
        return {created.id.toStdString(), created.partSize, size};
    }

    httplib::Result put(const Share& share, const std::string& part, const QByteArray& bytes,
                        const std::string& type = "video/mp4",
                        const std::string& token = *s_owner) {
        return m_client->Put(("/api/clips/" + share.id + "/" + part).c_str(), as(token),
                             bytes.constData(), size_t(bytes.size()), type.c_str());
    }

    QByteArray partOf(const QByteArray& file, int64_t number) const {
        return file.mid(qsizetype((number - 1) * partSize), qsizetype(partSize));
    }

    httplib::Result done(const Share& share, int64_t parts, const std::string& token = *s_owner) {
        return m_client->Post(("/api/clips/" + share.id + "/done").c_str(), as(token),
                              "{\"parts\":" + std::to_string(parts) + "}", "application/json");
    }

    // Uploads a whole file; the link.
    std::string shareFile(const QByteArray& file) {
        const Share share = create(file.size());
        for (int64_t n = 1; n <= share.parts(); ++n)
            EXPECT_EQ(put(share, "video/" + std::to_string(n), partOf(file, n))->status, 200);
        const auto finished = done(share, share.parts());
        return finished && finished->status == 200 ? share.id : std::string();
    }

    QString clipFolder(const std::string& id) const {
        const QString name = QString::fromStdString(id);
        return s_server->dataDir() + "/blobs/" + name.left(2) + "/" + name;
    }
    QStringList storedParts(const std::string& id) const {
        return QDir(clipFolder(id) + "/parts").entryList(QDir::Files, QDir::Name);
    }

    static std::string errorOf(const httplib::Result& result) {
        if (!result)
            return "(no answer)";
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
        return object.value("error").toString().toStdString();
    }

    static ShareProcess* s_server;
    static QByteArray* s_clip;
    static QByteArray* s_thumb;
    static std::string* s_owner;
    static std::string* s_other;
    std::unique_ptr<httplib::Client> m_client;
};

ShareProcess* Uploads::s_server = nullptr;
QByteArray* Uploads::s_clip = nullptr;
QByteArray* Uploads::s_thumb = nullptr;
std::string* Uploads::s_owner = nullptr;
std::string* Uploads::s_other = nullptr;

TEST_F(Uploads, AClipGoesUpInPartsAndIsServedWithRangesThenRenamedAndDeleted) {
    const QByteArray& file = *s_clip;
    const Share share = create(file.size());
    ASSERT_EQ(share.id.size(), 16u);
    EXPECT_EQ(share.partSize, partSize);
    for (int64_t n = 1; n <= share.parts(); ++n)
        ASSERT_EQ(put(share, "video/" + std::to_string(n), partOf(file, n))->status, 200);
    ASSERT_EQ(put(share, "thumb", *s_thumb, "image/jpeg")->status, 200);
    const auto finished = done(share, share.parts());
    ASSERT_EQ(finished->status, 200) << finished->body;
    EXPECT_EQ(Sharing::Done::fromJson(QByteArray::fromStdString(finished->body)).url.toStdString(),
              s_server->base() + "c/" + share.id);
    EXPECT_EQ(storedParts(share.id), QStringList()) << "the parts are dropped once joined";

    const std::string mp4 = "/c/" + share.id + ".mp4";
    const auto whole = m_client->Get(mp4.c_str());
    ASSERT_EQ(whole->status, 200);
    EXPECT_TRUE(QByteArray::fromStdString(whole->body) == file);
    EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
    EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
    EXPECT_NE(whole->get_header_value("Cache-Control").find("max-age"), std::string::npos);

    const auto head = m_client->Head(mp4.c_str());
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(file.size()));
    EXPECT_TRUE(head->body.empty());

    const auto range = m_client->Get(mp4.c_str(), {{"Range", "bytes=100-199"}});
    EXPECT_EQ(range->status, 206);
    EXPECT_EQ(range->get_header_value("Content-Range"),
              "bytes 100-199/" + std::to_string(file.size()));
    EXPECT_TRUE(QByteArray::fromStdString(range->body) == file.mid(100, 100));
    const auto tail = m_client->Get(mp4.c_str(), {{"Range", "bytes=-10"}});
    EXPECT_EQ(tail->status, 206);
    EXPECT_TRUE(QByteArray::fromStdString(tail->body) == file.right(10));
    for (const std::string& past :
         std::vector<std::string>{"bytes=" + std::to_string(file.size()) + "-",
                                  "bytes=" + std::to_string(file.size() + 5000) + "-" +
                                      std::to_string(file.size() + 6000)}) {
        const auto beyond = m_client->Get(mp4.c_str(), {{"Range", past}});
        EXPECT_EQ(beyond->status, 416) << past;
        EXPECT_EQ(beyond->get_header_value("Content-Range"),
                  "bytes */" + std::to_string(file.size()));
    }
    const auto thumb = m_client->Get(("/c/" + share.id + "/thumb.jpg").c_str());
    EXPECT_EQ(thumb->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_TRUE(QByteArray::fromStdString(thumb->body) == *s_thumb);

    // The page shows the title as text, whatever it holds.
    const auto page = m_client->Get(("/c/" + share.id).c_str());
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("Ace &lt;clutch&gt; &amp; &quot;win&quot;"), std::string::npos);
    EXPECT_EQ(page->body.find("<clutch>"), std::string::npos);

    const auto renamed = m_client->Patch(("/api/clips/" + share.id).c_str(), as(*s_owner),
                                         R"({"title":"Triple ' OR 1=1 --"})", "application/json");
    EXPECT_EQ(renamed->status, 200);
    EXPECT_NE(m_client->Get(("/c/" + share.id).c_str())->body.find("Triple &#39; OR 1=1 --"),
              std::string::npos);
    for (const char* bad : {R"({"title":"   "})", R"({"title":5})", R"({"name":"x"})", "{"})
        EXPECT_EQ(
            m_client
                ->Patch(("/api/clips/" + share.id).c_str(), as(*s_owner), bad, "application/json")
                ->status,
            400)
            << bad;

    // Deleting removes the record and the files; a second delete is 404, which the program
    // treats as done.
    EXPECT_EQ(m_client->Delete(("/api/clips/" + share.id).c_str(), as(*s_owner))->status, 200);
    EXPECT_EQ(m_client->Get(("/c/" + share.id).c_str())->status, 404);
    EXPECT_EQ(m_client->Get(mp4.c_str())->status, 404);
    EXPECT_FALSE(QDir(clipFolder(share.id)).exists());
    EXPECT_EQ(m_client->Delete(("/api/clips/" + share.id).c_str(), as(*s_owner))->status, 404);
}

TEST_F(Uploads, HostilePartsAreRefusedAndLeaveOnlyTheGoodOnes) {
    const QByteArray& file = *s_clip;
    const Share share = create(file.size());
    const int64_t count = share.parts();
    const QByteArray first = partOf(file, 1);

    for (const std::string& number : std::vector<std::string>{
             "0", std::to_string(count + 1), "abc", "1e1", "-1", "+1", "99999999999999999999"}) {
        const auto refused = put(share, "video/" + number, first);
        ASSERT_TRUE(refused) << number;
        EXPECT_EQ(refused->status, 400) << number;
        EXPECT_NE(errorOf(refused).find("There is no part"), std::string::npos) << number;
    }
    const auto tooLarge = put(share, "video/1", first + QByteArray(10, 'x'));
    EXPECT_EQ(tooLarge->status, 413);
    EXPECT_NE(errorOf(tooLarge).find("larger than the part size"), std::string::npos);
    const auto tooShort = put(share, "video/1", first.left(1000));
    EXPECT_EQ(tooShort->status, 400);
    EXPECT_NE(errorOf(tooShort).find("must be"), std::string::npos);
    EXPECT_EQ(storedParts(share.id), QStringList());

    ASSERT_EQ(put(share, "video/1", first)->status, 200);
    EXPECT_EQ(put(share, "video/1", first)->status, 200) << "a retry of the same bytes is fine";
    QByteArray other = first;
    other[100] = char(other[100] ^ 0x5a);
    const auto changed = put(share, "video/1", other);
    EXPECT_EQ(changed->status, 409);
    EXPECT_NE(errorOf(changed).find("other bytes"), std::string::npos);

    const auto early = done(share, count);
    EXPECT_EQ(early->status, 400);
    EXPECT_NE(errorOf(early).find("not arrived"), std::string::npos) << errorOf(early);
    EXPECT_NE(errorOf(early).find(" 2"), std::string::npos) << errorOf(early);
    EXPECT_EQ(done(share, count + 1)->status, 400);
    EXPECT_EQ(m_client
                  ->Post(("/api/clips/" + share.id + "/done").c_str(), as(*s_owner), "{parts: 1}",
                         "application/json")
                  ->status,
              400);
    EXPECT_EQ(storedParts(share.id), QStringList{"1"});
    EXPECT_EQ(m_client->Get(("/c/" + share.id).c_str())->status, 404)
        << "an unfinished clip has no page";

    for (int64_t n = 2; n <= count; ++n)
        ASSERT_EQ(put(share, "video/" + std::to_string(n), partOf(file, n))->status, 200);
    ASSERT_EQ(done(share, count)->status, 200);
    EXPECT_TRUE(
        QByteArray::fromStdString(m_client->Get(("/c/" + share.id + ".mp4").c_str())->body) == file)
        << "the refused bytes never replaced the first part";
    EXPECT_EQ(put(share, "video/1", first)->status, 409) << "a finished clip takes no parts";
}

TEST_F(Uploads, SomeoneElsesClipAndBadTokensAreRefused) {
    const Share share = create(s_clip->size());
    const QByteArray first = partOf(*s_clip, 1);
    const std::string path = "/api/clips/" + share.id;
    EXPECT_EQ(put(share, "video/1", first, "video/mp4", *s_other)->status, 403);
    EXPECT_EQ(put(share, "thumb", *s_thumb, "image/jpeg", *s_other)->status, 403);
    EXPECT_EQ(done(share, share.parts(), *s_other)->status, 403);
    const auto renamed =
        m_client->Patch(path.c_str(), as(*s_other), R"({"title":"mine"})", "application/json");
    EXPECT_EQ(renamed->status, 403);
    EXPECT_EQ(errorOf(renamed), "This clip belongs to someone else.");
    EXPECT_EQ(m_client->Delete(path.c_str(), as(*s_other))->status, 403);
    EXPECT_EQ(m_client->Delete(path.c_str(), as("not-a-token"))->status, 401);
    EXPECT_EQ(m_client->Delete(path.c_str())->status, 401);
    EXPECT_EQ(storedParts(share.id), QStringList());
    EXPECT_TRUE(QDir(clipFolder(share.id)).exists()) << "the owner's clip is still there";
}

TEST_F(Uploads, SizesOverTheLimitOrQuotaAndBadDescriptionsAreRefusedAtCreation) {
    auto post = [&](const std::string& body, const std::string& token) {
        return m_client->Post("/api/clips", as(token), body, "application/json");
    };
    const std::string quotaUser = signInByInvite(*s_server, "Quota");
    auto describe = [](int64_t size) {
        return R"({"title":"t","game":"g","duration":1.5,"width":320,"height":180,"size":)" +
               std::to_string(size) + R"(,"preview":false})";
    };
    const auto huge = post(describe(60'000'000), quotaUser);
    EXPECT_EQ(huge->status, 413);
    EXPECT_NE(errorOf(huge).find("takes clips up to 50 MB"), std::string::npos) << errorOf(huge);
    EXPECT_EQ(post(describe(40'000'000), quotaUser)->status, 201);
    const auto over = post(describe(30'000'000), quotaUser);
    EXPECT_EQ(over->status, 413);
    EXPECT_NE(errorOf(over).find("Your shared clips use 40 MB of your 60 MB"), std::string::npos)
        << errorOf(over);
    for (const std::string& bad : std::vector<std::string>{
             std::string("{"), std::string("[1]"), describe(0), describe(-5),
             std::string(R"({"title":"t","game":"g","duration":"long","width":1,"height":1,)"
                         R"("size":10,"preview":false})"),
             std::string(R"({"title":"t","game":"g","duration":1,"width":1.5,"height":1,)"
                         R"("size":10,"preview":false})"),
             std::string(R"({"title":"t","duration":1,"width":1,"height":1,"size":10,)"
                         R"("preview":false})")}) {
        const auto refused = post(bad, quotaUser);
        EXPECT_EQ(refused->status, 400) << bad;
        EXPECT_FALSE(errorOf(refused).empty()) << bad;
    }
}

TEST_F(Uploads, WhatIsNotAnH264Mp4IsRefusedAndRemoved) {
    QByteArray noise(3 * partSize - 77, Qt::Uninitialized);
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) >> 3);
    const QByteArray mpeg4 = readAll(makeClip("mpeg4.mp4", 1, 320, 180, "mpeg4"));
    ASSERT_GT(mpeg4.size(), 0);
    for (const QByteArray* file : std::initializer_list<const QByteArray*>{&noise, &mpeg4}) {
        const Share share = create(file->size());
        for (int64_t n = 1; n <= share.parts(); ++n)
            ASSERT_EQ(put(share, "video/" + std::to_string(n), partOf(*file, n))->status, 200);
        const auto refused = done(share, share.parts());
        EXPECT_EQ(refused->status, 422);
        EXPECT_NE(errorOf(refused).find(file == &noise ? "not an MP4" : "not H.264"),
                  std::string::npos)
            << errorOf(refused);
        EXPECT_FALSE(QDir(clipFolder(share.id)).exists());
        EXPECT_EQ(m_client->Get(("/c/" + share.id + ".mp4").c_str())->status, 404);
        EXPECT_EQ(done(share, share.parts())->status, 404);
    }
    const Share share = create(s_clip->size());
    const auto notJpeg = put(share, "thumb", noise.left(5000), "image/jpeg");
    EXPECT_EQ(notJpeg->status, 422);
    EXPECT_FALSE(QFile::exists(clipFolder(share.id) + "/thumb.jpg"));
    const auto notPreview = put(share, "preview", noise.left(5000));
    EXPECT_EQ(notPreview->status, 422);
    EXPECT_FALSE(QFile::exists(clipFolder(share.id) + "/preview.mp4"));
}

TEST_F(Uploads, IdsWithPathCharactersReachNoFile) {
    const QByteArray body = "x";
    for (const std::string& id : std::vector<std::string>{
             "..", "..%2F..%2Fcatalog.sqlite", "a.b", "%2e%2e", "a%00b", std::string(80, 'a')}) {
        const auto part = m_client->Put(("/api/clips/" + id + "/video/1").c_str(), as(*s_owner),
                                        body.constData(), 1, "video/mp4");
        ASSERT_TRUE(part) << id;
        EXPECT_TRUE(part->status == 400 || part->status == 404) << id << " " << part->status;
        EXPECT_FALSE(errorOf(part).empty()) << id;
        const auto removed = m_client->Delete(("/api/clips/" + id).c_str(), as(*s_owner));
        EXPECT_TRUE(removed->status == 400 || removed->status == 404) << id;
    }
    for (const char* path : {"/c/../catalog.sqlite", "/c/..%2Fcatalog.sqlite.mp4",
                             "/c/%2e%2e/thumb.jpg", "/catalog.sqlite", "/blobs"})
        EXPECT_EQ(m_client->Get(path)->status, 404) << path;
    EXPECT_TRUE(QFile::exists(s_server->dataDir() + "/catalog.sqlite"));
}

TEST_F(Uploads, AClientThatStopsMidPartIsDroppedAndLeavesNothing) {
    const Share share = create(s_clip->size());
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(s_server->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string head =
        "PUT /api/clips/" + share.id +
        "/video/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + *s_owner +
        "\r\nContent-Type: video/mp4\r\nContent-Length: " + std::to_string(partSize) + "\r\n\r\n";
    ASSERT_EQ(::send(socket, head.data(), head.size(), 0), ssize_t(head.size()));
    ASSERT_EQ(::send(socket, s_clip->constData(), 1000, 0), 1000);
    QElapsedTimer clock;
    clock.start();
    timeval wait{10, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char answer[512];
    ssize_t got = 0;
    while ((got = ::recv(socket, answer, sizeof answer, 0)) > 0) {
    }
    const qint64 waited = clock.elapsed();
    ::close(socket);
    EXPECT_EQ(got, 0) << "the server closes the connection";
    EXPECT_LT(waited, 8000);
    EXPECT_GE(waited, 1500);
    EXPECT_EQ(storedParts(share.id), QStringList());
    EXPECT_TRUE(
        QDir(clipFolder(share.id) + "/parts").entryList(QDir::Files | QDir::Hidden).isEmpty());
    // The server still serves, and the part can come again in full.
    EXPECT_EQ(put(share, "video/1", partOf(*s_clip, 1))->status, 200);
}

TEST_F(Uploads, LargeClipsPlayTheirPreviewInChatProgramsAndTheUpdateFileIsServed) {
    const QByteArray preview = readAll(makeClip("preview.mp4", 2, 256, 144));
    const Share share = create(s_clip->size(), true);
    for (int64_t n = 1; n <= share.parts(); ++n)
        ASSERT_EQ(put(share, "video/" + std::to_string(n), partOf(*s_clip, n))->status, 200);
    ASSERT_EQ(put(share, "preview", preview)->status, 200);
    ASSERT_EQ(put(share, "thumb", *s_thumb, "image/jpeg")->status, 200);
    ASSERT_EQ(done(share, share.parts())->status, 200);
    const std::string page = m_client->Get(("/c/" + share.id).c_str())->body;
    const std::string previewLink = s_server->base() + "c/" + share.id + "/preview.mp4";
    EXPECT_NE(page.find("<meta property=\"og:video\" content=\"" + previewLink + "\">"),
              std::string::npos);
    EXPECT_NE(page.find("<meta property=\"og:video:width\" content=\"256\">"), std::string::npos);
    EXPECT_NE(page.find("src=\"" + s_server->base() + "c/" + share.id + ".mp4\""),
              std::string::npos)
        << "the page itself plays the whole clip";
    const auto served = m_client->Get(("/c/" + share.id + "/preview.mp4").c_str());
    EXPECT_TRUE(QByteArray::fromStdString(served->body) == preview);

    const auto version = m_client->Get("/app/version.json");
    EXPECT_EQ(version->status, 200);
    EXPECT_EQ(version->body, R"({"url":"https://example.org/vantel-record","version":"1.4.0"})");
}

} // namespace
} // namespace vantel::test
