#pragma once

// The sharing service's base address: scheme and host (and, for a self-hosted service or a
// test, a port and a leading path). The update check, the service client, the sign-in page and
// the user's page all form their addresses from it.
//
// The value is fixed when the program is built; the environment variable VANTEL_SITE_URL, read
// once on first use, replaces it (tests, self-hosting). A variable that is not an absolute http or
// https address with a host is ignored, so a typo cannot send requests to a relative path.
//
// Threads: any; the value never changes once read.

#include <QString>
#include <QUrl>

namespace vantel {

// The base address, always ending in "/".
QUrl siteURL();

// The base address with `path` ("app/version.json", "auth/app", "me") appended as a relative
// path below it.
QUrl siteURL(const QString& path);

// How siteURL() is chosen, for tests: `override` when it is a usable address, else `builtIn`.
QUrl chooseSiteURL(const QString& builtIn, const QString& override);

} // namespace vantel
