#pragma once

// A throw-away PostgreSQL cluster for the server tests and the benchmark: initdb into a fresh
// folder, a postmaster on a free loopback port (trust sign-in for the user "app", fsync off),
// removed with its folder by the destructor. PostgreSQL refuses to run as root, so as root the
// cluster belongs to the "postgres" user and its programs run through runuser.
//
// Errors: the constructor and createDatabase throw std::runtime_error carrying the output of
// the PostgreSQL program that failed.

#include <QString>
#include <QStringList>

namespace vantel::test {

class PgCluster {
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    QString host() const { return "127.0.0.1"; }
    int port() const { return m_port; }
    QString user() const { return "app"; }

    // Creates an empty database and returns its name.
    QString createDatabase(const QString& name);
    // "postgresql://app@127.0.0.1:PORT/NAME".
    QString url(const QString& database) const;

private:
    QString run(const QString& program, const QStringList& arguments) const;
    bool start();
    QString readLog() const;

    QString m_bin;  // the folder of initdb, pg_ctl and createdb
    QString m_root; // the cluster's own folder: data, socket and log
    int m_port = 0;
    bool m_running = false;
};

} // namespace vantel::test
