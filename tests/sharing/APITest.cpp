// The service client against the loopback service: what goes out on the wire, and how answers
// turn into records and errors.

#include "sharing/API.h"

#include "SharingTestSupport.h"
#include "settings/SiteUrl.h"
#include "sharing/Replies.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <thread>

namespace vantel::test {
namespace {

using Reply = TestService::Reply;

class APITest : public SharingTest {};

API::Response send(const QString& method, const QString& path, std::optional<QByteArray> body = {},
                   double timeout = 60.0) {
    return await(
        API::raw(method, path, std::move(body), QStringLiteral("application/json"), timeout));
}

template <typename E> E failureOf(const QString& method, const QString& path) {
    try {
        send(method, path);
    } catch (const E& error) {
        return error;
    }
    throw std::logic_error("no failure");
}

TEST_F(APITest, HeadersCarryTheAgentAlwaysTheTokenWhenStoredAndATypeOnlyWithABody) {
    service().script("POST", "/api/x", {Reply{200, "{}"}, Reply{200, "{}"}});
    service().script("DELETE", "/api/x", {Reply{204, {}, {}}});
    send("POST", "/api/x", QByteArray("{\"a\":1}"));
    const QString token = storeValidToken();
    send("POST", "/api/x", QByteArray());
    send("DELETE", "/api/x");

    const auto& requests = service().requests();
    ASSERT_EQ(requests.size(), 3);
    const QByteArray agent = "VantelRecord/" + QCoreApplication::applicationVersion().toUtf8();
    for (const auto& request : requests)
        EXPECT_EQ(request.headers.value("user-agent"), agent);
    EXPECT_FALSE(requests[0].headers.contains("authorization"));
    EXPECT_EQ(requests[0].headers.value("content-type"), "application/json");
    EXPECT_EQ(requests[0].body, "{\"a\":1}");
    // An empty body is still a body: it has a type.
    EXPECT_EQ(requests[1].headers.value("authorization"), "Bearer " + token.toUtf8());
    EXPECT_EQ(requests[1].headers.value("content-type"), "application/json");
    EXPECT_EQ(requests[2].method, "DELETE");
    EXPECT_FALSE(requests[2].headers.contains("content-type"));
    EXPECT_EQ(requests[2].bodySize, 0);
}

TEST_F(APITest, ErrorAnswersGiveTheServiceMessageOrTheGenericSentence) {
    service().script("PUT", "/api/e",
                     {
                         Reply{404, R"({"error":"That clip is gone."})"},
                         Reply{500, "<html><body>Oops</body></html>", "text/html"},
                         Reply{400, R"({"error":"Bad title.","code":5})"},
                         Reply{502, {}},
                         Reply{404, R"(["error"])"},
                         Reply{204, {}, {}},
                     });
    auto first = failureOf<API::Failure>("PUT", "/api/e");
    EXPECT_EQ(first.status(), 404);
    EXPECT_EQ(first.message(), "That clip is gone.");
    EXPECT_STREQ(first.what(), "That clip is gone.");
    EXPECT_EQ(failureOf<API::Failure>("PUT", "/api/e").message(), "The server said 500.");
    EXPECT_EQ(failureOf<API::Failure>("PUT", "/api/e").message(), "The server said 400.");
    auto gateway = failureOf<API::Failure>("PUT", "/api/e");
    EXPECT_EQ(gateway.status(), 502);
    EXPECT_EQ(gateway.message(), "The server said 502.");
    EXPECT_EQ(failureOf<API::Failure>("PUT", "/api/e").message(), "The server said 404.");
    API::Response ok = send("PUT", "/api/e");
    EXPECT_EQ(ok.status, 204);
    EXPECT_TRUE(ok.body.isEmpty());
}

TEST_F(APITest, TransportFailuresReadAsSentencesNotQtNames) {
    service().script("POST", "/api/t", {Reply{.drop = true}, Reply{200, "{}", {}, false, 3000}});
    auto dropped = failureOf<API::TransportError>("POST", "/api/t");
    EXPECT_EQ(QString::fromUtf8(dropped.what()),
              "The connection to the sharing service broke off. Try again.");
    try {
        send("POST", "/api/t", std::nullopt, 0.3);
        FAIL() << "a reply slower than the timeout succeeded";
    } catch (const API::TransportError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  "The sharing service took too long to answer. Try again.");
    }
    for (int code = 0; code <= 499; ++code) {
        QString sentence = API::transportSentence(static_cast<QNetworkReply::NetworkError>(code));
        EXPECT_FALSE(sentence.contains(QLatin1String("Error"))) << code;
        EXPECT_TRUE(sentence.endsWith(u'.')) << code;
    }
}

TEST_F(APITest, RefusedConnectionIsASentence) {
    // A port where nothing listens, reached through a second client bound to it.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(
        manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)))));
    ASSERT_TRUE(waitFor([&] { return reply->isFinished(); }));
    EXPECT_EQ(API::transportSentence(reply->error()),
              "The sharing service refused the connection. Try again in a moment.");
}

