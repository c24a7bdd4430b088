#include "S3BlobStore.h"

#include "BodyPipe.h"
#include "Ids.h"

#include <QTextStream>
#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

namespace vantel::server {
namespace {

constexpr size_t kPipeBytes = 1024 * 1024;
constexpr int64_t kFirstWindow = 256 * 1024;
constexpr int64_t kLargestWindow = 4 * 1024 * 1024;

const QString& checkedId(const QString& clipId) {
    if (!isSafeId(clipId))
        throw BlobError("Refused a clip id that is not safe as a storage key.");
    return clipId;
}

QByteArray contentTypeOf(BlobKind kind) {
    return kind == BlobKind::Thumb ? "image/jpeg" : "video/mp4";
}

// Runs `upload` on a thread of its own, fed by write() through a pipe.
class PipedSink : public BlobSink {
public:
    using Upload = std::function<QString(const S3BodySource&)>;

    PipedSink(int64_t size, Upload upload)
        : m_pipe(kPipeBytes)
        , m_size(size) {
        m_thread = std::thread([this, upload = std::move(upload)] {
            try {
                m_tag = upload(
                    [this](char* data, int64_t capacity) { return m_pipe.pull(data, capacity); });
            } catch (...) {
                m_failure = std::current_exception();
            }
            m_pipe.fail();
        });
    }

    ~PipedSink() override {
        if (m_thread.joinable()) {
            m_pipe.abort();
            m_thread.join();
        }
    }

    void write(const char* data, size_t size) override {
        m_written += int64_t(size);
        if (m_written > m_size) {
            m_pipe.abort();
            finish();
            throw BlobError("An upload sent more bytes than it announced.");
        }
        if (!m_pipe.push(data, size))
            finish(); // the upload ended early: its error, or one saying so
    }

    QString commit() override {
        if (m_written != m_size) {
            m_pipe.abort();
            finish();
            throw BlobError("An upload ended before the bytes it announced.");
        }
        m_pipe.close();
        finish();
        return m_tag;
    }

private:
    void finish() {
        if (m_thread.joinable())
            m_thread.join();
        if (m_failure && m_written <= m_size) {
            try {
                std::rethrow_exception(m_failure);
            } catch (const std::exception& error) {
                throw BlobError(error.what());
            }
        }
        if (m_tag.isEmpty())
            throw BlobError("Object storage ended an upload without a receipt.");
    }

    BodyPipe m_pipe;
    const int64_t m_size;
    int64_t m_written = 0;
    std::thread m_thread;
    QString m_tag;                // written by the thread, read after join
    std::exception_ptr m_failure; // likewise
};

// Reads an object in ranged GETs of a window that doubles while reads follow each other.
class S3BlobReader : public BlobReader {
public:
    S3BlobReader(S3Client client, QString key, int64_t size)
        : m_client(std::move(client))
        , m_key(std::move(key))
        , m_size(size) {}

    int64_t size() const override { return m_size; }

    size_t read(int64_t offset, char* data, size_t size) override {
        if (offset < 0 || offset >= m_size || size == 0)
            return 0;
        if (offset < m_start || offset >= m_start + int64_t(m_window.size()))
            fill(offset, int64_t(size));
        const int64_t available = m_start + int64_t(m_window.size()) - offset;
        const size_t count = size_t(std::min<int64_t>(available, int64_t(size)));
        std::memcpy(data, m_window.data() + (offset - m_start), count);
        return count;
    }

private:
    void fill(int64_t offset, int64_t wanted) {
        const bool sequential = !m_window.empty() && offset == m_start + int64_t(m_window.size());
        m_span = sequential ? std::min(m_span * 2, kLargestWindow) : kFirstWindow;
        const int64_t length = std::min(std::max(m_span, wanted), m_size - offset);
        m_window.clear();
        m_window.reserve(size_t(length));
        m_start = offset;
        try {
            m_client.get(m_key, S3Range{offset, offset + length - 1},
                         [this](const char* bytes, size_t count) {
                             m_window.insert(m_window.end(), bytes, bytes + count);
                             return true;
                         });
        } catch (const std::exception& error) {
            m_window.clear();
            throw BlobError(error.what());
        }
        if (m_window.empty())
            throw BlobError("Object storage sent nothing of " + m_key.toStdString() + ".");
    }

