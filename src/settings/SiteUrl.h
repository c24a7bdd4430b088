#pragma once

// The sharing service's base address: scheme and host, and for a self-hosted service or a test
// a port and a path ("https://clips.example.org/vantel/"). The service client, the sign-in page,
// the user's page and the update check all form their addresses below it, so a service that
// lives under a path gets every request under that path.
//
// The address is chosen once, at the first call of siteURL(), from, in this order:
// - the program's override (overrideSiteURL: trying out another service for one run, tests);
// - the "sharingService" key of the settings file (settingsKey::sharingService), which a
//   self-hoster sets by hand;
// - the built-in address of our hosted service.
// A value that is set but is not an absolute http or https address with a host (and without
// user info, query or fragment) is refused with a message on standard error, so a typo cannot
// send requests, or the sign-in, to a relative path or a place nobody meant.
//
// Threads: any; the value never changes once chosen.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace vantel {

// The base address, always ending in "/".
QUrl siteURL();

// The base address with `path` ("app/version.json", "auth/app", "me", "/api/clips") below it:
// leading slashes are dropped, so "/api/clips" under "https://host/base/" is
// "https://host/base/api/clips", never "https://host/api/clips".
QUrl siteURL(const QString& path);

// The host of siteURL() as a player would name the service: the host, and ":port" when the
// address names one ("127.0.0.1:8080").
QString siteHost();

// `path` below `base` (which ends in "/"), as siteURL(path) forms it.
QUrl addressBelow(const QUrl& base, const QString& path);

// The "sharingService" value of the INI file at `settingsFile` as written there ("" when
// absent).
QString configuredSharingService(const QString& settingsFile);

// An address that takes the place of the settings file's, and where it came from (named in the
// message when it is refused).
struct SiteOverride {
    QString value;
    QString origin;
};
// Makes `forced` the first candidate of the choice. Counts only before the first siteURL() call;
// main thread.
void overrideSiteURL(SiteOverride forced);

// How siteURL() is chosen, for tests.
struct SiteChoice {
    QUrl url;
    // One line per refused value, for standard error.
    QStringList complaints;
};
// `forced` when it is set and usable, else `configured` when set and usable, else `builtIn`; an
// empty (or blank) value counts as not set.
SiteChoice chooseSiteURL(const QString& builtIn, const SiteOverride& forced,
                         const QString& configured);

} // namespace vantel
