// The program's own sharing code (the library window, the account with its browser sign-in,
// the upload, renaming and stopping a share) against the real vantel-share on loopback. The
// test plays the browser: it takes the sign-in page the account opens and redeems an
// invitation there, as a player on a private service does, and hands the callback address
// back to the account.

#include "settings/Settings.h"
#include "ui/LibraryWindow.h"

#include "ServerRig.h"
#include "common/TestEnv.h"
#include "settings/SiteUrl.h"
#include "sharing/Account.h"
#include "sharing/Keychain.h"
#include "ui/AccountShareService.h"
#include "ui/ClipDetail.h"
#include "ui/LibraryTestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::eventually;

test::ShareProcess* server = nullptr;

// The site address is read once per process: the server must listen before anything asks.
class ServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Keychain::force(Keychain::Backend::file);
        server = new test::ShareProcess({"--part-size", "262144"});
        if (!server->running())
            qFatal("vantel-share did not start");
        overrideSiteURL({QString::fromStdString(server->base()), QStringLiteral("the test")});
    }
    void TearDown() override {
        EXPECT_EQ(server->stop(), "");
        delete server;
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

QString clipFile() {
    const QString path = QString::fromStdString(test::testHome().string()) + "/window.mp4";
    if (!QFile::exists(path))
        test::makeClip("window.mp4", 2, 320, 180);
    return path;
}

// What a browser does on the sign-in page of a service without Discord: the player pastes
// the invitation and the page sends the browser on to "vantelrecord://auth?code=...".
QString browse(const QUrl& page) {
    const std::string challenge = QUrlQuery(page).queryItemValue("challenge").toStdString();
    auto client = server->client();
    const auto redeemed =
        client->Post("/auth/invite", httplib::Params{{"challenge", challenge},
                                                     {"invite", server->invite("Window Player")}});
    return redeemed ? QString::fromStdString(redeemed->get_header_value("Location")) : QString();
}

class LibraryWindowAgainstServer : public ::testing::Test {
protected:
    test::TestLibrary lib{QStringLiteral("server-share")};
    QSettings store{QString::fromStdString(test::testHome().string()) + "/account.ini",
                    QSettings::IniFormat};
    std::unique_ptr<Account> account;
    std::unique_ptr<AccountShareService> sharing;
    std::unique_ptr<LibraryWindow> window;
    QList<QUrl> pages;
    QStringList toasts;

    void SetUp() override {
        store.clear();
        account = std::make_unique<Account>(store);
        account->setBrowser([this](const QUrl& page) { pages.append(page); });
        ASSERT_TRUE(eventually([this] { return account->isRestored(); }));
        sharing = std::make_unique<AccountShareService>(*account, *lib.library);
        LibraryWindow::Services services{Settings::shared(), *lib.library};
        services.sharing = sharing.get();
        services.toast = [this](const QString& title, const QString& detail, bool) {
            toasts.append(title + u' ' + detail);
        };
        window = std::make_unique<LibraryWindow>(services);
    }
    void TearDown() override {
        window.reset();
        QThreadPool::globalInstance()->waitForDone();
    }
    template <typename W> W* part(const char* name) const {
        return window->findChild<W*>(QString::fromLatin1(name));
    }
    int status(const QString& path) const {
        const auto reply = server->client()->Get(path.toStdString().c_str());
        return reply ? reply->status : -1;
    }
};

TEST_F(LibraryWindowAgainstServer, SignInShareRenameAndStopSharing) {
    const Clip clip = lib.add("Deep Rock", "Drop pod", false, 1, std::nullopt, clipFile());
    ASSERT_TRUE(lib.published(1));
    window->select(clip);
    ASSERT_NE(part<QPushButton>("signInButton"), nullptr);
    part<QPushButton>("signInButton")->click();
    ASSERT_EQ(pages.size(), 1);
    const QString callback = browse(pages[0]);
    ASSERT_TRUE(callback.startsWith("vantelrecord://auth?code=")) << callback.toStdString();
    account->handle(callback);
    ASSERT_TRUE(eventually([&] { return account->user().has_value(); }, 20000));
    EXPECT_EQ(account->user()->name, "Window Player");

    ASSERT_TRUE(eventually([&] { return part<QPushButton>("shareButton") != nullptr; }));
    part<QPushButton>("shareButton")->click();
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("copyLinkButton") != nullptr; }, 60000))
        << toasts.join("; ").toStdString() << server->log().toStdString();
    ASSERT_TRUE(eventually([&] { return !window->detail()->busy(); }, 20000));
    EXPECT_FALSE(window->detail()->error().has_value())
        << window->detail()->error().value_or("").toStdString();
    const ClipMeta shared = lib.library->clips()[0].meta;
    ASSERT_TRUE(shared.shareURL && shared.shareID);
    const QString link = *shared.shareURL;
    EXPECT_EQ(link.toStdString(), server->base() + "c/" + shared.shareID->toStdString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    const QString page = "/c/" + *shared.shareID;
    EXPECT_EQ(status(page), 200);
    EXPECT_EQ(status(page + ".mp4"), 200);
    EXPECT_EQ(status(page + "/thumb.jpg"), 200) << "the program's thumbnail arrived";

    // A new title in the window reaches the clip's page.
    auto* field = part<QLineEdit>("titleField");
    field->setText(QStringLiteral(" Ace round "));
    emit field->returnPressed();
    ASSERT_TRUE(eventually(
        [&] {
            const auto reply = server->client()->Get(page.toStdString().c_str());
            return reply && reply->body.find("<title>Ace round · Vantel Record</title>") !=
                                std::string::npos;
        },
        20000));

    // Stopping the share removes the page and file on the service and the link here.
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("stopSharingButton") != nullptr; }));
    part<QPushButton>("stopSharingButton")->click();
    ASSERT_TRUE(eventually([&] { return !lib.library->clips()[0].meta.shareURL; }, 20000))
        << toasts.join("; ").toStdString();
    EXPECT_EQ(status(page), 404);
    EXPECT_EQ(status(page + ".mp4"), 404);
    QTest::qWait(300); // lets the last answers arrive, so nothing is left in flight
}

} // namespace
} // namespace vantel
