// The pages browsers and link-preview crawlers open: clip pages and files, the user's page,
// the update file.

#include "Http.h"
#include "Ids.h"
#include "Pages.h"
#include "ShareServer.h"

#include <QJsonObject>
#include <httplib.h>

namespace vantel::server {

namespace {

const char* const idPattern = "([A-Za-z0-9_-]{1,64})";

std::string route(const char* before, const char* after = "") {
    return std::string(before) + idPattern + after;
}

struct ByteRange {
    bool present = false;
    int64_t start = 0;
};

// The first range of a "bytes=" Range header: only its start matters here (httplib answers the
// ranges themselves, but turns a start past the end into a bogus 206).
ByteRange firstRange(const httplib::Request& request) {
    const QString header = QString::fromStdString(request.get_header_value("Range")).trimmed();
    if (!header.startsWith(QLatin1String("bytes=")))
        return {};
    const QString first = header.mid(6).section(u',', 0, 0).trimmed();
    if (first.startsWith(u'-'))
        return {true, -1};
    bool ok = false;
    const qlonglong start = first.section(u'-', 0, 0).toLongLong(&ok);
    return ok ? ByteRange{true, start} : ByteRange{};
}

const char* typeOf(BlobKind kind) {
    return kind == BlobKind::Thumb ? "image/jpeg" : "video/mp4";
}

} // namespace

void ShareServer::routePages() {
    m_http->Get("/", [this](const Request&, Response& r) {
        http::html(r, 200, pages::home(m_config.link(QStringLiteral("me")).toString()));
    });
    m_http->Get("/healthz",
                [](const Request&, Response& r) { r.set_content("ok\n", "text/plain"); });
    m_http->Get("/app/version.json", [this](const Request& q, Response& r) { versionFile(q, r); });
    m_http->Get("/me", [this](const Request& q, Response& r) { mePage(q, r); });
    m_http->Post(route("/me/clips/", "/delete"),
                 [this](const Request& q, Response& r) { meDelete(q, r); });
    m_http->Get(route("/c/"), [this](const Request& q, Response& r) { clipPage(q, r, false); });
    m_http->Get(route("/c/", "/embed"),
                [this](const Request& q, Response& r) { clipPage(q, r, true); });
    m_http->Get(route("/c/", "\\.mp4"),
                [this](const Request& q, Response& r) { serveBlob(q, r, BlobKind::Video); });
    m_http->Get(route("/c/", "/preview\\.mp4"),
                [this](const Request& q, Response& r) { serveBlob(q, r, BlobKind::Preview); });
    m_http->Get(route("/c/", "/thumb\\.jpg"),
                [this](const Request& q, Response& r) { serveBlob(q, r, BlobKind::Thumb); });
}

void ShareServer::clipPage(const Request& request, Response& response, bool embed) {
    const std::optional<ClipRecord> clip = m_catalog.clip(http::match(request, 1));
    const std::optional<UserRecord> owner = clip ? m_catalog.user(clip->userId) : std::nullopt;
    if (!clip || clip->state != ClipState::Ready || !owner)
        return http::html(response, 404,
                          pages::message(QStringLiteral("Not found · Vantel Record"),
                                         QStringLiteral("This clip isn't here"),
                                         QStringLiteral("It was deleted, or the link is not "
                                                        "complete.")));
    const QString base = QStringLiteral("c/") + clip->id;
    pages::ClipLinks links;
    links.page = m_config.link(base).toString();
    links.video = m_config.link(base + QStringLiteral(".mp4")).toString();
    links.embedPage = m_config.link(base + QStringLiteral("/embed")).toString();
    links.embedded = links.video;
    links.embeddedWidth = clip->width;
    links.embeddedHeight = clip->height;
    if (clip->hasPreview) {
        links.embedded = m_config.link(base + QStringLiteral("/preview.mp4")).toString();
        links.embeddedWidth = clip->previewWidth;
        links.embeddedHeight = clip->previewHeight;
    }
    if (clip->hasThumb)
        links.thumb = m_config.link(base + QStringLiteral("/thumb.jpg")).toString();
    response.set_header("Cache-Control", "public, max-age=60");
    if (embed)
        return http::html(response, 200, pages::embed(*clip, links));
    m_catalog.countView(clip->id);
    http::html(response, 200, pages::clip(*clip, *owner, links));
}

void ShareServer::serveBlob(const Request& request, Response& response, BlobKind kind) {
    const std::optional<ClipRecord> clip = m_catalog.clip(http::match(request, 1));
    std::shared_ptr<BlobReader> reader;
    if (clip && clip->state == ClipState::Ready)
        reader = m_store.open(clip->id, kind);
    if (!reader)
        return http::error(response, 404, QStringLiteral("This clip isn't here."));
    const int64_t size = reader->size();
    response.set_header("Accept-Ranges", "bytes");
    response.set_header("Cache-Control", "public, max-age=86400");
    response.set_header("X-Content-Type-Options", "nosniff");
    const ByteRange range = firstRange(request);
    if (range.present && (range.start >= size || size == 0)) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    response.set_content_provider(size_t(size), typeOf(kind),
                                  [reader](size_t offset, size_t length, httplib::DataSink& sink) {
                                      static constexpr size_t chunk = 256 * 1024;
                                      std::unique_ptr<char[]> buffer(new char[chunk]);
                                      while (length > 0) {
                                          const size_t got =
                                              reader->read(int64_t(offset), buffer.get(),
                                                           std::min(chunk, length));
                                          if (got == 0 || !sink.write(buffer.get(), got))
                                              return false;
                                          offset += got;
                                          length -= got;
                                      }
                                      return true;
                                  });
}

void ShareServer::mePage(const Request& request, Response& response) {
    response.set_header("Cache-Control", "no-store");
    const std::optional<UserRecord> user = sessionUser(request);
    if (!user)
        return http::html(
            response, 200,
            pages::signedOut(m_config.discord.enabled(),
                             m_config.link(QStringLiteral("auth/discord")).toString()));
    QList<pages::MyClip> mine;
    for (const ClipRecord& clip : m_catalog.userClips(user->id)) {
        const QString base = QStringLiteral("c/") + clip.id;
        mine.append({clip, m_config.link(base).toString(),
                     clip.hasThumb ? m_config.link(base + QStringLiteral("/thumb.jpg")).toString()
                                   : QString()});
    }
    http::html(response, 200, pages::me(*user, mine));
}

void ShareServer::meDelete(const Request& request, Response& response) {
    const std::optional<UserRecord> user = sessionUser(request);
    // The session cookie is SameSite=Lax, so other sites cannot post here with it; a stated
    // Origin must be ours all the same.
    const QString origin = QString::fromStdString(request.get_header_value("Origin"));
    const QUrl ours = m_config.link({});
    if (!user || (!origin.isEmpty() &&
                  QUrl(origin).adjusted(QUrl::RemovePath) != ours.adjusted(QUrl::RemovePath)))
        return http::html(response, 403,
                          pages::message(QStringLiteral("Your clips · Vantel Record"),
                                         QStringLiteral("Sign in first"),
                                         QStringLiteral("Only the person who shared a clip can "
                                                        "delete it.")));
    const std::optional<ClipRecord> clip = m_catalog.clip(http::match(request, 1));
    if (clip && clip->userId == user->id)
        deleteClip(*clip);
    response.set_redirect(m_config.link(QStringLiteral("me")).toString().toStdString(), 303);
}

void ShareServer::versionFile(const Request&, Response& response) {
    if (m_config.release.version.isEmpty())
        return http::error(response, 404, QStringLiteral("No release is published here."));
    response.set_header("Cache-Control", "public, max-age=300");
    http::json(response, 200,
               QJsonObject{{QStringLiteral("version"), m_config.release.version},
                           {QStringLiteral("url"), m_config.release.url.toString()}});
}

} // namespace vantel::server
