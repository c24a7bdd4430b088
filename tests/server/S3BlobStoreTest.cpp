// The S3 blob store against the real S3 stand-in: a clip's parts streamed by two store
// instances into one multipart upload and joined by either, read back in the small jumps of
// the upload check and in the long runs of a served file, an MP4 checked with libavformat
// straight from the bucket, the errors of short parts, wrong keys and unsafe ids, and removal.

#include "server/S3BlobStore.h"

#include "S3Standin.h"
#include "common/Shell.h"
#include "common/TestEnv.h"
#include "server/MediaCheck.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace vantel::server;
using vantel::test::S3Standin;

namespace {

constexpr int64_t kPart = 5 * 1024 * 1024;

QByteArray pattern(int64_t first, int64_t size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int64_t i = 0; i < size; ++i)
        bytes[qsizetype(i)] = char(((first + i) * 131 + (first + i) / 7) & 0xff);
    return bytes;
}

// Writes `bytes` into a sink in uneven chunks, as a network read hands them over.
QString writeAll(BlobSink& sink, const QByteArray& bytes) {
    for (qsizetype at = 0, step = 1; at < bytes.size(); at += step, step = (step * 3 + 7) & 0x7ffff)
        sink.write(bytes.constData() + at, size_t(std::min(step, bytes.size() - at)));
    return sink.commit();
}

QByteArray readAll(BlobReader& reader, size_t chunk) {
    QByteArray bytes;
    QByteArray buffer(qsizetype(chunk), Qt::Uninitialized);
    while (size_t got = reader.read(bytes.size(), buffer.data(), chunk))
        bytes.append(buffer.constData(), qsizetype(got));
    return bytes;
}

QString newClipId(int n) {
    return QStringLiteral("s3clip%1AbCdEfGhIjKl").arg(n);
}

class S3BlobStoreTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_standin = std::make_unique<S3Standin>(); }
    static void TearDownTestSuite() { s_standin.reset(); }
    static S3BlobStore store() { return S3BlobStore(s_standin->config(), kPart); }

    // Sends parts of `bytes` through alternating stores and joins them on the last one.
    static void uploadThroughTwo(const QString& id, const QByteArray& bytes) {
        S3BlobStore first = store(), second = store();
        const QString handle = first.beginUpload(id);
        QList<StoredPart> parts;
        for (int64_t n = 1, at = 0; at < bytes.size(); ++n, at += kPart) {
            S3BlobStore& instance = n % 2 ? first : second;
            const QByteArray part = bytes.mid(at, kPart);
            auto sink = instance.openPart(id, handle, n, part.size());
            parts.append({n, part.size(), writeAll(*sink, part)});
        }
        (parts.size() % 2 ? second : first).joinParts(id, handle, parts);
    }

    static std::unique_ptr<S3Standin> s_standin;
};

std::unique_ptr<S3Standin> S3BlobStoreTest::s_standin;

} // namespace

TEST_F(S3BlobStoreTest, PartsFromTwoInstancesJoinIntoOneVideo) {
    const QByteArray bytes = pattern(0, 2 * kPart + 12345);
    uploadThroughTwo(newClipId(1), bytes);
    S3BlobStore reading = store();
    auto reader = reading.open(newClipId(1), BlobKind::Video);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->size(), bytes.size());
    EXPECT_EQ(readAll(*reader, 256 * 1024), bytes) << "a served file's run of reads";
    EXPECT_EQ(readAll(*reader, 32 * 1024), bytes) << "the upload check's short reads";
    char tail[100];
    EXPECT_EQ(reader->read(bytes.size() - 10, tail, sizeof tail), 10u);
    EXPECT_EQ(QByteArray(tail, 10), bytes.right(10));
    EXPECT_EQ(reader->read(bytes.size(), tail, sizeof tail), 0u);
    EXPECT_EQ(reader->read(kPart - 5, tail, 10), 10u) << "a jump back across a part boundary";
    EXPECT_EQ(QByteArray(tail, 10), bytes.mid(kPart - 5, 10));
    EXPECT_FALSE(reading.open(newClipId(1), BlobKind::Preview));
}

TEST_F(S3BlobStoreTest, ChecksAnMp4StraightFromTheBucket) {
    const auto file = vantel::test::testHome() / "upload.mp4";
    vantel::test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30 -t 6 "
                      "-vf noise=alls=40:allf=t -c:v libx264 -preset ultrafast -qp 8 "
                      "-movflags +faststart '" +
                      file.string() + "'");
    QFile mp4(QString::fromStdString(file.string()));
    ASSERT_TRUE(mp4.open(QIODevice::ReadOnly));
    const QByteArray bytes = mp4.readAll();
    ASSERT_GT(bytes.size(), kPart) << "the clip must need more than one part";
    uploadThroughTwo(newClipId(2), bytes);
    auto reader = store().open(newClipId(2), BlobKind::Video);
    ASSERT_TRUE(reader);
    const VideoFacts facts = checkMp4(*reader);
    EXPECT_EQ(facts.width, 640);
    EXPECT_EQ(facts.height, 360);
    EXPECT_NEAR(facts.duration, 6.0, 0.1);

    S3BlobStore s3 = store();
    auto thumb = s3.openBlob(newClipId(2), BlobKind::Thumb, 5000);
    writeAll(*thumb, pattern(7, 5000));
    ASSERT_TRUE(s3.open(newClipId(2), BlobKind::Thumb));
    s3.removeClip(newClipId(2), QString());
    EXPECT_FALSE(s3.open(newClipId(2), BlobKind::Video));
    EXPECT_FALSE(s3.open(newClipId(2), BlobKind::Thumb));
    EXPECT_NO_THROW(s3.removeClip(newClipId(2), QString()));
}

TEST_F(S3BlobStoreTest, ShortAndLongBodiesAreErrors) {
    S3BlobStore s3 = store();
    const QString handle = s3.beginUpload(newClipId(3));
    auto part = s3.openPart(newClipId(3), handle, 1, 1000);
    part->write(pattern(0, 400).constData(), 400);
    EXPECT_THROW(part->commit(), BlobError);
    {
        // Dropped mid-body, without commit: the upload thread ends and nothing waits.
        auto abandoned = s3.openBlob(newClipId(3), BlobKind::Preview, 3 * 1024 * 1024);
        abandoned->write(pattern(0, 2 * 1024 * 1024).constData(), 2 * 1024 * 1024);
    }
    auto oversize = s3.openBlob(newClipId(3), BlobKind::Thumb, 10);
    EXPECT_THROW(
        {
            oversize->write(pattern(0, 3 * 1024 * 1024).constData(), 3 * 1024 * 1024);
            oversize->commit();
        },
        BlobError);
    EXPECT_NO_THROW(s3.removeClip(newClipId(3), handle));
}

TEST_F(S3BlobStoreTest, RefusesWhatCannotWork) {
    S3Config wrongKey = s_standin->config();
    wrongKey.secretKey = "wrong";
    try {
        S3BlobStore(wrongKey, kPart).beginUpload(newClipId(4));
        FAIL() << "a wrong secret started an upload";
    } catch (const BlobError& error) {
        EXPECT_NE(std::string(error.what()).find("403"), std::string::npos) << error.what();
    }
    EXPECT_THROW(S3BlobStore(s_standin->config(), kPart - 1), BlobError);
    S3BlobStore s3 = store();
    EXPECT_THROW(s3.beginUpload("../../etc"), BlobError);
    EXPECT_THROW(s3.open("a/b", BlobKind::Video), BlobError);
    EXPECT_THROW(s3.openPart(newClipId(4), QString(), 1, 10), BlobError);
}