TEST_F(APITest, UnauthorizedClearsTheSharedAccountOnTheMainThread) {
    Account& account = testAccount();
    ASSERT_TRUE(waitFor([&] { return account.isRestored(); }));
    ASSERT_TRUE(signInThroughService());
    const QString verifierBefore = account.verifier().value_or(QString());

    QThread* clearedOn = nullptr;
    auto watch = QObject::connect(&account, &Account::userChanged, &account,
                                  [&] { clearedOn = QThread::currentThread(); });
    service().script("POST", "/api/clips", {Reply{401, {}}});
    auto failure = failureOf<API::Failure>("POST", "/api/clips");
    EXPECT_EQ(failure.status(), 401);
    EXPECT_EQ(failure.message(), "The server said 401.");
    ASSERT_TRUE(waitFor([&] { return !account.user().has_value(); }));
    EXPECT_EQ(clearedOn, QCoreApplication::instance()->thread());
    EXPECT_FALSE(storedToken().has_value());
    EXPECT_FALSE(Settings::shared().store().contains(QStringLiteral("user")));
    QObject::disconnect(watch);
    EXPECT_TRUE(verifierBefore.isEmpty());

    // lost() from another thread still clears on the main thread, later.
    account.signIn();
    ASSERT_TRUE(waitFor([&] { return account.user().has_value(); }));
    clearedOn = nullptr;
    watch = QObject::connect(&account, &Account::userChanged, &account,
                             [&] { clearedOn = QThread::currentThread(); });
    const QString current = storedToken().value_or(QString());
    std::thread([&] { account.lost(current); }).join();
    EXPECT_TRUE(account.user().has_value());
    ASSERT_TRUE(waitFor([&] { return !account.user().has_value(); }));
    EXPECT_EQ(clearedOn, QCoreApplication::instance()->thread());
    QObject::disconnect(watch);
}

TEST_F(APITest, AnUnauthorizedAnswerClearsOnlyTheTokenItRejected) {
    Account& account = testAccount();
    ASSERT_TRUE(waitFor([&] { return account.isRestored(); }));
    ASSERT_TRUE(signInThroughService());
    const QString first = *storedToken();

    // A slow request with the first token; the player signs in again meanwhile.
    service().script("POST", "/api/clips", {Reply{401, {}, {}, false, 1500}});
    auto slow = API::raw(QStringLiteral("POST"), QStringLiteral("/api/clips"));
    QSignalSpy signedIn(&account, &Account::signedIn);
    account.signIn();
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    const QString second = *storedToken();
    ASSERT_NE(second, first);
    EXPECT_THROW(await(std::move(slow)), API::Failure);
    QTest::qWait(300);
    EXPECT_TRUE(account.user());
    EXPECT_EQ(storedToken(), second);

    // Refusals of a request without a token, or with one that is not stored, clear nothing.
    service().script("POST", "/api/app/logout", {Reply{401, {}}, Reply{401, {}}});
    const QString logout = QStringLiteral("/api/app/logout");
    EXPECT_THROW(await(API::rawWithToken(std::nullopt, "POST", logout)), API::Failure);
    EXPECT_THROW(await(API::rawWithToken(first, "POST", logout)), API::Failure);
    QTest::qWait(300);
    EXPECT_TRUE(account.user());
    EXPECT_EQ(storedToken(), second);
    account.signOut();
}

