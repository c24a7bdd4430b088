// The account rows in their two forms and the upload switch that depends on them, over real
// accounts restored from a settings file and the file keychain; and the screenshots of both.

#include "SettingsTestSupport.h"
#include "common/Screenshots.h"
#include "common/TestEnv.h"
#include "settings/Settings.h"
#include "settings/SiteUrl.h"
#include "sharing/Account.h"
#include "sharing/Keychain.h"
#include "ui/SettingsWindow.h"
#include "ui/ToggleSwitch.h"

#include <QCoro/QCoroTask>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace vantel {
namespace {

// Stands in for the browser: receives what QDesktopServices would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class AccountRows : public ::testing::Test {
protected:
    void SetUp() override {
        QCoro::waitFor(Keychain::set(QStringLiteral("token"), QStringLiteral("t0ken")));
        m_desktop = test::systemDesktop();
        m_desktop.openUrl = [this](const QUrl& url) {
            m_opened << url;
        };
    }

    // An account restored from a store that holds `userJson` (none: nobody signed in).
    std::unique_ptr<Account> account(const QByteArray& userJson) {
        static int counter = 0;
        const QString path = QString::fromStdString(test::testHome().string()) +
                             QStringLiteral("/account-%1.ini").arg(counter++);
        m_stores.push_back(std::make_unique<QSettings>(path, QSettings::IniFormat));
        if (!userJson.isEmpty())
            m_stores.back()->setValue(QStringLiteral("user"), userJson);
        auto made = std::make_unique<Account>(*m_stores.back());
        made->setBrowser([this](const QUrl& page) { m_signInPages << page; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return made->isRestored(); }, 10000));
        return made;
    }

    // The account form shown now (replaced forms are deleted first).
    static QWidget* form(SettingsWindow& window, const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.findChild<QWidget*>(QLatin1String(name));
    }

    static void showAccountSection(SettingsWindow& window) {
        auto* scroll = window.findChild<QScrollArea*>();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    }

    SettingsWindow::Desktop m_desktop;
    std::vector<std::unique_ptr<QSettings>> m_stores;
    QList<QUrl> m_opened;
    QList<QUrl> m_signInPages;
};

TEST_F(AccountRows, SignedOutOffersSignInAndKeepsTheUploadSwitchOffLimits) {
    test::store().setCopyLinkAfterClip(true); // stored earlier, while signed in
    std::unique_ptr<Account> nobody = account({});
    ASSERT_FALSE(nobody->user());
    SettingsWindow window(test::services(*nobody), m_desktop);
    window.show();
    QCoreApplication::processEvents();
    test::saveWidgetShot(&window, QStringLiteral("settings-signed-out"));
    showAccountSection(window);
    QCoreApplication::processEvents();
    test::saveWidgetShot(&window, QStringLiteral("settings-signed-out-account"));

    auto* upload = window.findChild<ToggleSwitch*>(QStringLiteral("autoShare"));
    EXPECT_FALSE(upload->isEnabled());
    upload->click();
    QTest::mouseClick(upload, Qt::LeftButton);
    EXPECT_TRUE(test::store().copyLinkAfterClip()) << "the stored value must stay";

    EXPECT_TRUE(form(window, "signedOut"));
    EXPECT_FALSE(form(window, "signedIn"));
    const QString host = siteHost();
    EXPECT_TRUE(
        window.findChild<QWidget*>(QStringLiteral("signedOut"))->findChild<QLabel*>()->text() ==
        QStringLiteral("Share clips as links on ") + host);
    window.findChild<QPushButton*>(QStringLiteral("signIn"))->click();
    ASSERT_EQ(m_signInPages.size(), 1);
    EXPECT_EQ(m_signInPages[0].path(), QStringLiteral("/auth/app"));
    test::store().setCopyLinkAfterClip(false);
}

TEST_F(AccountRows, SignedInShowsTheNameSignOutAndTheUsersPage) {
    std::unique_ptr<Account> mira = account(R"({"id":"42","name":"Mira"})");
    ASSERT_TRUE(mira->user());
    SettingsWindow window(test::services(*mira), m_desktop);
    window.show();
    showAccountSection(window);
    QCoreApplication::processEvents();
    test::saveWidgetShot(&window, QStringLiteral("settings-signed-in"));

    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("userName"))->text(),
              QStringLiteral("Signed in as Mira"));
    EXPECT_FALSE(form(window, "signedOut"));
    auto* upload = window.findChild<ToggleSwitch*>(QStringLiteral("autoShare"));
    EXPECT_TRUE(upload->isEnabled());
    test::store().setCopyLinkAfterClip(false);
    upload->click();
    EXPECT_TRUE(test::store().copyLinkAfterClip());

    // Which service the account belongs to: a self-hosted one is named in the settings file.
    auto* host = window.findChild<QLabel*>(QStringLiteral("serviceHost"));
    ASSERT_TRUE(host);
    EXPECT_EQ(host->text(), QStringLiteral("on ") + siteHost());
    EXPECT_TRUE(host->isVisible());

    window.findChild<QPushButton*>(QStringLiteral("sharedClips"))->click();
    EXPECT_EQ(m_opened, QList<QUrl>({siteURL(QStringLiteral("me"))}));

    // Signed out elsewhere (the service refused the token): the rows follow at once.
    mira->lost(QStringLiteral("t0ken"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mira->user(); }, 5000));
    EXPECT_TRUE(form(window, "signedOut"));
    EXPECT_FALSE(form(window, "signedIn"));
    EXPECT_FALSE(upload->isEnabled());
    EXPECT_TRUE(test::store().copyLinkAfterClip());
    test::store().setCopyLinkAfterClip(false);
}

// The program's own desktop, not a test's stand-in: "Your shared clips" reaches the browser.
TEST_F(AccountRows, TheRealDesktopOpensTheUsersPageInTheBrowser) {
    UrlCatcher browser;
    for (const char* scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &browser, "open");
    std::unique_ptr<Account> mira = account(R"({"id":"42","name":"Mira"})");
    SettingsWindow window(test::services(*mira), test::systemDesktop());
    window.findChild<QPushButton*>(QStringLiteral("sharedClips"))->click();
    for (const char* scheme : {"http", "https"})
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    EXPECT_EQ(browser.opened, QList<QUrl>({siteURL(QStringLiteral("me"))}));
}

} // namespace
} // namespace vantel

#include "SettingsAccountTest.moc"
