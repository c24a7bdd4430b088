#pragma once

// The S3 stand-in of the server tests: npm's @20minutes/s3rver (pinned in package.json), which
// checks Signature V4 like S3 does, run by node on a free loopback port with its files in a
// fresh folder. Started by the constructor, stopped by the destructor.
//
// Errors: the constructor throws std::runtime_error with node's output when the stand-in does
// not start.

#include "server/S3Client.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace vantel::test {

class S3Standin {
public:
    explicit S3Standin(const QStringList& buckets = {"clips"});
    ~S3Standin();
    S3Standin(const S3Standin&) = delete;
    S3Standin& operator=(const S3Standin&) = delete;

    int port() const { return m_port; }
    QString endpoint() const;
    // Endpoint, first bucket and the stand-in's credentials.
    server::S3Config config() const;
    // The folder the stand-in keeps its objects in.
    QString directory() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QStringList m_buckets;
    QProcess m_process;
    int m_port = 0;
};

} // namespace vantel::test
