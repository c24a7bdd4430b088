#pragma once

// The update check: fetches siteURL + "app/version.json", a JSON object with the string members
// "version" and "url", and reports the remote version when it is newer than the running one.
// Any failure (network, body, address) reports nothing: the next check tries again. The HTTP
// status is not examined: a server that answers is judged by its body alone.

#include "AppState.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace vantel {

// Compares version strings so that runs of digits compare as numbers ("1.10.0" > "1.9.3",
// "1.02" equals "1.2"); other characters compare one by one. Negative, zero or positive like
// strcmp.
int compareVersions(const QString& a, const QString& b);

// The update a body announces when its "version" is newer than `running`: nothing when the body
// is not a JSON object with string members "version" and "url", when "url" is not an absolute
// http or https address, or when the remote version is not newer.
std::optional<AppUpdate> newerVersion(const QByteArray& body, const QString& running);

// Starts one check against `versionFile` through `network`. `done` runs on the calling thread
// with the update or nothing, unless `context` is destroyed first; the request then ends with
// the manager.
void checkForUpdate(QNetworkAccessManager& network, const QUrl& versionFile, const QString& running,
                    QObject* context, std::function<void(std::optional<AppUpdate>)> done);

} // namespace vantel
