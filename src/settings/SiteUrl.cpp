#include "SiteUrl.h"

namespace vantel {

namespace {
constexpr char kBuiltIn[] = "https://record.vantel.app/";

bool usable(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

QUrl withSlash(QUrl url) {
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}
} // namespace

QUrl chooseSiteURL(const QString& builtIn, const QString& override) {
    const QUrl candidate(override.trimmed(), QUrl::StrictMode);
    return withSlash(usable(candidate) ? candidate : QUrl(builtIn));
}

QUrl siteURL() {
    static const QUrl url =
        chooseSiteURL(QLatin1String(kBuiltIn), qEnvironmentVariable("VANTEL_SITE_URL"));
    return url;
}

QUrl siteURL(const QString& path) {
    QString relative = path;
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    return siteURL().resolved(QUrl(relative));
}

} // namespace vantel
