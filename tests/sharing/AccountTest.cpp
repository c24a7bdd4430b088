// The browser sign-in, the callback rules, restoring, sign-out and a lost token, over the
// loopback service and the file keychain.

#include "SharingTestSupport.h"
#include "settings/SiteUrl.h"
#include "sharing/Keychain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrlQuery>
#include <sys/stat.h>

namespace vantel::test {
namespace {

using Reply = TestService::Reply;

class AccountTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        static int counter = 0;
        m_settingsPath = QString::fromStdString(testHome().string()) +
                         QStringLiteral("/account-%1.ini").arg(counter++);
        m_store = std::make_unique<QSettings>(m_settingsPath, QSettings::IniFormat);
        m_account = std::make_unique<Account>(*m_store);
        m_account->setBrowser([this](const QUrl& page) { m_pages.append(page); });
        ASSERT_TRUE(waitFor([this] { return m_account->isRestored(); }));
    }

    // Signs in through the service's page; returns the callback the browser would open.
    QString pageCallback(int index = -1) {
        const QUrl& page = index < 0 ? m_pages.last() : m_pages.at(index);
        return QStringLiteral("vantelrecord://auth?code=") + service().signInCodeFor(page);
    }

    void signInFully() {
        QSignalSpy signedIn(m_account.get(), &Account::signedIn);
        m_account->signIn();
        m_account->handle(pageCallback());
        ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    }

    QString m_settingsPath;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<Account> m_account;
    QList<QUrl> m_pages;
};

