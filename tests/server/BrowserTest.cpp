// A shared clip as people meet it: a link-preview crawler reading the page's Open Graph tags
// and fetching what they point at, and headless Chromium playing the page's video. Screenshots
// go to build/screenshots/ for a person to look at.

#include "ServerRig.h"
#include "common/Shell.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>

namespace vantel::test {
namespace {

const QString screenshots = QStringLiteral(VANTEL_SCREENSHOT_DIR);

// The meta tags as a crawler reads them: property or name, to content.
std::multimap<std::string, std::string> metaTags(const std::string& page) {
    std::multimap<std::string, std::string> tags;
    const QRegularExpression tag(R"re(<meta\s+(?:property|name)="([^"]+)"\s+content="([^"]*)")re");
    auto it = tag.globalMatch(QString::fromStdString(page));
    while (it.hasNext()) {
        const auto match = it.next();
        tags.emplace(match.captured(1).toStdString(),
                     match.captured(2).replace("&amp;", "&").toStdString());
    }
    return tags;
}

std::string one(const std::multimap<std::string, std::string>& tags, const std::string& key) {
    auto range = tags.equal_range(key);
    if (std::distance(range.first, range.second) != 1)
        return "(" + std::to_string(std::distance(range.first, range.second)) + " tags)";
    return range.first->second;
}

QString chromium(const QStringList& arguments, int ms = 90000) {
    QProcess browser;
    const QString profile = QString::fromStdString(testHome().string()) + "/chromium-" +
                            QString::number(QRandomGenerator::global()->generate());
    browser.start("chromium", QStringList{"--headless", "--no-sandbox", "--disable-gpu",
                                          "--user-data-dir=" + profile, "--hide-scrollbars",
                                          "--mute-audio", "--virtual-time-budget=8000"} +
                                  arguments);
    if (!browser.waitForFinished(ms))
        browser.kill();
    browser.waitForFinished();
    return QString::fromUtf8(browser.readAllStandardOutput());
}

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.running());
        m_token = signInByInvite(m_server, "Nelly");
        m_file = readAll(makeClip("page.mp4", 3, 640, 360));
        m_id = uploadClip(m_server, m_token, m_file, readAll(makeJpeg("page.jpg", 640, 360)),
                          "Triple kill at the drop pod");
        ASSERT_FALSE(m_id.empty());
        m_page = m_server.base() + "c/" + m_id;
    }
    void TearDown() override { EXPECT_EQ(m_server.stop(), ""); }

    ShareProcess m_server{{"--part-size", "262144"}};
    std::string m_token, m_id, m_page;
    QByteArray m_file;
};

TEST_F(Browser, ACrawlerFindsAnInlineVideoWithItsRealSizeAndPicture) {
    auto client = m_server.client();
    const auto page = client->Get(("/c/" + m_id).c_str(),
                                  {{"User-Agent", "Mozilla/5.0 (compatible; Discordbot/2.0; "
                                                  "+https://discordapp.com)"}});
    ASSERT_EQ(page->status, 200);
    const auto tags = metaTags(page->body);
    const std::string mp4 = m_page + ".mp4";
    EXPECT_EQ(one(tags, "og:type"), "video.other");
    EXPECT_EQ(one(tags, "og:title"), "Triple kill at the drop pod");
    EXPECT_EQ(one(tags, "og:url"), m_page);
    EXPECT_EQ(one(tags, "og:video"), mp4);
    EXPECT_EQ(one(tags, "og:video:secure_url"), mp4);
    EXPECT_EQ(one(tags, "og:video:type"), "video/mp4");
    EXPECT_EQ(one(tags, "og:video:width"), "640");
    EXPECT_EQ(one(tags, "og:video:height"), "360");
    EXPECT_EQ(one(tags, "og:image"), m_page + "/thumb.jpg");
    EXPECT_EQ(one(tags, "og:image:width"), "640");
    EXPECT_EQ(one(tags, "og:image:height"), "360");
    EXPECT_EQ(one(tags, "twitter:card"), "player");
    EXPECT_EQ(one(tags, "twitter:player:stream"), mp4);
    EXPECT_EQ(page->body.find("summary_large_image"), std::string::npos);
    EXPECT_NE(one(tags, "og:description").find("Deep Rock Galactic"), std::string::npos);

    // What the tags point at is there, with the types a crawler expects.
    const auto probe = client->Get(("/c/" + m_id + ".mp4").c_str(), {{"Range", "bytes=0-1023"}});
    EXPECT_EQ(probe->status, 206);
    EXPECT_EQ(probe->get_header_value("Content-Type"), "video/mp4");
    EXPECT_EQ(probe->body.size(), 1024u);
    const auto picture = client->Get(("/c/" + m_id + "/thumb.jpg").c_str());
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
    const auto player = client->Get(("/c/" + m_id + "/embed").c_str());
    EXPECT_EQ(player->status, 200);
    EXPECT_NE(player->body.find("src=\"" + mp4 + "\""), std::string::npos);
}

TEST_F(Browser, ChromiumPlaysThePageVideoToItsDataWithTheClipsDuration) {
    const QString dom = chromium({"--autoplay-policy=no-user-gesture-required", "--dump-dom",
                                  QString::fromStdString(m_page)});
    const QRegularExpression video(R"(<video id="clip"[^>]*>)");
    const QString element = video.match(dom).captured(0);
    ASSERT_FALSE(element.isEmpty()) << dom.left(2000).toStdString();
    EXPECT_TRUE(element.contains(R"(data-state="ready")")) << element.toStdString();
    const QRegularExpression duration(R"re(data-duration="([0-9.]+)")re");
    EXPECT_NEAR(duration.match(element).captured(1).toDouble(), 3.0, 0.1) << element.toStdString();
    EXPECT_TRUE(dom.contains(R"(<span id="length">0:03</span>)"));

    QDir().mkpath(screenshots);
    const QString shot = screenshots + "/server-clip-page.png";
    QFile::remove(shot);
    chromium({"--window-size=1280,900", "--screenshot=" + shot, QString::fromStdString(m_page)});
    EXPECT_GT(QFileInfo(shot).size(), 10000) << shot.toStdString();
    const QString signIn = screenshots + "/server-sign-in-page.png";
    QFile::remove(signIn);
    chromium(
        {"--window-size=1280,800", "--screenshot=" + signIn,
         QString::fromStdString(m_server.base() + "auth/app?challenge=" + Pkce::make().challenge)});
    EXPECT_GT(QFileInfo(signIn).size(), 5000);
}

} // namespace
} // namespace vantel::test
