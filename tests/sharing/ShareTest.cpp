// Sharing a clip against the loopback service: the order of requests, the preview rule, the
// parts and their bytes, the retry rule on a clock the test controls, completion, the library
// update, the working folder, and taking a link back.

#include "SharingTestSupport.h"
#include "common/Shell.h"
#include "library/InBackground.h"
#include "sharing/API.h"
#include "sharing/Sharing.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QThread>
#include <QThreadPool>
#include <atomic>

namespace vantel::test {
namespace {

using Reply = TestService::Reply;

// The bytes of a stand-in upload copy of `size` bytes: a pattern that differs at every offset
// within a part, so a part sent from the wrong offset has a different hash.
QByteArray copyBytes(qint64 from, qint64 count) {
    QByteArray bytes(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i) {
        quint64 x = static_cast<quint64>(from + i);
        bytes[i] = static_cast<char>((x * 2654435761ULL) >> 13);
    }
    return bytes;
}

QByteArray sha(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

class ShareTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        m_places = std::make_unique<LibraryPlaces>("share");
        m_library = std::make_unique<Library>(m_places->places());
        m_clip.url = m_places->clip("Game/Game 1.mp4", "source");
        m_clip.meta.title = "Old title";
        m_clip.meta.game = "Game";
        m_clip.meta.duration = 2.4;
        m_library->add(m_clip.url, m_clip.meta);
        m_token = storeValidToken();
    }

    Sharing::Services tools() {
        Sharing::Services tools = Sharing::Services::standard(*m_library);
        tools.render = [this](QString, QString target, Clips::ExportOptions options,
                              std::function<void(double)> progress) -> QCoro::Task<> {
            m_renders.append({target, options});
            qint64 size = target.endsWith("preview.mp4") ? 1000 : m_copySize;
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write the stand-in copy");
            for (qint64 at = 0; at < size; at += 8'000'000)
                file.write(copyBytes(at, std::min<qint64>(8'000'000, size - at)));
            progress(1.0);
            co_return;
        };
        tools.thumbnail = [this](QString, double maxWidth,
                                 double at) -> QCoro::Task<std::optional<QByteArray>> {
            m_thumbAt = at;
            EXPECT_EQ(maxWidth, 1280.0);
            std::optional<QByteArray> copy = m_thumb; // GCC 12 moves from a returned member
            co_return copy;
        };
        tools.facts = [](QString) -> QCoro::Task<VideoFacts> {
            co_return VideoFacts{1280, 720, 2.4};
        };
        tools.wait = [this](double seconds) -> QCoro::Task<> {
            m_waits.push_back(seconds);
            co_return;
        };
        return tools;
    }

    QString share() {
        auto progress = [this](const QString& label, double fraction) {
            m_progress.append({label, fraction});
        };
        return await(Sharing::share(m_clip, {}, QStringLiteral("New title"), progress, tools()));
    }

    template <typename E> E shareFailure() {
        try {
            share();
        } catch (const E& error) {
            return error;
        }
        throw std::logic_error("the share did not fail as expected");
    }

    std::optional<ClipMeta> storedMeta() {
        for (const Clip& clip : published(*m_library))
            if (clip.url == m_clip.url)
                return clip.meta;
        return std::nullopt;
    }

