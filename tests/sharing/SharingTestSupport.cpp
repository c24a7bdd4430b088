#include "SharingTestSupport.h"

#include "settings/SiteUrl.h"
#include "sharing/API.h"
#include "sharing/Keychain.h"

#include <gtest/gtest.h>

namespace vantel::test {

namespace {

TestService* started = nullptr;

// Runs once before the first test, after the application object exists: the site address is
// read only once per process, so the service must listen before anything asks for it.
class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
#ifndef VANTEL_TEST_REAL_KEYRING
        // Unit tests keep the token in the file store; the keyring test uses the session's
        // Secret Service.
        Keychain::force(Keychain::Backend::file);
#endif
        started = new TestService;
#ifdef VANTEL_TEST_SITE_PATH
        // A self-hosted service behind a proxy that gives it a path of its own.
        started->basePath = QStringLiteral(VANTEL_TEST_SITE_PATH);
#endif
        if (!started->listen())
            qFatal("the test service cannot listen on 127.0.0.1");
        overrideSiteURL({started->base().toString(), QStringLiteral("the test")});
    }
    void TearDown() override {
        delete started;
        started = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

} // namespace

TestService& service() {
    return *started;
}

QString storeValidToken() {
    QString token = service().issueToken();
    await(Keychain::set(QStringLiteral("token"), token));
    return token;
}

void removeToken() {
    await(Keychain::remove(QStringLiteral("token")));
}

std::optional<QString> storedToken() {
    return await(Keychain::get(QStringLiteral("token")));
}

Account& testAccount() {
    static Account* account = [] {
        auto* made = new Account(Settings::shared().store());
        API::setRejectedTokenListener([made](const QString& token) { made->lost(token); });
        return made;
    }();
    return *account;
}

bool signInThroughService() {
    Account& account = testAccount();
    account.setBrowser([&account](const QUrl& page) {
        QString code = service().signInCodeFor(page);
        QMetaObject::invokeMethod(
            &account,
            [&account, code] {
                account.handle(QStringLiteral("vantelrecord://auth?code=") + code);
            },
            Qt::QueuedConnection);
    });
    account.signIn();
    return waitFor([&] { return account.user().has_value(); });
}

} // namespace vantel::test
