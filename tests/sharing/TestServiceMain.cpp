// vantel-test-service: the loopback stand-in of the sharing service as a program of its own,
// for the end-to-end tests and the share benchmark.
//
//   vantel-test-service [--port N] [--part-size BYTES] [--token TOKEN] [--log FILE]
//                       [--base-path PATH]
//
// Prints "port: N" on standard output once it listens. --token makes TOKEN a token the service
// accepts, as if that user had signed in. --log appends one JSON line per request (method,
// path, whether it carried an authorization, body size and hash; never the authorization
// itself), so a test can read what arrived. Runs until killed.

#include "TestService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using vantel::test::TestService;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption port("port", "port", "N", "0");
    QCommandLineOption partSize("part-size", "part size", "BYTES", "5000000");
    QCommandLineOption token("token", "accepted token", "TOKEN");
    QCommandLineOption log("log", "request log", "FILE");
    QCommandLineOption basePath("base-path", "the path it lives under", "PATH");
    parser.addOptions({port, partSize, token, log, basePath});
    parser.process(app);

    TestService service;
    service.partSize = parser.value(partSize).toLongLong();
    service.basePath = parser.value(basePath);
    if (parser.isSet(token))
        service.acceptToken(parser.value(token));
    QFile logFile(parser.value(log));
    if (parser.isSet(log) && !logFile.open(QIODevice::Append))
        return 2;
    service.onRequest = [&logFile](const TestService::Request& request) {
        if (!logFile.isOpen())
            return;
        QJsonObject line{{"method", QString::fromUtf8(request.method)},
                         {"path", QString::fromUtf8(request.path)},
                         {"outsideBase", request.outsideBase},
                         {"authorized", request.headers.contains("authorization")},
                         {"size", request.bodySize},
                         {"sha256", QString::fromUtf8(request.bodyHash)}};
        logFile.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        logFile.flush();
    };
    if (!service.listen(static_cast<quint16>(parser.value(port).toUInt())))
        return 1;
    std::printf("port: %u\n", service.port());
    std::fflush(stdout);
    return app.exec();
}
