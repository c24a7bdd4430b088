// The sharing service's base address and the addresses formed from it.

#include "settings/SiteUrl.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

const QString kBuiltIn = QStringLiteral("https://record.example.org");

TEST(SiteUrl, AnOverrideReplacesTheBuiltInAddressOnlyWhenItIsAnAbsoluteWebAddress) {
    EXPECT_EQ(chooseSiteURL(kBuiltIn, {}).toString(), "https://record.example.org/");
    EXPECT_EQ(chooseSiteURL(kBuiltIn, "http://127.0.0.1:8123").toString(),
              "http://127.0.0.1:8123/");
    EXPECT_EQ(chooseSiteURL(kBuiltIn, " https://self.host/vr/ ").toString(),
              "https://self.host/vr/");
    for (const char* bad : {"record.example.org", "/srv/site", "ftp://host/", "https://", "::"})
        EXPECT_EQ(chooseSiteURL(kBuiltIn, bad).toString(), "https://record.example.org/") << bad;
}

TEST(SiteUrl, PathsAreAppendedBelowTheBaseNotInPlaceOfIt) {
    const QUrl base = siteURL();
    EXPECT_TRUE(base.path().endsWith('/'));
    EXPECT_EQ(siteURL("app/version.json").toString(), base.toString() + "app/version.json");
    EXPECT_EQ(siteURL("/me").toString(), base.toString() + "me");
}

} // namespace
} // namespace vantel