    const S3Client m_client; // a copy: a reader may outlive its store
    const QString m_key;
    const int64_t m_size;
    std::vector<char> m_window;
    int64_t m_start = 0;
    int64_t m_span = kFirstWindow;
};

template <typename Step> auto storageStep(Step step) {
    try {
        return step();
    } catch (const S3Error& error) {
        throw BlobError(error.what());
    } catch (const std::invalid_argument& error) {
        throw BlobError(error.what());
    }
}

S3Client makeClient(const S3Config& config, int64_t partSize) {
    if (partSize < S3BlobStore::kMinimumPartSize)
        throw BlobError("With S3 storage the part size must be at least 5 MiB (5242880 bytes).");
    return storageStep([&] { return S3Client(config); });
}

} // namespace

S3BlobStore::S3BlobStore(const S3Config& config, int64_t partSize)
    : m_client(makeClient(config, partSize)) {}

QString S3BlobStore::key(const QString& clipId, BlobKind kind) {
    const QString name = kind == BlobKind::Video     ? QStringLiteral("video.mp4")
                         : kind == BlobKind::Preview ? QStringLiteral("preview.mp4")
                                                     : QStringLiteral("thumb.jpg");
    return QStringLiteral("clips/") + checkedId(clipId) + u'/' + name;
}

QString S3BlobStore::beginUpload(const QString& clipId) {
    const QString videoKey = key(clipId, BlobKind::Video);
    return storageStep([&] { return m_client.createMultipartUpload(videoKey, "video/mp4"); });
}

std::unique_ptr<BlobSink> S3BlobStore::openPart(const QString& clipId, const QString& handle,
                                                int64_t number, int64_t size) {
    const QString videoKey = key(clipId, BlobKind::Video);
    if (handle.isEmpty())
        throw BlobError("The clip's upload has no multipart upload in object storage.");
    return std::make_unique<PipedSink>(size, [this, videoKey, handle, number, size](auto& source) {
        return m_client.uploadPart(videoKey, handle, int(number), size, source);
    });
}

void S3BlobStore::joinParts(const QString& clipId, const QString& handle,
                            const QList<StoredPart>& parts) {
    const QString videoKey = key(clipId, BlobKind::Video);
    std::vector<S3Part> receipts;
    for (const StoredPart& part : parts)
        receipts.push_back({int(part.number), part.tag});
    storageStep([&] { m_client.completeMultipartUpload(videoKey, handle, receipts); });
}

void S3BlobStore::abortUpload(const QString& clipId, const QString& handle) {
    if (handle.isEmpty())
        return;
    const QString videoKey = key(clipId, BlobKind::Video);
    try {
        m_client.abortMultipartUpload(videoKey, handle);
    } catch (const S3Error& error) {
        if (error.status() != 405 && error.status() != 501)
            throw BlobError(error.what());
        QTextStream(stderr) << "vantel-share: the object storage cannot abort uploads; the parts "
                               "of "
                            << videoKey << " stay until the bucket's lifecycle rule removes them ("
                            << error.what() << ")\n";
    }
}

std::unique_ptr<BlobSink> S3BlobStore::openBlob(const QString& clipId, BlobKind kind,
                                                int64_t size) {
    const QString blobKey = key(clipId, kind);
    return std::make_unique<PipedSink>(size, [this, blobKey, kind, size](auto& source) {
        return m_client.putObject(blobKey, size, source, contentTypeOf(kind));
    });
}

std::unique_ptr<BlobReader> S3BlobStore::open(const QString& clipId, BlobKind kind) {
    const QString blobKey = key(clipId, kind);
    const std::optional<S3ObjectInfo> info = storageStep([&] { return m_client.head(blobKey); });
    if (!info)
        return nullptr;
    return std::make_unique<S3BlobReader>(m_client, blobKey, info->size);
}

void S3BlobStore::remove(const QString& clipId, BlobKind kind) {
    const QString blobKey = key(clipId, kind);
    storageStep([&] { m_client.remove(blobKey); });
}

void S3BlobStore::removeClip(const QString& clipId, const QString& handle) {
    for (BlobKind kind : {BlobKind::Video, BlobKind::Preview, BlobKind::Thumb})
        remove(clipId, kind);
    abortUpload(clipId, handle);
}

} // namespace vantel::server