    static QStringList workFolders() {
        return QDir(QDir::tempPath()).entryList({"share-*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<LibraryPlaces> m_places;
    std::unique_ptr<Library> m_library;
    Clip m_clip;
    QString m_token;
    qint64 m_copySize = 10;
    std::optional<QByteArray> m_thumb = QByteArray("\xff\xd8 jpeg");
    double m_thumbAt = -1;
    QList<QPair<QString, Clips::ExportOptions>> m_renders;
    std::vector<double> m_waits;
    QList<QPair<QString, double>> m_progress;
};

TEST_F(ShareTest, ASmallClipGoesOutInOrderAndItsLinkIsStored) {
    const QString link = share();
    EXPECT_EQ(link, service().base().toString() + "c/" + service().lastClipId());
    QStringList order;
    for (const auto& request : service().requests())
        order << QString::fromUtf8(request.method + ' ' + request.path);
    const QString id = service().lastClipId();
    EXPECT_EQ(order,
              QStringList({"POST /api/clips", "PUT /api/clips/" + id + "/video/1",
                           "PUT /api/clips/" + id + "/thumb", "POST /api/clips/" + id + "/done"}));
    const auto& requests = service().requests();
    for (const auto& request : requests)
        EXPECT_EQ(request.headers.value("authorization"), "Bearer " + m_token.toUtf8());
    EXPECT_EQ(requests[1].headers.value("content-type"), "video/mp4");
    EXPECT_EQ(requests[2].headers.value("content-type"), "image/jpeg");
    EXPECT_EQ(requests[2].body, *m_thumb);
    EXPECT_EQ(requests[2].bodyHash, sha(*m_thumb));
    EXPECT_EQ(QJsonDocument::fromJson(requests[3].body).object(), QJsonObject({{"parts", 1}}));

    QJsonObject created = QJsonDocument::fromJson(requests[0].body).object();
    EXPECT_EQ(created, QJsonObject({{"title", "New title"},
                                    {"game", "Game"},
                                    {"duration", 2.4},
                                    {"width", 1280},
                                    {"height", 720},
                                    {"size", 10},
                                    {"preview", false}}));
    EXPECT_TRUE(requests[0].body.contains("\"width\":1280")); // an integer, not 1280.0

    ASSERT_EQ(m_renders.size(), 1);
    EXPECT_TRUE(m_renders[0].second.forceH264);
    EXPECT_NEAR(m_thumbAt, 0.8, 1e-9);
    auto meta = storedMeta();
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->shareID, id);
    EXPECT_EQ(meta->shareURL, link);
    EXPECT_EQ(meta->title, "New title");

    ASSERT_GE(m_progress.size(), 3);
    EXPECT_EQ(m_progress.first(), qMakePair(QString("Preparing"), 0.0));
    EXPECT_EQ(m_progress.last(), qMakePair(QString("Done"), 1.0));
    EXPECT_TRUE(m_progress.contains(qMakePair(QString("Uploading"), 0.95)));
    for (qsizetype i = 1; i < m_progress.size(); ++i)
        EXPECT_GE(m_progress[i].second, m_progress[i - 1].second);
}

TEST_F(ShareTest, NoTokenFailsBeforeAnythingHappens) {
    removeToken();
    auto failure = shareFailure<API::Failure>();
    EXPECT_EQ(failure.status(), 401);
    EXPECT_EQ(failure.message(), "Sign in first.");
    EXPECT_TRUE(service().requests().isEmpty());
    EXPECT_TRUE(m_renders.isEmpty());
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(ShareTest, PreviewOnlyAbove45000000Bytes) {
    service().partSize = 50'000'000;
    m_copySize = 45'000'000;
    share();
    EXPECT_EQ(m_renders.size(), 1);
    EXPECT_FALSE(QJsonDocument::fromJson(service().requests()[0].body)["preview"].toBool());
    EXPECT_TRUE(service()
                    .requestsTo("PUT", "/api/clips/" + service().lastClipId().toUtf8() + "/preview")
                    .isEmpty());
    EXPECT_EQ(service().upload(service().lastClipId())->videoHash(), sha(copyBytes(0, 45'000'000)));

    service().reset();
    service().partSize = 50'000'000;
    m_token = storeValidToken();
    m_renders.clear();
    m_copySize = 45'000'001;
    media::TimeRange range{0.5, 2.0};
    auto progress = [](const QString&, double) {
    };
    // The preview is read from its file again for a second attempt.
    service().script("PUT", "/api/clips/*/preview", {Reply{503, {}}});
    Clips::ExportOptions options;
    options.range = range;
    options.gameVolume = 0.5f;
    await(Sharing::share(m_clip, options, QStringLiteral("t"), progress, tools()));
    ASSERT_EQ(m_renders.size(), 2);
    const Clips::ExportOptions& preview = m_renders[1].second;
    EXPECT_TRUE(m_renders[1].first.endsWith("/preview.mp4"));
    EXPECT_EQ(preview.maxHeight, 720);
    EXPECT_TRUE(preview.forceH264);
    EXPECT_EQ(preview.bitrate, 4'500'000);
    EXPECT_EQ(preview.gameVolume, 0.5f);
    ASSERT_TRUE(preview.range);
    EXPECT_EQ(preview.range->start, 0.5);
    EXPECT_TRUE(QJsonDocument::fromJson(service().requests()[0].body)["preview"].toBool());
    EXPECT_EQ(service().upload(service().lastClipId())->previewHash, sha(copyBytes(0, 1000)));
    EXPECT_EQ(m_waits, std::vector<double>{1});
    EXPECT_EQ(service()
                  .requestsTo("PUT", "/api/clips/" + service().lastClipId().toUtf8() + "/preview")
                  .size(),
              2);
}

TEST_F(ShareTest, PartsCoverTheCopyExactlyWithoutAnEmptyOne) {
    struct Case {
        qint64 size;
        qint64 partSize;
        int parts;
    };
    const qint64 k = Sharing::minPartBytes;
    for (Case c :
         {Case{3 * k, k, 3}, Case{3 * k + 1, k, 4}, Case{1, k, 1}, Case{5, 1LL << 40, 1}}) {
        service().reset();
        m_token = storeValidToken();
        service().partSize = c.partSize;
        m_copySize = c.size;
        share();
        const QString id = service().lastClipId();
        auto parts = service().requestsTo("PUT", "/api/clips/" + id.toUtf8() + "/video/");
        ASSERT_EQ(parts.size(), c.parts) << c.size;
        for (int n = 1; n <= c.parts; ++n) {
            const qint64 from = (n - 1) * std::min(c.partSize, c.size);
            const qint64 count = std::min(c.partSize, c.size - from);
            EXPECT_EQ(parts[n - 1].path,
                      "/api/clips/" + id.toUtf8() + "/video/" + QByteArray::number(n));
            EXPECT_EQ(parts[n - 1].bodySize, count);
            EXPECT_EQ(parts[n - 1].bodyHash, sha(copyBytes(from, count))) << n;
        }
        EXPECT_EQ(service().upload(id)->videoHash(), sha(copyBytes(0, c.size)));
        EXPECT_EQ(QJsonDocument::fromJson(
                      service()
                          .requestsTo("POST", "/api/clips/" + id.toUtf8() + "/done")[0]
                          .body)["parts"]
                      .toInt(),
                  c.parts);
    }
}

TEST_F(ShareTest, PartSizesThatCannotWorkFailClearlyAndSendNoPart) {
    // A service answering tiny parts would have a clip sent in millions of requests.
    for (int64_t partSize : {int64_t{0}, int64_t{-5}, int64_t{1}, Sharing::minPartBytes - 1}) {
        service().reset();
        m_token = storeValidToken();
        service().partSize = partSize;
        auto error = shareFailure<std::runtime_error>();
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains("upload parts of")) << error.what();
        EXPECT_TRUE(service().requestsTo("PUT", "/api/").isEmpty());
        EXPECT_FALSE(storedMeta()->shareURL);
    }
    EXPECT_THROW(Sharing::partCount(4'000'000'000, 2'000'000'000), std::runtime_error);
    EXPECT_EQ(Sharing::partCount(4'000'000'000, 200'000'000), 20);
    EXPECT_EQ(Sharing::partCount(0, Sharing::minPartBytes), 1);
    const qint64 most = Sharing::maxParts * Sharing::minPartBytes;
    EXPECT_EQ(Sharing::partCount(most, Sharing::minPartBytes), Sharing::maxParts);
    try {
        Sharing::partCount(most + 1, Sharing::minPartBytes);
        ADD_FAILURE() << "10,001 parts were accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains("10001 uploads")) << error.what();
    }
}

TEST_F(ShareTest, RetriesWaitOneTwoFourEightSixteenAndStopAtSix) {
    service().script("PUT", "/api/clips/*/video/1",
                     {Reply{503, {}}, Reply{503, {}}, Reply{.drop = true}});
    share();
    EXPECT_EQ(m_waits, (std::vector<double>{1, 2, 4}));
    EXPECT_EQ(service().requestsTo("PUT", "/api/clips/").size(), 4 + 1); // 4 part tries, thumb
    EXPECT_TRUE(storedMeta()->shareURL);

    // Each upload has its own counter: the thumbnail starts again at 1 second.
    service().reset();
    m_token = storeValidToken();
    m_waits.clear();
    service().script("PUT", "/api/clips/*/video/1", {Reply{429, {}}});
    service().script("PUT", "/api/clips/*/thumb", {Reply{500, {}}});
    share();
    EXPECT_EQ(m_waits, (std::vector<double>{1, 1}));

    for (Reply failing : {Reply{.drop = true}, Reply{503, {}}}) {
        service().reset();
        m_token = storeValidToken();
        m_waits.clear();
        service().script("PUT", "/api/clips/*/video/1", QList<Reply>(6, failing));
        if (failing.drop)
            shareFailure<API::TransportError>();
        else
            EXPECT_EQ(shareFailure<API::Failure>().status(), 503);
        EXPECT_EQ(m_waits, (std::vector<double>{1, 2, 4, 8, 16}));
        EXPECT_EQ(service().requestsTo("PUT", "/api/clips/").size(), 6);
        EXPECT_TRUE(service().requestsTo("POST", "/api/clips/c").isEmpty());
    }
}

TEST_F(ShareTest, ClientErrorsAndCompletionAreNotRetried) {
    service().script("PUT", "/api/clips/*/video/1",
                     {Reply{413, R"({"error":"This clip is too big to share."})"}});
    auto tooBig = shareFailure<API::Failure>();
    EXPECT_EQ(tooBig.status(), 413);
    EXPECT_EQ(tooBig.message(), "This clip is too big to share.");
    EXPECT_TRUE(m_waits.empty());
    EXPECT_EQ(service().requestsTo("PUT", "/api/clips/").size(), 1);

    service().reset();
    m_token = storeValidToken();
    service().script("POST", "/api/clips/*/done", {Reply{503, {}}});
    EXPECT_EQ(shareFailure<API::Failure>().status(), 503);
    EXPECT_TRUE(m_waits.empty());
    EXPECT_EQ(service().requestsTo("POST", "/api/clips/c").size(), 1);
    auto meta = storedMeta();
    EXPECT_FALSE(meta->shareID);
    EXPECT_EQ(meta->title, "Old title");
}

TEST_F(ShareTest, ALinkThatIsNotAWebAddressFailsAndStoresNothing) {
    for (QString bad : {"javascript:alert(1)", "file:///etc/passwd", "vantelrecord://auth?code=1",
                        "not a link", ""}) {
        service().reset();
        m_token = storeValidToken();
        service().doneUrl = bad.isEmpty() ? QStringLiteral("https://") : bad;
        auto error = shareFailure<std::runtime_error>();
        EXPECT_STREQ(error.what(), "The sharing service sent a link that isn't a web address.");
        EXPECT_FALSE(storedMeta()->shareURL);
    }
    service().reset();
    m_token = storeValidToken();
    service().doneUrl = QStringLiteral("https://vantel.example/c/x");
    EXPECT_EQ(share(), "https://vantel.example/c/x");
}

TEST_F(ShareTest, TheWorkingFolderIsGoneAfterSuccessAndAfterFailure) {
    const QRegularExpression name(
        "/share-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}/clip\\.mp4$");
    share();
    ASSERT_EQ(m_renders.size(), 1);
    EXPECT_TRUE(name.match(m_renders[0].first).hasMatch()) << m_renders[0].first.toStdString();
    EXPECT_TRUE(m_renders[0].first.startsWith(QDir::tempPath()));
    EXPECT_TRUE(workFolders().isEmpty());

    service().script("POST", "/api/clips", {Reply{500, {}}});
    shareFailure<API::Failure>();
    EXPECT_TRUE(workFolders().isEmpty());
    EXPECT_EQ(m_renders.size(), 2);
}

TEST_F(ShareTest, AStoppedShareEndsWhereItWaitsAndLeavesNothingBehind) {
    // Stopped while the service holds a part: the share ends at once, not when the part would.
    service().script("PUT", "/api/clips/*", {Reply{200, "{}", "application/json", false, 3000}});
    Sharing::Services hanging = tools();
    hanging.cancellation = std::make_shared<Cancellation>();
    QCoro::Task<QString> running = Sharing::share(m_clip, {}, "New title", {}, hanging);
    ASSERT_TRUE(waitFor([&] { return !service().requestsTo("PUT", "/api/clips/").isEmpty(); }));
    EXPECT_EQ(workFolders().size(), 1);
    hanging.cancellation->cancel();
    EXPECT_TRUE(running.isReady()) << "the share ended before cancel() returned";
    EXPECT_THROW(await(std::move(running)), Cancelled);
    EXPECT_TRUE(workFolders().isEmpty());
    EXPECT_FALSE(storedMeta()->shareURL);
    EXPECT_EQ(storedMeta()->title, "Old title");
    EXPECT_TRUE(service().requestsTo("POST", "/api/clips/").isEmpty()) << "never completed";

    // Stopped while rendering: the export's thread stops at its next frame.
    std::atomic<bool> rendering{false};
    std::atomic<bool> rendered{false};
    Sharing::Services slow = tools();
    slow.cancellation = std::make_shared<Cancellation>();
    slow.render = [&](QString, QString, Clips::ExportOptions,
                      std::function<void(double)> progress) -> QCoro::Task<> {
        auto frames = detail::inBackground([&rendering, &rendered, progress] {
            rendering = true;
            for (int frame = 0; frame < 500; ++frame) {
                progress(frame / 500.0);
                QThread::msleep(10);
            }
            rendered = true;
        });
        co_await std::move(frames);
    };
    QCoro::Task<QString> stopped = Sharing::share(m_clip, {}, "New title", {}, slow);
    ASSERT_TRUE(waitFor([&] { return rendering.load(); }));
    slow.cancellation->cancel();
    EXPECT_THROW(await(std::move(stopped)), Cancelled);
    EXPECT_TRUE(workFolders().isEmpty());
    QThreadPool::globalInstance()->waitForDone(2000);
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0) << "the render stopped";
    EXPECT_FALSE(rendered);

    // A share started after the stop sends nothing.
    const int before = int(service().requests().size());
    EXPECT_THROW(await(Sharing::share(m_clip, {}, "New title", {}, slow)), Cancelled);
    EXPECT_EQ(service().requests().size(), before);
    EXPECT_TRUE(workFolders().isEmpty());

    // The part the first share left behind is answered in the end; its request then frees itself.
    QTest::qWait(3500);
}

TEST_F(ShareTest, NoThumbnailIsNoErrorAndLongClipsTakeItAtOneSecond) {
    m_thumb.reset();
    m_clip.meta.duration = 9.0;
    share();
    EXPECT_DOUBLE_EQ(m_thumbAt, 1.0);
    EXPECT_TRUE(service()
                    .requestsTo("PUT", "/api/clips/" + service().lastClipId().toUtf8() + "/thumb")
                    .isEmpty());
    EXPECT_DOUBLE_EQ(Sharing::thumbnailTime(3.0), 1.0);
}

TEST_F(ShareTest, UnshareClearsOnSuccessAnd404AndKeepsOnOtherErrors) {
    await(Sharing::unshare(m_clip, *m_library)); // no share id: nothing sent
    EXPECT_TRUE(service().requests().isEmpty());

    share();
    Clip shared = m_clip;
    shared.meta = *storedMeta();
    service().script("DELETE", "/api/clips/*", {Reply{500, {}}, Reply{404, {}}});
    EXPECT_THROW(await(Sharing::unshare(shared, *m_library)), API::Failure);
    EXPECT_TRUE(storedMeta()->shareURL);
    await(Sharing::unshare(shared, *m_library));
    EXPECT_FALSE(storedMeta()->shareID);
    EXPECT_FALSE(storedMeta()->shareURL);
    auto deletes = service().requestsTo("DELETE", "/api/clips/");
    ASSERT_EQ(deletes.size(), 2);
    EXPECT_EQ(deletes[0].path, "/api/clips/" + shared.meta.shareID->toUtf8());
    EXPECT_FALSE(deletes[0].headers.contains("content-type"));

    share();
    shared.meta = *storedMeta();
    await(Sharing::unshare(shared, *m_library));
    EXPECT_FALSE(storedMeta()->shareURL);
}

TEST_F(ShareTest, ARealClipIsRenderedDescribedAndSent) {
    const QString source = m_places->folder + "/Game/real.mp4";
    run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x180:rate=30 -f lavfi -i "
        "sine=frequency=440 -t 2 -c:v libx264 -preset ultrafast -c:a aac '" +
        source.toStdString() + "'");
    m_library->add(source, m_clip.meta);
    Sharing::Services real = Sharing::Services::standard(*m_library);
    real.wait = tools().wait;
    Clip clip{source, m_clip.meta};
    clip.meta.duration = 2.0;
    const QString link = await(Sharing::share(clip, {}, "Real", {}, real));
    EXPECT_FALSE(link.isEmpty());
    const auto& requests = service().requests();
    QJsonObject created = QJsonDocument::fromJson(requests[0].body).object();
    EXPECT_EQ(created["width"].toInt(), 320);
    EXPECT_EQ(created["height"].toInt(), 180);
    EXPECT_NEAR(created["duration"].toDouble(), 2.0, 0.1);
    qint64 sent = 0;
    for (const auto& part :
         service().requestsTo("PUT", "/api/clips/" + service().lastClipId().toUtf8() + "/video/"))
        sent += part.bodySize;
    EXPECT_EQ(sent, created["size"].toInteger());
    EXPECT_FALSE(service().upload(service().lastClipId())->thumbHash.isEmpty());
    EXPECT_TRUE(workFolders().isEmpty());

    // A file without video is described as 0 x 0.
    const QString audio = m_places->folder + "/tone.m4a";
    run("ffmpeg -nostdin -y -v error -f lavfi -i sine=frequency=440 -t 1 -c:a aac '" +
        audio.toStdString() + "'");
    VideoFacts facts = VideoFacts::read(audio);
    EXPECT_EQ(facts.width, 0);
    EXPECT_EQ(facts.height, 0);
    EXPECT_NEAR(facts.duration, 1.0, 0.1);
    EXPECT_EQ(VideoFacts::read(m_places->folder + "/missing.mp4").duration, 0.0);
}

TEST_F(ShareTest, AFileIsSharedByItsPathOnlyWhenItIsALibraryClip) {
    published(*m_library);
    const QString spelled = m_places->folder + "/Game/../Game/Game 1.mp4";
    const QString link = await(Sharing::shareLibraryFile(spelled, tools()));
    EXPECT_EQ(link, service().base().toString() + "c/" + service().lastClipId());
    EXPECT_EQ(QJsonDocument::fromJson(service().requests()[0].body)["title"].toString(),
              "Old title");

    const QString outside = m_places->root + "/elsewhere.mp4";
    writeFile(outside.toStdString(), "x");
    try {
        await(Sharing::shareLibraryFile(outside, tools()));
        FAIL() << "a file outside the library was shared";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), outside + " isn't a clip in your library.");
    }
    EXPECT_THROW(await(Sharing::shareLibraryFile(m_places->folder + "/nothing.mp4", tools())),
                 std::runtime_error);
}

TEST_F(ShareTest, AutomaticSharingOnlyWhenTurnedOnAndSignedIn) {
    Settings::shared().setCopyLinkAfterClip(false);
    EXPECT_FALSE(
        await(Sharing::shareAfterSave(m_clip, Settings::shared(), testAccount(), tools())));
    Settings::shared().setCopyLinkAfterClip(true);
    Account& account = testAccount();
    ASSERT_TRUE(waitFor([&] { return account.isRestored(); }));
    if (account.user()) {
        account.signOut();
        storeValidToken();
    }
    EXPECT_FALSE(
        await(Sharing::shareAfterSave(m_clip, Settings::shared(), testAccount(), tools())));
    EXPECT_TRUE(service().requests().isEmpty());

    ASSERT_TRUE(signInThroughService());
    std::optional<QString> link =
        await(Sharing::shareAfterSave(m_clip, Settings::shared(), testAccount(), tools()));
    ASSERT_TRUE(link);
    EXPECT_EQ(storedMeta()->shareURL, *link);
    EXPECT_EQ(storedMeta()->title, "Old title");
    EXPECT_EQ(QJsonDocument::fromJson(service().requests()[1].body)["title"].toString(),
              "Old title");
    Settings::shared().setCopyLinkAfterClip(false);
}

} // namespace
} // namespace vantel::test
