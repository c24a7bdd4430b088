#include "SiteUrl.h"

#include "AppPaths.h"
#include "Settings.h"

#include <QSettings>
#include <QTextStream>

namespace vantel {

namespace {
constexpr char kBuiltIn[] = "https://record.vantel.app/";

bool usable(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) &&
           url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

QUrl withSlash(QUrl url) {
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

SiteOverride& forcedSite() {
    static SiteOverride forced;
    return forced;
}

SiteChoice chooseOnce() {
    SiteChoice choice = chooseSiteURL(QLatin1String(kBuiltIn), forcedSite(),
                                      configuredSharingService(AppPaths::configFile()));
    QTextStream err(stderr);
    for (const QString& line : choice.complaints)
        err << "vantel-record: " << line << '\n';
    return choice;
}
} // namespace

void overrideSiteURL(SiteOverride forced) {
    forcedSite() = std::move(forced);
}

SiteChoice chooseSiteURL(const QString& builtIn, const SiteOverride& forced,
                         const QString& configured) {
    const std::pair<QString, QString> sources[] = {
        {forced.value.trimmed(), forced.origin},
        {configured.trimmed(),
         QStringLiteral("\"%1\" in %2").arg(settingsKey::sharingService, AppPaths::configFile())}};
    SiteChoice choice{withSlash(QUrl(builtIn)), {}};
    QStringList refused;
    for (const auto& [value, name] : sources) {
        if (value.isEmpty())
            continue;
        const QUrl candidate(value, QUrl::StrictMode);
        if (usable(candidate)) {
            choice.url = withSlash(candidate);
            break;
        }
        refused << QStringLiteral("%1 is \"%2\", which is not an http or https address of a "
                                  "sharing service (like https://clips.example.org/)")
                       .arg(name, value);
    }
    for (const QString& line : refused)
        choice.complaints << line +
                                 QStringLiteral("; using %1 instead.").arg(choice.url.toString());
    return choice;
}

QString configuredSharingService(const QString& settingsFile) {
    const QSettings file(settingsFile, QSettings::IniFormat);
    const QVariant value = file.value(QLatin1String(settingsKey::sharingService));
    // A value with a comma reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QUrl siteURL() {
    static const QUrl url = chooseOnce().url;
    return url;
}

QUrl addressBelow(const QUrl& base, const QString& path) {
    QString relative = path;
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    // "./" keeps a colon in the first segment from reading as a scheme.
    return base.resolved(QUrl(QStringLiteral("./") + relative));
}

QUrl siteURL(const QString& path) {
    return addressBelow(siteURL(), path);
}

QString siteHost() {
    const QUrl base = siteURL();
    return base.port() < 0 ? base.host()
                           : base.host() + QLatin1Char(':') + QString::number(base.port());
}

} // namespace vantel
