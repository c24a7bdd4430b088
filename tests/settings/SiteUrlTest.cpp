// The sharing service's base address, where it comes from, and the addresses formed below it.

#include "settings/SiteUrl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace vantel {
namespace {

const QString kBuiltIn = QStringLiteral("https://record.example.org");

// The override as the program reads it from its environment.
SiteOverride fromEnvironment(const QString& value) {
    return {value, QStringLiteral("VANTEL_SITE_URL")};
}

QString chosen(const QString& environment, const QString& configured = {}) {
    return chooseSiteURL(kBuiltIn, fromEnvironment(environment), configured).url.toString();
}

TEST(SiteUrl, TheEnvironmentThenTheSettingsFileThenTheBuiltInAddress) {
    EXPECT_EQ(chosen({}), "https://record.example.org/");
    EXPECT_EQ(chosen("http://127.0.0.1:8123"), "http://127.0.0.1:8123/");
    EXPECT_EQ(chosen(" https://self.host/vr/ "), "https://self.host/vr/");
    EXPECT_EQ(chosen({}, "https://clips.friends.example/vantel"),
              "https://clips.friends.example/vantel/");
    EXPECT_EQ(chosen("http://127.0.0.1:9/", "https://clips.friends.example/"),
              "http://127.0.0.1:9/");
    EXPECT_TRUE(chooseSiteURL(kBuiltIn, {}, "https://a.example/").complaints.isEmpty());
}

TEST(SiteUrl, TheKeyReadsAsAPlayerWritesItInTheSettingsFile) {
    const QString path = QDir::temp().filePath(
        QStringLiteral("vantel-site-%1.ini").arg(QCoreApplication::applicationPid()));
    auto written = [&](const QByteArray& text) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        return configuredSharingService(path);
    };
    EXPECT_EQ(written("[General]\nsharingService=https://clips.example.org/vantel/\n"),
              "https://clips.example.org/vantel/");
    EXPECT_EQ(written("sharingService=http://127.0.0.1:8080\nfps=60\n"), "http://127.0.0.1:8080");
    EXPECT_EQ(written("[General]\nsharingService=https://a.example/x,y\n"),
              "https://a.example/x,y");
    EXPECT_EQ(written("[General]\nfps=60\n"), "");
    QFile::remove(path);
}

TEST(SiteUrl, AnythingButAnAbsoluteWebAddressIsRefusedAloud) {
    for (const char* bad : {"record.example.org", "/srv/site", "ftp://host/", "https://", "::",
                            "https://user:pw@host/", "https://host/?x=1", "https://host/#top"}) {
        const SiteChoice fromFile = chooseSiteURL(kBuiltIn, {}, bad);
        EXPECT_EQ(fromFile.url.toString(), "https://record.example.org/") << bad;
        ASSERT_EQ(fromFile.complaints.size(), 1) << bad;
        const QString line = fromFile.complaints[0];
        EXPECT_TRUE(line.startsWith("\"sharingService\" in ")) << line.toStdString();
        EXPECT_TRUE(line.contains(QString::fromUtf8(bad))) << line.toStdString();
        EXPECT_TRUE(line.endsWith("; using https://record.example.org/ instead."))
            << line.toStdString();
        // A bad environment value gives way to a good file, and says so.
        const SiteChoice forced =
            chooseSiteURL(kBuiltIn, fromEnvironment(bad), "https://b.example/");
        EXPECT_EQ(forced.url.toString(), "https://b.example/") << bad;
        ASSERT_EQ(forced.complaints.size(), 1) << bad;
        EXPECT_TRUE(forced.complaints[0].startsWith("VANTEL_SITE_URL is \""));
        EXPECT_TRUE(forced.complaints[0].endsWith("; using https://b.example/ instead."));
    }
    EXPECT_TRUE(chooseSiteURL(kBuiltIn, fromEnvironment("  "), "").complaints.isEmpty());
}

TEST(SiteUrl, EveryAddressKeepsTheWholeBasePath) {
    const QUrl base("https://host.example/base/");
    for (const char* path : {"/api/clips", "api/clips", "//api/clips"})
        EXPECT_EQ(addressBelow(base, path).toString(), "https://host.example/base/api/clips");
    EXPECT_EQ(addressBelow(base, "/api/clips/a:b/video/1").toString(),
              "https://host.example/base/api/clips/a:b/video/1");
    EXPECT_EQ(addressBelow(base, "app/version.json").toString(),
              "https://host.example/base/app/version.json");
    EXPECT_EQ(addressBelow(base, "me").toString(), "https://host.example/base/me");
    EXPECT_EQ(addressBelow(QUrl("http://127.0.0.1:8080/"), "/auth/app").toString(),
              "http://127.0.0.1:8080/auth/app");

    const QUrl site = siteURL();
    EXPECT_TRUE(site.path().endsWith('/'));
    EXPECT_EQ(siteURL("app/version.json").toString(), site.toString() + "app/version.json");
    EXPECT_EQ(siteURL("/me").toString(), site.toString() + "me");
}

} // namespace
} // namespace vantel
