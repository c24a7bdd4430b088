// vantel-share: the sharing service. `vantel-share --data DIR` serves on 127.0.0.1:8080 with
// everything under DIR; `vantel-share invite NAME --data DIR` prints a one-time sign-in link.

#include "Catalog.h"
#include "Http.h"
#include "Ids.h"
#include "ServerConfig.h"
#include "ShareServer.h"
#include "StoreFactory.h"

#include <QCoreApplication>

extern "C" {
#include <libavutil/log.h>
}
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

using namespace vantel::server;

namespace {

constexpr int64_t inviteLifetime = 7 * 86400;

int invite(const QString& name, const ServerConfig& config) {
    if (config.discord.enabled()) {
        std::cerr << "vantel-share: this service signs in with Discord; invitations are for "
                     "services run without Discord credentials.\n";
        return 2;
    }
    if (name.trimmed().isEmpty() || name.size() > 80) {
        std::cerr << "vantel-share: give the invited player a name of 1 to 80 characters.\n";
        return 2;
    }
    Catalog catalog(config.database, config.dataDir);
    const QString key = randomToken(24);
    catalog.addInvite(sha256Hex(key), name.trimmed(), http::now() + inviteLifetime);
    std::cout << config.link(QStringLiteral("auth/invite/") + key).toString().toStdString() << '\n';
    return 0;
}

// SIGINT and SIGTERM end the server cleanly: they are blocked in every thread and taken by one
// thread that stops the server, so no handler runs inside a request.
sigset_t blockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

int serve(const ServerConfig& config) {
    const sigset_t stopSignals = blockStopSignals();
    Catalog catalog(config.database, config.dataDir);
    std::unique_ptr<BlobStore> store = makeBlobStore(config);
    ShareServer server(config, catalog, *store);
    if (!server.bind()) {
        std::cerr << "vantel-share: can't listen on " << config.listenHost.toStdString() << ':'
                  << config.listenPort << " (in use, or not an address of this machine).\n";
        return 1;
    }
    std::cout << "vantel-share listening on http://" << config.listenHost.toStdString() << ':'
              << server.port() << "/ for " << server.config().link({}).toString().toStdString()
              << std::endl;
    std::thread stopper([&server, stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    });
    server.listen();
    // listen() also returns when binding broke; wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Refused uploads are answered with a sentence; FFmpeg's own complaints about them would
    // only fill the log.
    av_log_set_level(AV_LOG_QUIET);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::cout << ServerConfig::usage().toStdString();
        return 0;
    }
    try {
        if (arguments.value(0) == u"invite") {
            if (arguments.size() < 2) {
                std::cerr << "vantel-share: invite NAME --data DIR\n";
                return 2;
            }
            const QString name = arguments[1];
            return invite(name, ServerConfig::fromArguments(arguments.mid(2)));
        }
        return serve(ServerConfig::fromArguments(arguments));
    } catch (const ConfigError& e) {
        std::cerr << "vantel-share: " << e.what() << '\n' << ServerConfig::usage().toStdString();
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vantel-share: " << e.what() << '\n';
        return 1;
    }
}