TEST_F(AccountTest, SignInOpensThePageWithAnS256Challenge) {
    EXPECT_EQ(Account::base64URL(QByteArray::fromHex(
                  "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")),
              "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8");
    EXPECT_EQ(Account::challengeOf("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8"),
              "6oZqdX5MOLq_qBJ8vppAnT4fk6AP8UiP9zX8-Rev_9A");

    m_account->signIn();
    ASSERT_EQ(m_pages.size(), 1);
    const QUrl page = m_pages[0];
    EXPECT_EQ(page.adjusted(QUrl::RemoveQuery), siteURL(QStringLiteral("auth/app")));
    QUrlQuery query(page);
    ASSERT_EQ(query.queryItems().size(), 1);
    const QString challenge = query.queryItemValue(QStringLiteral("challenge"));
    const QRegularExpression alphabet(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
    EXPECT_TRUE(alphabet.match(challenge).hasMatch()) << challenge.toStdString();
    ASSERT_TRUE(m_account->verifier());
    EXPECT_TRUE(alphabet.match(*m_account->verifier()).hasMatch());
    EXPECT_EQ(challenge, challengeFor(*m_account->verifier()));

    m_account->signIn();
    EXPECT_NE(QUrlQuery(m_pages[1]).queryItemValue(QStringLiteral("challenge")), challenge);
}

TEST_F(AccountTest, CallbackExchangesTheCodeStoresTokenAndUserAndSignsIn) {
    QSignalSpy signedIn(m_account.get(), &Account::signedIn);
    QSignalSpy changed(m_account.get(), &Account::userChanged);
    m_account->signIn();
    const QString verifier = *m_account->verifier();
    m_account->handle(pageCallback());
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    EXPECT_EQ(signedIn[0][0].toString(), "Clips you share go to 127.0.0.1");
    EXPECT_EQ(changed.count(), 1);
    ASSERT_TRUE(m_account->user());
    EXPECT_EQ(m_account->user()->name, "Player One");
    EXPECT_FALSE(m_account->verifier());

    auto exchange = service().requestsTo("POST", "/api/app/token");
    ASSERT_EQ(exchange.size(), 1);
    QJsonObject body = QJsonDocument::fromJson(exchange[0].body).object();
    EXPECT_EQ(body.value("verifier").toString(), verifier);
    const std::optional<QString> token = storedToken();
    ASSERT_TRUE(token && service().tokenValid(*token));

    // The settings keep the user, never the token; the keychain file is the user's alone.
    m_store->sync();
    const QByteArray settings = readAll(m_settingsPath);
    EXPECT_TRUE(settings.contains("Player One"));
    EXPECT_FALSE(settings.contains(token->toUtf8()));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(Keychain::filePath("token")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
}

TEST_F(AccountTest, CallbacksThatDoNotFitAreIgnored) {
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    m_account->handle(QStringLiteral("vantelrecord://auth?code=abc")); // nothing pending
    m_account->signIn();
    m_account->handle(QStringLiteral("vantelrecord://AUTH?code=abc"));
    m_account->handle(QStringLiteral("vantelrecord://Auth?code=abc"));
    m_account->handle(QStringLiteral("vantelrecord://other?code=abc"));
    m_account->handle(QStringLiteral("vantelrecord://auth"));
    m_account->handle(QStringLiteral("vantelrecord://auth?state=x"));
    m_account->handle(QStringLiteral("vantelrecord://auth?code"));
    m_account->handle(QStringLiteral("vantelrecord://auth?code&code=abc")); // the first counts
    QTest::qWait(200);
    EXPECT_TRUE(service().requestsTo("POST", "/api/app/token").isEmpty());
    EXPECT_EQ(failed.count(), 0);
    EXPECT_TRUE(m_account->verifier());

    // An empty code goes to the service, which refuses it; the sign-in stays pending.
    m_account->handle(QStringLiteral("vantelrecord://auth?code="));
    ASSERT_TRUE(waitFor([&] { return failed.count() == 1; }));
    EXPECT_EQ(failed[0][0].toString(), "That sign-in has expired. Try again.");
    auto exchange = service().requestsTo("POST", "/api/app/token");
    ASSERT_EQ(exchange.size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(exchange[0].body).object().value("code").toString(), "");
    EXPECT_TRUE(m_account->verifier());
    EXPECT_FALSE(m_account->user());
}

TEST_F(AccountTest, TwoSignInsInARowOnlyTheSecondPageSucceeds) {
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    QSignalSpy signedIn(m_account.get(), &Account::signedIn);
    m_account->signIn();
    m_account->signIn();
    const QString first = pageCallback(0);
    const QString second = pageCallback(1);
    m_account->handle(first);
    ASSERT_TRUE(waitFor([&] { return failed.count() == 1; }));
    EXPECT_FALSE(m_account->user());
    m_account->handle(second);
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    EXPECT_TRUE(m_account->user());

    // A broken answer is a failed sign-in with a readable text; the user stays.
    m_account->signIn();
    service().script("POST", "/api/app/token", {Reply{200, "{\"token\":1}"}});
    m_account->handle(pageCallback());
    ASSERT_TRUE(waitFor([&] { return failed.count() == 2; }));
    EXPECT_TRUE(failed[1][0].toString().contains("can't read"));
    EXPECT_TRUE(m_account->user());
}

TEST_F(AccountTest, RestoreNeedsBothTheTokenAndTheUserRecord) {
    signInFully();
    auto restored = [&] {
        auto account = std::make_unique<Account>(*m_store);
        EXPECT_TRUE(waitFor([&] { return account->isRestored(); }));
        return account->user();
    };
    EXPECT_EQ(restored()->name, "Player One");
    removeToken();
    EXPECT_FALSE(restored());
    EXPECT_TRUE(m_store->contains("user")); // left in place
    storeValidToken();
    m_store->remove("user");
    EXPECT_FALSE(restored());
    m_store->setValue("user", QByteArray("{broken"));
    EXPECT_FALSE(restored());
}

TEST_F(AccountTest, SignOutClearsAtOnceAndTellsTheServiceWithTheOldToken) {
    signInFully();
    const QString token = *storedToken();
    m_account->signIn(); // a pending sign-in survives a sign-out
    m_account->signOut();
    EXPECT_FALSE(m_account->user());
    EXPECT_FALSE(m_store->contains("user"));
    EXPECT_TRUE(m_account->verifier());
    ASSERT_TRUE(
        waitFor([&] { return !service().requestsTo("POST", "/api/app/logout").isEmpty(); }));
    auto logout = service().requestsTo("POST", "/api/app/logout");
    EXPECT_EQ(logout[0].headers.value("authorization"), "Bearer " + token.toUtf8());
    EXPECT_FALSE(logout[0].headers.contains("content-type"));
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(service().tokenValid(token));

    // Offline: the same local result, no message.
    signInFully();
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    service().script("POST", "/api/app/logout", {Reply{.drop = true}});
    m_account->signOut();
    EXPECT_FALSE(m_account->user());
    ASSERT_TRUE(
        waitFor([&] { return service().requestsTo("POST", "/api/app/logout").size() == 2; }));
    QTest::qWait(100);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_FALSE(storedToken());
}

TEST_F(AccountTest, TheSameLinkOpenedTwiceSignsInOnce) {
    QSignalSpy signedIn(m_account.get(), &Account::signedIn);
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    m_account->signIn();
    const QString callback = pageCallback();
    m_account->handle(callback);
    m_account->handle(callback); // the browser opened the page twice
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    m_account->handle(callback);
    QTest::qWait(300);
    EXPECT_EQ(service().requestsTo("POST", "/api/app/token").size(), 1);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(signedIn.count(), 1);
    ASSERT_TRUE(m_account->user());
    const std::optional<QString> token = storedToken();
    EXPECT_TRUE(token && service().tokenValid(*token));
}

TEST_F(AccountTest, ARefusedExchangeLeavesTheSignedInAccountAlone) {
    signInFully();
    const QString token = *storedToken();
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    m_account->signIn();
    service().script("POST", "/api/app/token", {Reply{401, R"({"error":"Expired."})"}});
    m_account->handle(pageCallback());
    ASSERT_TRUE(waitFor([&] { return failed.count() == 1; }));
    EXPECT_EQ(failed[0][0].toString(), "Expired.");
    QTest::qWait(300);
    EXPECT_TRUE(m_account->user());
    EXPECT_EQ(storedToken(), token);
    EXPECT_TRUE(m_account->verifier()) << "a failed exchange leaves the sign-in pending";
    // The exchange proves itself by code and verifier; the token stays out of it.
    auto exchanges = service().requestsTo("POST", "/api/app/token");
    EXPECT_FALSE(exchanges.last().headers.contains("authorization"));
}

TEST_F(AccountTest, ATokenTheKeychainCannotStoreIsAFailedSignInThatKeepsTheOldOne) {
    signInFully();
    const QString token = *storedToken();
    const QByteArray user = m_store->value("user").toByteArray();
    QSignalSpy signedIn(m_account.get(), &Account::signedIn);
    QSignalSpy failed(m_account.get(), &Account::signInFailed);
    service().userJson = R"({"id":"u-2","name":"Someone Else"})";
    // Something in the way of the keychain file's fresh copy: the write cannot happen.
    const QString blocker = Keychain::filePath("token") + ".new";
    ASSERT_TRUE(QDir().mkpath(blocker));
    m_account->signIn();
    m_account->handle(pageCallback());
    const bool refused = waitFor([&] { return failed.count() == 1; });
    QDir().rmdir(blocker);
    ASSERT_TRUE(refused);
    const QString reason = failed[0][0].toString();
    EXPECT_TRUE(reason.startsWith("Couldn't keep the sign-in in ")) << reason.toStdString();
    EXPECT_TRUE(reason.contains(blocker)) << reason.toStdString();
    EXPECT_EQ(signedIn.count(), 0);
    EXPECT_EQ(m_account->user()->name, "Player One");
    EXPECT_EQ(m_store->value("user").toByteArray(), user);
    EXPECT_EQ(storedToken(), token);
    EXPECT_TRUE(m_account->verifier());
}

TEST_F(AccountTest, LostTokenClearsLaterAndKeepsAPendingSignIn) {
    signInFully();
    m_account->signIn();
    m_account->lost(*storedToken());
    EXPECT_TRUE(m_account->user()); // not yet: it happens on the main thread later
    ASSERT_TRUE(waitFor([&] { return !m_account->user(); }));
    EXPECT_TRUE(m_account->verifier());
    EXPECT_FALSE(storedToken());
    EXPECT_TRUE(service().requestsTo("POST", "/api/app/logout").isEmpty());
}

} // namespace
} // namespace vantel::test
