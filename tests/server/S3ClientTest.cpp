// The S3 client against the real S3 stand-in, which checks every signature: whole and streamed
// objects, ranges, multipart uploads joined across part boundaries, removal, presigned
// URLs, and the errors an operator must be able to read (wrong keys, an unreachable storage, a
// body that breaks off).

#include "server/S3Client.h"

#include "S3Standin.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>

using namespace vantel::server;
using vantel::test::S3Standin;

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// Bytes that differ at every offset, so a shifted range shows.
char patternByte(int64_t offset) {
    return static_cast<char>((offset * 131 + offset / 7) & 0xff);
}

QByteArray pattern(int64_t first, int64_t size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int64_t i = 0; i < size; ++i)
        bytes[qsizetype(i)] = patternByte(first + i);
    return bytes;
}

// A body source that yields `size` pattern bytes starting at `first`.
S3BodySource patternSource(int64_t first, int64_t size) {
    auto sent = std::make_shared<int64_t>(0);
    return [=](char* data, int64_t capacity) {
        const int64_t count = std::min(capacity, size - *sent);
        for (int64_t i = 0; i < count; ++i)
            data[i] = patternByte(first + *sent + i);
        *sent += count;
        return count;
    };
}

QByteArray download(const S3Client& client, const QString& key, std::optional<S3Range> range,
                    S3Download* info = nullptr) {
    QByteArray bytes;
    const S3Download got = client.get(key, range, [&](const char* data, size_t size) {
        bytes.append(data, static_cast<qsizetype>(size));
        return true;
    });
    if (info)
        *info = got;
    return bytes;
}

class S3ClientTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_standin = std::make_unique<S3Standin>(); }
    static void TearDownTestSuite() { s_standin.reset(); }

    S3Client client() const { return S3Client(s_standin->config()); }
    S3Client clientWith(const QString& accessKey, const QString& secretKey) const {
        S3Config config = s_standin->config();
        config.accessKey = accessKey;
        config.secretKey = secretKey;
        return S3Client(config);
    }

    static std::unique_ptr<S3Standin> s_standin;
};

std::unique_ptr<S3Standin> S3ClientTest::s_standin;

} // namespace

TEST_F(S3ClientTest, StoresDescribesReadsRangesAndRemovesAnObject) {
    const S3Client s3 = client();
    const QByteArray body = pattern(0, 100000);
    const QString etag = s3.putObject("clips/a b/thumb.jpg", body, "image/jpeg");
    EXPECT_FALSE(etag.isEmpty());

    const auto info = s3.head("clips/a b/thumb.jpg");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size, body.size());
    EXPECT_EQ(info->etag, etag);
    EXPECT_EQ(info->contentType, "image/jpeg");

    S3Download got;
    EXPECT_EQ(download(s3, "clips/a b/thumb.jpg", std::nullopt, &got), body);
    EXPECT_EQ(got.totalSize, body.size());
    EXPECT_EQ(download(s3, "clips/a b/thumb.jpg", S3Range{1000, 1999}, &got), body.mid(1000, 1000));
    EXPECT_EQ(got.first, 1000);
    EXPECT_EQ(got.length, 1000);
    EXPECT_EQ(got.totalSize, body.size());

    try {
        download(s3, "clips/a b/thumb.jpg", S3Range{body.size(), body.size() + 10});
        FAIL() << "a range past the end was served";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.status(), 416);
    }

    s3.remove("clips/a b/thumb.jpg");
    EXPECT_FALSE(s3.head("clips/a b/thumb.jpg"));
    EXPECT_NO_THROW(s3.remove("clips/a b/thumb.jpg"));
    EXPECT_THROW(download(s3, "clips/a b/thumb.jpg", std::nullopt), S3Error);
}

TEST_F(S3ClientTest, StreamsALargeObjectBothWaysWithoutHoldingIt) {
    const S3Client s3 = client();
    const int64_t size = 12 * kMiB + 3;
    s3.putObject("big.bin", size, patternSource(0, size), "video/mp4");
    QCryptographicHash sent(QCryptographicHash::Sha256), received(QCryptographicHash::Sha256);
    sent.addData(pattern(0, size));
    size_t largestChunk = 0;
    const S3Download got = s3.get("big.bin", std::nullopt, [&](const char* data, size_t count) {
        received.addData(QByteArrayView(data, static_cast<qsizetype>(count)));
        largestChunk = std::max(largestChunk, count);
        return true;
    });
    EXPECT_EQ(got.totalSize, size);
    EXPECT_EQ(received.result(), sent.result());
    EXPECT_LT(largestChunk, size_t(kMiB)) << "the download was handed over whole";
    s3.remove("big.bin");
}