TEST_F(APITest, RedirectsAreFollowedOnlyWithinTheServicesOwnOrigin) {
    const QString token = storeValidToken();
    // Within the service a redirect goes on, token and body alike, even under load (when Qt's
    // own redirects lost the body now and then).
    const QByteArray near = siteURL(QStringLiteral("/api/near")).toString().toUtf8();
    service().script("POST", "/api/here", {Reply{307, {}, {}, false, 0, near}});
    service().script("POST", "/api/near", {Reply{200, R"({"ok":"yes"})"}});
    EXPECT_EQ(send("POST", "/api/here", QByteArray("{\"n\":1}")).body, R"({"ok":"yes"})");
    auto followed = service().requestsTo("POST", "/api/near");
    ASSERT_EQ(followed.size(), 1);
    EXPECT_EQ(followed[0].headers.value("authorization"), "Bearer " + token.toUtf8());
    EXPECT_EQ(followed[0].body, "{\"n\":1}");

    // A service that sends a request round in circles gets a few rounds, not a hang.
    const QByteArray loop = siteURL(QStringLiteral("/api/loop")).toString().toUtf8();
    service().script("POST", "/api/loop", QList<Reply>(10, Reply{307, {}, {}, false, 0, loop}));
    QString circles;
    try {
        send("POST", "/api/loop");
    } catch (const API::TransportError& error) {
        circles = QString::fromUtf8(error.what());
    }
    EXPECT_TRUE(circles.contains(QLatin1String("kept sending the request on")))
        << qPrintable(circles);
    EXPECT_EQ(service().requestsTo("POST", "/api/loop").size(), 6);

    TestService elsewhere;
    ASSERT_TRUE(elsewhere.listen());
    const QByteArray away = elsewhere.base().toString().toUtf8() + "api/moved";
    service().script("POST", "/api/away", {Reply{307, {}, {}, false, 0, away}});
    QString refusal;
    try {
        send("POST", "/api/away");
    } catch (const std::exception& error) {
        refusal = QString::fromUtf8(error.what());
    }
    QTest::qWait(200);
    EXPECT_TRUE(elsewhere.requests().isEmpty()) << "the token reached another host";
    EXPECT_EQ(refusal, "The sharing service sent the request on to another address, where "
                       "Vantel Record doesn't send your sign-in.");
}

TEST_F(APITest, EveryRequestGoesBelowTheServicesWholeAddress) {
    service().script("PUT", "/api/clips/*", {Reply{204, {}, {}}});
    send("PUT", "/api/clips/a:b/video/1");
    ASSERT_EQ(service().requests().size(), 1);
    EXPECT_FALSE(service().requests()[0].outsideBase) << service().requests()[0].path.data();
    EXPECT_EQ(service().requests()[0].path, "/api/clips/a:b/video/1");
}

TEST(RepliesTest, RecordsNeedTheirKeysWithTheirTypes) {
    auto created = Sharing::Created::fromJson(R"({"id":"a","partSize":5000000,"url":"u","x":[1]})");
    EXPECT_EQ(created.id, "a");
    EXPECT_EQ(created.partSize, 5000000);
    EXPECT_THROW(Sharing::Created::fromJson(R"({"id":"a","partSize":"5","url":"u"})"),
                 API::BadReply);
    EXPECT_THROW(Sharing::Created::fromJson(R"({"id":"a","partSize":1.5,"url":"u"})"),
                 API::BadReply);
    EXPECT_THROW(Sharing::Created::fromJson(R"({"id":"a","partSize":5})"), API::BadReply);
    EXPECT_THROW(Sharing::Done::fromJson("<html>"), API::BadReply);
    EXPECT_EQ(Sharing::Done::fromJson(R"({"url":"https://x/c/1"})").url, "https://x/c/1");

    auto reply =
        TokenReply::fromJson(R"({"token":"t","user":{"id":"1","name":"N","avatar":null}})");
    EXPECT_EQ(reply.user, (AccountUser{"1", "N", std::nullopt}));
    EXPECT_THROW(TokenReply::fromJson(R"({"token":"t","user":{"id":"1"}})"), API::BadReply);
    EXPECT_THROW(TokenReply::fromJson(R"({"token":"t","user":{"id":"1","name":"N","avatar":3}})"),
                 API::BadReply);
    AccountUser user{"1", "N", QStringLiteral("https://a/p.png")};
    EXPECT_EQ(AccountUser::fromJson(user.toJson()), user);
    EXPECT_EQ((AccountUser{"1", "N"}.toJson()), R"({"id":"1","name":"N"})");
}

} // namespace
} // namespace vantel::test
