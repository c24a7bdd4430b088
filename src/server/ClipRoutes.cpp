// The program's clip requests: create, parts, preview, thumbnail, done, rename and delete.

#include "Http.h"
#include "Ids.h"
#include "MediaCheck.h"
#include "Sha256.h"
#include "ShareServer.h"

#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <httplib.h>

namespace vantel::server {

namespace {

constexpr qsizetype maxTitle = 200;

QString megabytes(int64_t bytes) {
    if (bytes >= 1'000'000'000)
        return QString::number(double(bytes) / 1e9, 'f', 1) + QStringLiteral(" GB");
    return QString::number(std::max<int64_t>(1, (bytes + 500'000) / 1'000'000)) +
           QStringLiteral(" MB");
}

std::optional<int64_t> integer(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return int64_t(number);
}

// The parts that have not arrived, as "Parts 3 and 5 of 6".
QString missingParts(const QList<PartRecord>& parts, int64_t count) {
    QStringList missing;
    int64_t total = 0;
    qsizetype next = 0;
    for (int64_t number = 1; number <= count; ++number) {
        while (next < parts.size() && parts[next].number < number)
            ++next;
        if (next < parts.size() && parts[next].number == number)
            continue;
        if (++total <= 5)
            missing << QString::number(number);
    }
    if (total == 0)
        return {};
    QString list = missing.join(QStringLiteral(", "));
    if (total > missing.size())
        list += QStringLiteral(" and %1 more").arg(total - missing.size());
    return QStringLiteral("%1 %2 of %3 %4 not arrived. Share the clip again.")
        .arg(total == 1 ? QStringLiteral("Part") : QStringLiteral("Parts"), list,
             QString::number(count), total == 1 ? QStringLiteral("has") : QStringLiteral("have"));
}

// A sink that keeps nothing: for comparing a repeated part with the one stored.
class NullSink : public BlobSink {
public:
    void write(const char*, size_t) override {}
    QString commit() override { return {}; }
};

// A sink that keeps the bytes in memory: for the small thumbnail, checked before it is stored.
class MemorySink : public BlobSink {
public:
    QByteArray bytes;
    void write(const char* data, size_t size) override { bytes.append(data, qsizetype(size)); }
    QString commit() override { return {}; }
};

} // namespace

std::optional<ClipRecord> ShareServer::ownedClip(const Request& request, Response& response) {
    const std::optional<UserRecord> user = bearerUser(request, response);
    if (!user)
        return std::nullopt;
    const QString id = http::match(request, 1);
    if (!isSafeId(id)) {
        http::error(response, 400, QStringLiteral("This clip id isn't valid."));
        return std::nullopt;
    }
    std::optional<ClipRecord> clip = m_catalog.clip(id);
    if (!clip) {
        http::error(response, 404, QStringLiteral("This clip isn't shared anymore."));
        return std::nullopt;
    }
    if (clip->userId != user->id) {
        http::error(response, 403, QStringLiteral("This clip belongs to someone else."));
        return std::nullopt;
    }
    return clip;
}

std::optional<QString> ShareServer::receive(const Request& request, Response& response,
                                            const Reader& reader, BlobSink& sink, int64_t size) {
    Sha256 hash;
    int64_t received = 0;
    std::exception_ptr failure;
    const bool read = reader([&](const char* data, size_t length) {
        received += int64_t(length);
        if (received > size)
            return false;
        try {
            sink.write(data, length);
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
        hash.add(data, length);
        return true;
    });
    if (failure)
        std::rethrow_exception(failure);
    // A reader that fails (the client stopped, the connection timed out, the payload limit) or
    // a body of another length than announced: nothing of it is kept.
    if (!read || received != size) {
        response.set_header("Connection", "close");
        http::error(response, 400, QStringLiteral("The upload arrived incomplete. Try again."));
        return std::nullopt;
    }
    (void)request;
    return hash.hex();
}

void ShareServer::createClip(const Request& request, Response& response) {
    const std::optional<UserRecord> user = bearerUser(request, response);
    if (!user)
        return;
    const std::optional<QJsonObject> body = http::jsonBody(request, response);
    if (!body)
        return;
    const QJsonValue title = body->value(QLatin1String("title"));
    const QJsonValue game = body->value(QLatin1String("game"));
    const QJsonValue duration = body->value(QLatin1String("duration"));
    const QJsonValue preview = body->value(QLatin1String("preview"));
    const std::optional<int64_t> width = integer(body->value(QLatin1String("width")));
    const std::optional<int64_t> height = integer(body->value(QLatin1String("height")));
    const std::optional<int64_t> size = integer(body->value(QLatin1String("size")));
    if (!title.isString() || !game.isString() || !duration.isDouble() || !preview.isBool() ||
        !width || !height || !size || *width < 0 || *height < 0 || duration.toDouble() < 0)
        return http::error(response, 400,
                           QStringLiteral("The clip's description is incomplete: it needs a "
                                          "title, game, duration, width, height, size and "
                                          "preview."));
    if (*size <= 0)
        return http::error(response, 400, QStringLiteral("The clip is empty."));
    if (*size > m_config.clipSizeLimit)
        return http::error(response, 413,
                           QStringLiteral("This clip is %1; this sharing service takes clips up "
                                          "to %2. Trim it and share again.")
                               .arg(megabytes(*size), megabytes(m_config.clipSizeLimit)));
    const int64_t used = m_catalog.usedBytes(user->id);
    if (used + *size > m_config.userQuota)
        return http::error(response, 413,
                           QStringLiteral("Your shared clips use %1 of your %2 here. Delete "
                                          "some on your page, then share again.")
                               .arg(megabytes(used), megabytes(m_config.userQuota)));
    ClipRecord clip;
    clip.id = newId();
    clip.userId = user->id;
    clip.title = title.toString().trimmed().left(maxTitle);
    if (clip.title.isEmpty())
        clip.title = QStringLiteral("Untitled clip");
    clip.game = game.toString().trimmed().left(maxTitle);
    clip.duration = duration.toDouble();
    clip.width = *width;
    clip.height = *height;
    clip.size = *size;
    clip.partSize = m_config.partSize;
    clip.previewPlanned = preview.toBool();
    clip.created = http::now();
    clip.uploadHandle = m_store.beginUpload(clip.id);
    m_catalog.createClip(clip);
    http::json(response, 201,
               QJsonObject{{QStringLiteral("id"), clip.id},
                           {QStringLiteral("partSize"), qint64(clip.partSize)},
                           {QStringLiteral("url"), m_config.link("c/" + clip.id).toString()}});
}

void ShareServer::putPart(const Request& request, Response& response, const Reader& reader) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    if (clip->state != ClipState::Uploading)
        return http::error(response, 409, QStringLiteral("This clip's upload is finished."));
    bool isNumber = false;
    const QString text = http::match(request, 2);
    const int64_t number = text.size() <= 9 ? text.toLongLong(&isNumber) : 0;
    if (!isNumber || text.startsWith(u'+') || text.startsWith(u'-') || number < 1 ||
        number > clip->partCount())
        return http::error(response, 400,
                           QStringLiteral("There is no part %1: this clip has %2 parts.")
                               .arg(text.left(12))
                               .arg(clip->partCount()));
    const int64_t length = http::contentLength(request);
    if (length < 0)
        return http::error(response, 411, QStringLiteral("Send the part with its length."));
    if (length > clip->partSize) {
        response.set_header("Connection", "close");
        return http::error(response, 413,
                           QStringLiteral("Part %1 is larger than the part size of %2 bytes.")
                               .arg(number)
                               .arg(clip->partSize));
    }
    if (length != clip->partBytes(number)) {
        response.set_header("Connection", "close");
        return http::error(response, 400,
                           QStringLiteral("Part %1 must be %2 bytes, not %3.")
                               .arg(number)
                               .arg(clip->partBytes(number))
                               .arg(length));
    }
    if (const std::optional<PartRecord> earlier = m_catalog.part(clip->id, number)) {
        NullSink discard;
        const std::optional<QString> digest = receive(request, response, reader, discard, length);
        if (!digest)
            return;
        if (*digest != earlier->sha256)
            return http::error(response, 409,
                               QStringLiteral("Part %1 arrived before with other bytes. Share "
                                              "the clip again.")
                                   .arg(number));
        return http::json(response, 200, {});
    }
    std::unique_ptr<BlobSink> sink = m_store.openPart(clip->id, clip->uploadHandle, number, length);
    const std::optional<QString> digest = receive(request, response, reader, *sink, length);
    if (!digest)
        return;
    const QString tag = sink->commit();
    if (!m_catalog.addPart(clip->id, {number, length, *digest, tag})) {
        const std::optional<PartRecord> other = m_catalog.part(clip->id, number);
        if (!other || other->sha256 != *digest)
            return http::error(response, 409,
                               QStringLiteral("Part %1 arrived twice at once with other bytes. "
                                              "Share the clip again.")
                                   .arg(number));
    }
    http::json(response, 200, {});
}

void ShareServer::putPreview(const Request& request, Response& response, const Reader& reader) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    if (clip->state != ClipState::Uploading)
        return http::error(response, 409, QStringLiteral("This clip's upload is finished."));
    const int64_t length = http::contentLength(request);
    if (length < 0)
        return http::error(response, 411, QStringLiteral("Send the preview with its length."));
    if (length == 0 || length > clip->size) {
        response.set_header("Connection", "close");
        return http::error(response, 413,
                           QStringLiteral("The preview must be smaller than the clip."));
    }
    {
        std::unique_ptr<BlobSink> sink = m_store.openBlob(clip->id, BlobKind::Preview, length);
        if (!receive(request, response, reader, *sink, length))
            return;
        sink->commit();
    }
    try {
        std::unique_ptr<BlobReader> stored = m_store.open(clip->id, BlobKind::Preview);
        if (!stored)
            throw BlobError("The preview vanished right after it was stored.");
        const VideoFacts facts = checkMp4(*stored);
        m_catalog.setPreview(clip->id, {facts.width, facts.height});
    } catch (const MediaRefused& refused) {
        m_store.remove(clip->id, BlobKind::Preview);
        return http::error(response, 422, QString::fromUtf8(refused.what()));
    }
    http::json(response, 200, {});
}

void ShareServer::putThumb(const Request& request, Response& response, const Reader& reader) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    const int64_t length = http::contentLength(request);
    if (length < 0)
        return http::error(response, 411, QStringLiteral("Send the thumbnail with its length."));
    if (length == 0 || length > m_config.thumbSizeLimit) {
        response.set_header("Connection", "close");
        return http::error(response, 413,
                           QStringLiteral("The thumbnail must be a picture of at most %1.")
                               .arg(megabytes(m_config.thumbSizeLimit)));
    }
    MemorySink memory;
    if (!receive(request, response, reader, memory, length))
        return;
    AssetFacts facts;
    try {
        facts = checkJpeg(memory.bytes);
    } catch (const MediaRefused& refused) {
        return http::error(response, 422, QString::fromUtf8(refused.what()));
    }
    std::unique_ptr<BlobSink> sink = m_store.openBlob(clip->id, BlobKind::Thumb, length);
    sink->write(memory.bytes.constData(), size_t(memory.bytes.size()));
    sink->commit();
    m_catalog.setThumb(clip->id, facts);
    http::json(response, 200, {});
}

void ShareServer::done(const Request& request, Response& response) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    const std::optional<QJsonObject> body = http::jsonBody(request, response);
    if (!body)
        return;
    const QString link = m_config.link("c/" + clip->id).toString();
    if (clip->state == ClipState::Ready)
        return http::json(response, 200, QJsonObject{{QStringLiteral("url"), link}});
    const std::optional<int64_t> parts = integer(body->value(QLatin1String("parts")));
    if (!parts)
        return http::error(response, 400, QStringLiteral("Say how many parts were sent."));
    if (*parts != clip->partCount())
        return http::error(
            response, 400,
            QStringLiteral("This clip has %1 parts, not %2.").arg(clip->partCount()).arg(*parts));
    const QList<PartRecord> stored = m_catalog.parts(clip->id);
    const QString missing = missingParts(stored, clip->partCount());
    if (!missing.isEmpty())
        return http::error(response, 400, missing);
    QList<StoredPart> pieces;
    for (const PartRecord& part : stored)
        pieces.append({part.number, part.size, part.tag});
    m_store.joinParts(clip->id, clip->uploadHandle, pieces);
    VideoFacts facts;
    try {
        std::unique_ptr<BlobReader> video = m_store.open(clip->id, BlobKind::Video);
        if (!video)
            throw BlobError("The joined video vanished right after it was written.");
        facts = checkMp4(*video);
    } catch (const MediaRefused& refused) {
        deleteClip(*clip);
        return http::error(response, 422, QString::fromUtf8(refused.what()));
    }
    m_catalog.finishClip(clip->id, facts);
    m_catalog.removeParts(clip->id);
    http::json(response, 200, QJsonObject{{QStringLiteral("url"), link}});
}

void ShareServer::deleteClip(const ClipRecord& clip) {
    m_store.removeClip(clip.id, clip.uploadHandle);
    m_catalog.removeClip(clip.id);
}

void ShareServer::removeClip(const Request& request, Response& response) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    deleteClip(*clip);
    http::json(response, 200, {});
}

void ShareServer::renameClip(const Request& request, Response& response) {
    const std::optional<ClipRecord> clip = ownedClip(request, response);
    if (!clip)
        return;
    const std::optional<QJsonObject> body = http::jsonBody(request, response);
    if (!body)
        return;
    const QJsonValue title = body->value(QLatin1String("title"));
    if (!title.isString() || title.toString().trimmed().isEmpty())
        return http::error(response, 400, QStringLiteral("Give the clip a title."));
    if (title.toString().trimmed().size() > maxTitle)
        return http::error(response, 400,
                           QStringLiteral("Titles can be at most %1 characters.").arg(maxTitle));
    m_catalog.renameClip(clip->id, title.toString().trimmed());
    http::json(response, 200, {});
}

} // namespace vantel::server
