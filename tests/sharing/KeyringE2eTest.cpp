// The token in a real Secret Service: gnome-keyring, unlocked on the session bus of the
// end-to-end session. The keychain must find it by itself, keep the token there alone, and give
// it back to a fresh account.

#include "SharingTestSupport.h"
#include "common/Shell.h"
#include "sharing/Keychain.h"

#include <QDirIterator>
#include <QSignalSpy>

namespace vantel::test {
namespace {

// Every file below `root` whose bytes contain `needle`.
QStringList filesContaining(const QString& root, const QByteArray& needle) {
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (readAll(path).contains(needle))
            found << path;
    }
    return found;
}

class KeyringTest : public SharingTest {};

TEST_F(KeyringTest, TheSessionsSecretServiceIsChosenAndHoldsTheValue) {
    ASSERT_EQ(Keychain::backend(), Keychain::Backend::secretService)
        << "no Secret Service on the session bus";
    await(Keychain::set("probe", "first value"));
    await(Keychain::set("probe", "second value"));
    EXPECT_EQ(await(Keychain::get("probe")), "second value");
    EXPECT_EQ(run("secret-tool lookup server vantel-record user probe"), "second value");
    await(Keychain::remove("probe"));
    EXPECT_FALSE(await(Keychain::get("probe")));
    await(Keychain::remove("probe")); // harmless
    EXPECT_FALSE(await(Keychain::get("missing")));
}

TEST_F(KeyringTest, ASignedInTokenLivesInTheKeyringAloneAndComesBack) {
    const QString settingsPath = QString::fromStdString(testHome().string()) + "/keyring.ini";
    QSettings store(settingsPath, QSettings::IniFormat);
    Account account(store);
    ASSERT_TRUE(waitFor([&] { return account.isRestored(); }));
    QList<QUrl> pages;
    account.setBrowser([&](const QUrl& page) { pages.append(page); });
    QSignalSpy signedIn(&account, &Account::signedIn);
    account.signIn();
    account.handle("vantelrecord://auth?code=" + service().signInCodeFor(pages.last()));
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    store.sync();

    const std::optional<QString> token = storedToken();
    ASSERT_TRUE(token && service().tokenValid(*token));
    EXPECT_EQ(QString::fromStdString(run("secret-tool lookup server vantel-record user token")),
              *token);
    EXPECT_FALSE(QFile::exists(Keychain::filePath("token")));
    EXPECT_EQ(filesContaining(QString::fromStdString(testHome().string()), token->toUtf8()),
              QStringList());

    Account restarted(store);
    ASSERT_TRUE(waitFor([&] { return restarted.isRestored(); }));
    ASSERT_TRUE(restarted.user());
    EXPECT_EQ(restarted.user()->name, "Player One");

    restarted.signOut();
    ASSERT_TRUE(waitFor([&] { return !storedToken(); }));
    EXPECT_EQ(run("secret-tool lookup server vantel-record user token"), "");
}

} // namespace
} // namespace vantel::test
