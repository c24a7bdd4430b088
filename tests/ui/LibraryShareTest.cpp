// The library window with the program's real account and sharing client against the loopback
// stand-in of the service: signing in turns the sign-in button into "Get a link", a share runs
// with the button disabled and ends with the link on the clipboard and in the library (the
// card's link symbol, the detail's "Copy link" row), and a shared clip's new title reaches the
// service.

#include "LibraryTestSupport.h"
#include "common/Shell.h"
#include "settings/Settings.h"
#include "sharing/SharingTestSupport.h"
#include "ui/AccountShareService.h"
#include "ui/ClipDetail.h"
#include "ui/LibraryWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::eventually;
using test::service;
using test::TestLibrary;

QString smallClip() {
    const QString path = QString::fromStdString(test::testHome().string()) + "/small.mp4";
    if (!QFile::exists(path))
        test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180:rate=30:duration=2 "
                  "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 -c:v libx264 "
                  "-preset veryfast -pix_fmt yuv420p -c:a aac '" +
                  path.toStdString() + "'");
    return path;
}

class LibraryShareTest : public test::SharingTest {
protected:
    TestLibrary lib{QStringLiteral("share")};
    QSettings store{QString::fromStdString(test::testHome().string()) + "/share.ini",
                    QSettings::IniFormat};
    std::unique_ptr<Account> account;
    std::unique_ptr<AccountShareService> sharing;
    std::unique_ptr<LibraryWindow> window;
    QList<QUrl> pages;
    QStringList toasts;

    void SetUp() override {
        SharingTest::SetUp();
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
};

TEST_F(LibraryShareTest, SignInThenShareTheOpenClip) {
    const Clip clip = lib.add("Roblox", "Obby", false, 1, std::nullopt, smallClip());
    ASSERT_TRUE(lib.published(1));
    window->select(clip);
    ASSERT_NE(part<QPushButton>("signInButton"), nullptr);
    part<QPushButton>("signInButton")->click();
    ASSERT_EQ(pages.size(), 1);
    account->handle(QStringLiteral("vantelrecord://auth?code=") +
                    service().signInCodeFor(pages[0]));
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("shareButton") != nullptr; }));
    EXPECT_EQ(part<QPushButton>("shareButton")->text(), "Get a link");

    part<QPushButton>("shareButton")->click();
    EXPECT_FALSE(part<QPushButton>("shareButton")->isEnabled());
    EXPECT_TRUE(window->detail()->busy().has_value());
    ASSERT_TRUE(eventually([&] { return part<QPushButton>("copyLinkButton") != nullptr; }));
    ASSERT_TRUE(eventually([&] { return !window->detail()->busy(); }));
    EXPECT_FALSE(window->detail()->error().has_value());
    const auto published = lib.library->clips();
    ASSERT_EQ(published.size(), 1);
    ASSERT_TRUE(published[0].meta.shareURL.has_value());
    const QString link = *published[0].meta.shareURL;
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_TRUE(toasts.contains("Link copied " + link));
    EXPECT_TRUE(window->shown()[0].meta.shareURL.has_value()); // the card's link symbol
    const test::TestService::Upload* upload = service().upload(service().lastClipId());
    ASSERT_NE(upload, nullptr);
    EXPECT_TRUE(upload->done);
}

TEST_F(LibraryShareTest, RenamingASharedClipSendsTheNewTitle) {
    test::storeValidToken();
    const Clip clip = lib.add("Roblox", "Obby", false, 1, QStringLiteral("https://x/c/1"));
    ASSERT_TRUE(lib.published(1));
    window->select(clip);
    auto* field = part<QLineEdit>("titleField");
    field->setText(QStringLiteral(" Ace round "));
    emit field->returnPressed();
    const QByteArray path = "/api/clips/" + clip.meta.shareID->toUtf8();
    ASSERT_TRUE(eventually([&] { return !service().requestsTo("PATCH", path).isEmpty(); }));
    const auto body = QJsonDocument::fromJson(service().requestsTo("PATCH", path)[0].body).object();
    EXPECT_EQ(body.value("title").toString(), "Ace round");
    ASSERT_TRUE(eventually([&] { return lib.library->clips()[0].meta.title == "Ace round"; }));
    QTest::qWait(300); // lets the request's answer arrive, so nothing is left in flight
}

// The service refuses to take the link down: the window says so and the link stays, on the
// card and in the index, so that the user can try again.
TEST_F(LibraryShareTest, StopSharingThatTheServiceRefusesKeepsTheLinkAndSaysWhy) {
    test::storeValidToken();
    const Clip clip = lib.add("Roblox", "Obby", false, 1, QStringLiteral("https://x/c/1"));
    ASSERT_TRUE(lib.published(1));
    service().script("DELETE", "/api/clips/*", {test::TestService::Reply{500, {}}});
    window->select(clip);
    part<QPushButton>("stopSharingButton")->click();
    ASSERT_TRUE(eventually([&] { return window->detail()->error().has_value(); }));
    EXPECT_TRUE(window->detail()->error()->startsWith("Couldn't stop sharing: "))
        << window->detail()->error()->toStdString();
    EXPECT_EQ(service().requestsTo("DELETE", "/api/clips/").size(), 1);
    ASSERT_NE(part<QPushButton>("copyLinkButton"), nullptr);
    test::settle(*lib.library);
    EXPECT_EQ(lib.library->clips()[0].meta.shareURL, QString("https://x/c/1"));
    EXPECT_TRUE(test::readAll(lib.places.index()).contains("https://x/c/1"));
}

} // namespace
} // namespace vantel
