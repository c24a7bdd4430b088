// The update check: numeric version order, what a version file must hold, and real requests to
// a loopback server.

#include "app/UpdateCheck.h"

#include "LoopbackHttp.h"
#include "ShellRig.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace vantel::test {
namespace {

TEST(UpdateCheck, VersionsCompareRunsOfDigitsAsNumbers) {
    EXPECT_GT(compareVersions("1.10.0", "1.9.3"), 0);
    EXPECT_LT(compareVersions("1.9.3", "1.10.0"), 0);
    EXPECT_EQ(compareVersions("1.2.0", "1.2.0"), 0);
    EXPECT_EQ(compareVersions("1.02", "1.2"), 0);
    EXPECT_GT(compareVersions("1.2.1", "1.2"), 0);
    EXPECT_LT(compareVersions("2.0", "10"), 0);
    EXPECT_GT(compareVersions("0.0.1", "0"), 0);
    EXPECT_GT(compareVersions("1.0b", "1.0a"), 0);
}

TEST(UpdateCheck, OnlyAWellFormedNewerVersionCounts) {
    const QByteArray good = R"({"version":"1.10.0","url":"https://example.org/get","x":1})";
    const std::optional<AppUpdate> update = newerVersion(good, "1.9.3");
    ASSERT_TRUE(update);
    EXPECT_EQ(update->version, "1.10.0");
    EXPECT_EQ(update->url, QUrl("https://example.org/get"));
    EXPECT_TRUE(newerVersion(good, "")) << "no running version counts as 0";
    EXPECT_FALSE(newerVersion(good, "1.10.0"));
    EXPECT_FALSE(newerVersion(good, "1.11"));
    for (const char* bad :
         {"", "{", "[]", R"({"version":"2"})", R"({"version":2,"url":"https://e.org"})",
          R"({"version":"2","url":"not a url"})", R"({"version":"2","url":"file:///etc/passwd"})",
          R"({"version":"2","url":"https://"})"})
        EXPECT_FALSE(newerVersion(bad, "1.0")) << bad;
}

void check(ShellRig& rig) {
    QSignalSpy checked(rig.controller.get(), &AppController::updateChecked);
    rig.controller->checkForUpdate();
    ASSERT_TRUE(checked.wait(10000));
}

TEST(UpdateCheck, AsksTheVersionFileAndSetsTheUpdateOnlyForANewerOne) {
    LoopbackHttp server;
    ShellRig rig;
    rig.controller->setVersionFile(QUrl(server.url("app/version.json")));

    server.body = R"({"version":"1.9.3","url":"https://example.org/get"})";
    check(rig);
    EXPECT_EQ(server.lastPath, "/app/version.json");
    EXPECT_FALSE(rig.state.update()) << "an equal version changes nothing";

    server.body = "<html>busy</html>";
    server.status = 503;
    check(rig);
    EXPECT_FALSE(rig.state.update()) << "a broken body changes nothing";

    server.status = 200;
    server.body = R"({"version":"1.10.0","url":"https://example.org/get"})";
    check(rig);
    ASSERT_TRUE(rig.state.update());
    EXPECT_EQ(rig.state.update()->version, "1.10.0");
    const std::vector<MenuEntry> menu = rig.controller->menuEntries();
    EXPECT_TRUE(std::any_of(menu.begin(), menu.end(), [](const MenuEntry& e) {
        return e.text == "Download Update 1.10.0…";
    }));

    server.body = "garbage";
    check(rig);
    EXPECT_EQ(rig.state.update()->version, "1.10.0") << "a found update is never cleared";
    EXPECT_EQ(server.requests, 4);

    server.close();
    check(rig);
    EXPECT_EQ(rig.state.update()->version, "1.10.0") << "nothing answering changes nothing";
}

} // namespace
} // namespace vantel::test
