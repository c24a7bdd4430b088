// The token in a real Secret Service: gnome-keyring, unlocked on the session bus of the
// end-to-end session. The keychain must find it by itself, keep the token there alone, and give
// it back to a fresh account.

#include "SharingTestSupport.h"
#include "common/Shell.h"
#include "sharing/Keychain.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
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

// A secret as the Secret Service passes it: (session, parameters, value, content type).
struct Secret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument& operator<<(QDBusArgument& out, const Secret& secret) {
    out.beginStructure();
    out << secret.session << secret.parameters << secret.value << secret.contentType;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Secret& secret) {
    in.beginStructure();
    in >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    in.endStructure();
    return in;
}

} // namespace
} // namespace vantel::test

Q_DECLARE_METATYPE(vantel::test::Secret)

namespace vantel::test {
namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString login = QStringLiteral("/org/freedesktop/secrets/collection/login");
// What tests/e2e/session.sh unlocks the session's keyring with.
const QByteArray sessionPassword = "vantel-session";

QDBusMessage callSecrets(const QString& interface, const QString& method,
                         const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        secrets, QStringLiteral("/org/freedesktop/secrets"), interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
}

// The login keyring locked, with this process holding the names of the desktop's password
// dialog: asked to unlock, gnome-keyring reaches nothing and the request fails, as when the
// user dismisses the dialog, instead of waiting for somebody to type on the test's display.
class LockedKeyring {
public:
    LockedKeyring() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        for (const QString& name : prompters)
            m_owned &= bus.registerService(name);
        const QDBusMessage reply =
            callSecrets(QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"),
                        {QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(login)})});
        m_locked = reply.type() == QDBusMessage::ReplyMessage;
    }
    ~LockedKeyring() {
        unlock();
        for (const QString& name : prompters)
            QDBusConnection::sessionBus().unregisterService(name);
    }
    bool ready() const { return m_owned && m_locked; }

    // gnome-keyring's own way to unlock with the password, without a dialog.
    static bool unlock() {
        qDBusRegisterMetaType<Secret>();
        const QDBusMessage opened = callSecrets(
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"),
            {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
        if (opened.type() != QDBusMessage::ReplyMessage || opened.arguments().size() != 2)
            return false;
        const Secret secret{opened.arguments()[1].value<QDBusObjectPath>(),
                            {},
                            sessionPassword,
                            QStringLiteral("text/plain")};
        const QDBusMessage unlocked =
            callSecrets(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                        QStringLiteral("UnlockWithMasterPassword"),
                        {QVariant::fromValue(QDBusObjectPath(login)), QVariant::fromValue(secret)});
        return unlocked.type() == QDBusMessage::ReplyMessage;
    }

private:
    static inline const QStringList prompters = {
        QStringLiteral("org.gnome.keyring.SystemPrompter"),
        QStringLiteral("org.gnome.keyring.PrivatePrompter")};
    bool m_owned = true;
    bool m_locked = false;
};

// The text of what `task` threw, or "" when it succeeded; "unfinished" after 30 s.
QString refusalOf(QCoro::Task<> task) {
    std::optional<QString> outcome;
    auto watch = [&outcome](QCoro::Task<> inner) -> QCoro::Task<> {
        try {
            co_await std::move(inner);
            outcome = QString();
        } catch (const std::exception& error) {
            outcome = QString::fromUtf8(error.what());
        }
    };
    auto watching = watch(std::move(task));
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 30000))
        return QStringLiteral("unfinished");
    return *outcome;
}

class KeyringTest : public SharingTest {};

TEST_F(KeyringTest, TheSessionsSecretServiceIsChosenAndHoldsTheValue) {
    ASSERT_EQ(Keychain::backend(), Keychain::Backend::secretService)
        << "no Secret Service on the session bus";
    await(Keychain::set("probe", "first value"));
    await(Keychain::set("probe", "second value"));
    EXPECT_EQ(await(Keychain::get("probe")), "second value");
    EXPECT_EQ(run("secret-tool lookup server vantel-record user probe"), "second value");
    // Replaced in place: one item, not a second one beside the first.
    EXPECT_EQ(run("secret-tool search --all server vantel-record user probe 2>&1 | "
                  "grep -c '^secret = ' | tr -d '\\n'"),
              "1");
    await(Keychain::remove("probe"));
    EXPECT_FALSE(await(Keychain::get("probe")));
    await(Keychain::remove("probe")); // harmless
    EXPECT_FALSE(await(Keychain::get("missing")));
}

TEST_F(KeyringTest, AWriteTheKeyringRefusesFailsAloudAndKeepsTheEarlierValue) {
    ASSERT_EQ(Keychain::backend(), Keychain::Backend::secretService);
    await(Keychain::set("probe", "kept value"));
    {
        LockedKeyring locked;
        ASSERT_TRUE(locked.ready());
        const QString refusal = refusalOf(Keychain::set("probe", "new value"));
        EXPECT_TRUE(refusal.startsWith("Couldn't keep the sign-in in the keyring: "))
            << refusal.toStdString();
    }
    EXPECT_EQ(await(Keychain::get("probe")), "kept value");
    EXPECT_EQ(run("secret-tool search --all server vantel-record user probe 2>&1 | "
                  "grep -c '^secret = ' | tr -d '\\n'"),
              "1");
    await(Keychain::remove("probe"));
}

TEST_F(KeyringTest, ASignInTheKeyringCannotKeepFailsAndTheEarlierOneStays) {
    const QString settingsPath = QString::fromStdString(testHome().string()) + "/locked.ini";
    QSettings store(settingsPath, QSettings::IniFormat);
    Account account(store);
    ASSERT_TRUE(waitFor([&] { return account.isRestored(); }));
    QList<QUrl> pages;
    account.setBrowser([&](const QUrl& page) { pages.append(page); });
    QSignalSpy signedIn(&account, &Account::signedIn);
    QSignalSpy failed(&account, &Account::signInFailed);
    account.signIn();
    account.handle("vantelrecord://auth?code=" + service().signInCodeFor(pages.last()));
    ASSERT_TRUE(waitFor([&] { return signedIn.count() == 1; }));
    const std::optional<QString> first = storedToken();
    ASSERT_TRUE(first);
    {
        LockedKeyring locked;
        ASSERT_TRUE(locked.ready());
        account.signIn();
        account.handle("vantelrecord://auth?code=" + service().signInCodeFor(pages.last()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, 30000));
    }
    EXPECT_TRUE(failed[0][0].toString().startsWith("Couldn't keep the sign-in in the keyring: "))
        << failed[0][0].toString().toStdString();
    EXPECT_EQ(signedIn.count(), 1);
    EXPECT_TRUE(account.user());
    EXPECT_EQ(storedToken(), first);
    account.signOut();
    ASSERT_TRUE(waitFor([&] { return !storedToken(); }));
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
