// The service's listening socket takes a burst of new connections: its backlog is the
// system's, not cpp-httplib's built-in 5 (with which 64 players opening a link at once waited a
// second or more for SYN retries). `ss` shows a listening socket's backlog as its Send-Q.

#include "common/Shell.h"
#include "common/TestEnv.h"
#include "server/Catalog.h"
#include "server/DiskBlobStore.h"
#include "server/ShareServer.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace vantel::server;

TEST(ListenBacklog, IsTheSystemsNotFive) {
    ServerConfig config;
    config.dataDir = QString::fromStdString((vantel::test::testHome() / "backlog").string());
    config.listenPort = 0;
    Catalog catalog(config.database, config.dataDir);
    DiskBlobStore store(config.dataDir + "/blobs");
    ShareServer server(config, catalog, store);
    ASSERT_TRUE(server.bind());
    const std::string listening =
        vantel::test::run("ss -Hltn 'sport = :" + std::to_string(server.port()) + "'");
    const QStringList fields = QString::fromStdString(listening).split(' ', Qt::SkipEmptyParts);
    ASSERT_GE(fields.size(), 3) << listening;
    EXPECT_GE(fields[2].toInt(), 128) << listening;
}