TEST_F(S3ClientTest, JoinsMultipartUploadsAndDropsAbortedOnes) {
    const S3Client s3 = client();
    const int64_t part = 5 * kMiB;
    const QString upload = s3.createMultipartUpload("clips/x/video.mp4", "video/mp4");
    std::vector<S3Part> parts;
    // Parts may arrive in any order; they are joined by number.
    parts.push_back(
        {2, s3.uploadPart("clips/x/video.mp4", upload, 2, part, patternSource(part, part))});
    parts.insert(parts.begin(),
                 {1, s3.uploadPart("clips/x/video.mp4", upload, 1, part, patternSource(0, part))});
    parts.push_back(
        {3, s3.uploadPart("clips/x/video.mp4", upload, 3, 1234, patternSource(2 * part, 1234))});
    EXPECT_FALSE(s3.head("clips/x/video.mp4")) << "visible before completion";
    s3.completeMultipartUpload("clips/x/video.mp4", upload, parts);

    const auto info = s3.head("clips/x/video.mp4");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size, 2 * part + 1234);
    EXPECT_EQ(download(s3, "clips/x/video.mp4", S3Range{part - 100, part + 99}),
              pattern(part - 100, 200));
    EXPECT_EQ(download(s3, "clips/x/video.mp4", S3Range{2 * part, 2 * part + 1233}),
              pattern(2 * part, 1234));

    // The stand-in has no abort (it answers 405): what counts is that the client says so
    // instead of reporting success, and that nothing appears.
    const QString dropped = s3.createMultipartUpload("clips/y/video.mp4", "video/mp4");
    s3.uploadPart("clips/y/video.mp4", dropped, 1, 10, patternSource(0, 10));
    try {
        s3.abortMultipartUpload("clips/y/video.mp4", dropped);
    } catch (const S3Error& error) {
        EXPECT_EQ(error.status(), 405) << error.what();
    }
    EXPECT_FALSE(s3.head("clips/y/video.mp4"));
    s3.remove("clips/x/video.mp4");
}

TEST_F(S3ClientTest, WrongKeysAreRefusedWithAClearError) {
    client().putObject("kept.txt", QByteArray("kept"));
    for (const S3Client& wrong :
         {clientWith("S3RVER", "not-the-secret"), clientWith("NOBODY", "S3RVER")}) {
        try {
            wrong.putObject("stolen.txt", QByteArray("x"));
            FAIL() << "a wrong key stored an object";
        } catch (const S3Error& error) {
            EXPECT_EQ(error.status(), 403);
            EXPECT_NE(std::string(error.what()).find("403"), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find("access key"), std::string::npos)
                << error.what();
        }
        EXPECT_THROW(download(wrong, "kept.txt", std::nullopt), S3Error);
        EXPECT_THROW(wrong.createMultipartUpload("stolen.txt", "video/mp4"), S3Error);
        EXPECT_THROW(wrong.head("kept.txt"), S3Error);
        EXPECT_THROW(wrong.remove("kept.txt"), S3Error);
    }
    EXPECT_FALSE(client().head("stolen.txt"));
    EXPECT_EQ(download(client(), "kept.txt", std::nullopt), "kept");
}

TEST_F(S3ClientTest, PresignedUrlsServeRangesAndRefuseTampering) {
    const S3Client s3 = client();
    s3.putObject("clips/p/video.mp4", pattern(0, 5000), "video/mp4");
    const QUrl url = s3.presignedGetUrl("clips/p/video.mp4", 600);
    httplib::Client http(url.toString(QUrl::RemovePath | QUrl::RemoveQuery).toStdString());
    http.set_url_encode(false);
    const std::string target =
        url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded).toStdString();
    auto ranged = http.Get(target, {{"Range", "bytes=100-199"}});
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status, 206);
    EXPECT_EQ(QByteArray::fromStdString(ranged->body), pattern(100, 100));

    std::string tampered = target;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    auto refused = http.Get(tampered);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
}

TEST_F(S3ClientTest, ABodyThatBreaksOffIsAnError) {
    const S3Client s3 = client();
    auto sent = std::make_shared<int64_t>(0);
    const S3BodySource failing = [sent](char* data, int64_t capacity) -> int64_t {
        if (*sent >= 300000)
            throw std::runtime_error("the uploader went away");
        const int64_t count = std::min<int64_t>(capacity, 100000);
        std::fill(data, data + count, 'x');
        *sent += count;
        return count;
    };
    EXPECT_THROW(
        {
            try {
                s3.putObject("broken.bin", 1000000, failing);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "the uploader went away");
                throw;
            }
        },
        std::runtime_error);
    const S3BodySource shortBody = patternSource(0, 1000);
    try {
        s3.putObject("short.bin", 5000, shortBody);
        FAIL() << "a short body was stored";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.code(), "IncompleteBody");
    }
}

TEST_F(S3ClientTest, AReaderThatStopsAndAnUnreachableStorageAreErrors) {
    const S3Client s3 = client();
    s3.putObject("stop.bin", pattern(0, 3 * kMiB));
    try {
        s3.get("stop.bin", std::nullopt, [](const char*, size_t) { return false; });
        FAIL() << "a stopped download reported success";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.code(), "Stopped");
    }
    S3Config gone = s_standin->config();
    gone.endpoint = QUrl("http://127.0.0.1:1");
    try {
        S3Client(gone).head("stop.bin");
        FAIL() << "an unreachable storage answered";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.status(), 0);
        EXPECT_NE(std::string(error.what()).find("127.0.0.1:1"), std::string::npos);
    }
    S3Config wrong = s_standin->config();
    wrong.endpoint = QUrl("ftp://host");
    EXPECT_THROW(S3Client{wrong}, std::invalid_argument);
    wrong = s_standin->config();
    wrong.bucket.clear();
    EXPECT_THROW(S3Client{wrong}, std::invalid_argument);
}
