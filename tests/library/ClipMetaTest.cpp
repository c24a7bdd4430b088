#include "library/ClipMeta.h"

#include "library/Clip.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace vantel {
namespace {

QDateTime utc(const char* iso) {
    return QDateTime::fromString(iso, Qt::ISODate).toUTC();
}

ClipMeta sample() {
    ClipMeta meta;
    meta.title = "Minecraft clip";
    meta.game = "Minecraft";
    meta.created = utc("2025-03-01T13:05:09Z");
    meta.duration = 12.5;
    meta.width = 1920;
    meta.height = 1080;
    meta.hasMic = true;
    return meta;
}

std::optional<ClipMeta> parse(const char* json) {
    return ClipMeta::fromJson(QJsonDocument::fromJson(json).object());
}

TEST(ClipMetaJson, WritesCompactlyInFieldOrderWithUtcSeconds) {
    QByteArray out;
    sample().appendJson(out);
    EXPECT_EQ(out,
              R"({"title":"Minecraft clip","game":"Minecraft","created":"2025-03-01T13:05:09Z",)"
              R"("duration":12.5,"width":1920,"height":1080,"hasMic":true})");

    ClipMeta shared = sample();
    shared.shareID = "abc";
    shared.shareURL = "https://example.test/c/abc";
    // A local time with an offset is written as the same instant in UTC.
    shared.created = QDateTime::fromString("2025-03-01T15:05:09+02:00", Qt::ISODate);
    out.clear();
    shared.appendJson(out);
    EXPECT_TRUE(out.contains(R"("created":"2025-03-01T13:05:09Z")"));
    EXPECT_TRUE(
        out.endsWith(R"("hasMic":true,"shareID":"abc","shareURL":"https://example.test/c/abc"})"));
}

TEST(ClipMetaJson, RoundTripsAwkwardTextAndOptionalKeys) {
    ClipMeta meta = sample();
    meta.title = QString::fromUtf8("Quote \" back\\slash\nline\ttab \x01 \xc3\xa9\xe2\x9c\x93");
    meta.shareID = "only-id";
    meta.duration = 0.1 + 0.2; // needs every digit to come back equal
    QByteArray out;
    meta.appendJson(out);
    EXPECT_FALSE(out.contains("shareURL"));
    EXPECT_FALSE(out.contains('\n'));
    auto back = parse(out.constData());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, meta);
    EXPECT_FALSE(back->shareURL);
}

TEST(ClipMetaJson, ReadsAnyKeyOrderIgnoresExtrasAndNulls) {
    auto meta =
        parse(R"({"hasMic":false,"height":720,"width":1280,"duration":3,"created":)"
              R"("2025-03-01T13:05:09Z","game":"G","title":"T","extra":[1],"shareURL":null})");
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->width, 1280);
    EXPECT_EQ(meta->duration, 3.0);
    EXPECT_EQ(meta->created, utc("2025-03-01T13:05:09Z"));
    EXPECT_FALSE(meta->shareURL);
}

TEST(ClipMetaJson, RejectsMissingKeysWrongTypesAndOtherDateForms) {
    const char* base = R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z",)"
                       R"("duration":1,"width":2,"height":3,"hasMic":true})";
    ASSERT_TRUE(parse(base));
    const char* broken[] = {
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z","duration":1,"width":2,"height":3})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z","duration":"1","width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z","duration":1,"width":2.5,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z","duration":1,"width":2,"height":3,"hasMic":1})",
        R"({"title":5,"game":"G","created":"2025-03-01T13:05:09Z","duration":1,"width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01 13:05:09","duration":1,"width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09","duration":1,"width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09.250Z","duration":1,"width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-13-01T13:05:09Z","duration":1,"width":2,"height":3,"hasMic":true})",
        R"({"title":"T","game":"G","created":"2025-03-01T13:05:09Z","duration":1,"width":2,"height":3,"hasMic":true,"shareID":7})",
    };
    for (const char* json : broken)
        EXPECT_FALSE(parse(json)) << json;
}

// A file's time stamp can be anything the file system holds; whatever is written must read back,
// or one odd clip would make the whole index unreadable at the next start.
TEST(ClipMetaJson, DatesBeyondFourDigitYearsOrMissingStillReadBack) {
    const std::pair<QDateTime, const char*> cases[] = {
        {QDateTime::fromSecsSinceEpoch(253402300800LL, Qt::UTC), "9999-12-31T23:59:59Z"},
        {QDateTime::fromSecsSinceEpoch(-62135596801LL, Qt::UTC), "0001-01-01T00:00:00Z"},
        {QDateTime(), "1970-01-01T00:00:00Z"},
    };
    for (const auto& [when, written] : cases) {
        ClipMeta meta = sample();
        meta.created = when;
        QByteArray out;
        meta.appendJson(out);
        EXPECT_TRUE(out.contains(written)) << out.constData();
        auto back = ClipMeta::fromJson(QJsonDocument::fromJson(out).object());
        ASSERT_TRUE(back) << out.constData();
        EXPECT_EQ(back->title, meta.title);
    }
}

TEST(ClipIdentity, EqualityFollowsPathTitleAndLinkOnly) {
    Clip a{"/v/a.mp4", sample()};
    Clip b = a;
    b.meta.duration = 99;
    b.meta.game = "Other";
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    b.meta.title = "Renamed";
    EXPECT_NE(a, b);
    b = a;
    b.meta.shareURL = "https://example.test/x";
    EXPECT_NE(a, b);
    b = a;
    b.url = "/v/b.mp4";
    EXPECT_NE(a, b);
    EXPECT_EQ(a.id(), "/v/a.mp4");
}

} // namespace
} // namespace vantel
