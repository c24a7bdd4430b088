// The single-instance protocol over a real local socket, and the command line.

#include "ShellRig.h"
#include "app/CommandLine.h"
#include "app/InstanceClient.h"
#include "app/InstanceServer.h"

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtConcurrent>
#include <gtest/gtest.h>

namespace vantel::test {
namespace {

using instance::Reply;
using instance::Request;

TEST(InstanceProtocol, RequestsAndRepliesSurviveTheLineAndBadLinesAreRefused) {
    const Request save{"save", {"5"}};
    const QByteArray line = save.encode();
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    const std::optional<Request> back = Request::decode(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->command, "save");
    EXPECT_EQ(back->arguments, QStringList{"5"});

    const std::optional<instance::Progress> step =
        instance::Progress::decode(instance::Progress{"Uploading 40%"}.encode());
    ASSERT_TRUE(step);
    EXPECT_EQ(step->text, "Uploading 40%");
    EXPECT_FALSE(Reply::decode(instance::Progress{"x"}.encode())) << "progress is no reply";
    EXPECT_FALSE(instance::Progress::decode(Reply::success().encode()));

    const Reply reply{false, {"a"}, {"Not recording", "Paused\nwith a break"}};
    const std::optional<Reply> replied = Reply::decode(reply.encode());
    ASSERT_TRUE(replied);
    EXPECT_FALSE(replied->ok);
    EXPECT_EQ(replied->err, reply.err);

    for (const char* bad :
         {"", "save 5", "{}", R"({"command":5})", R"({"command":"save","arguments":[5]})",
          R"({"command":"save","arguments":"5"})"})
        EXPECT_FALSE(Request::decode(bad)) << bad;
    EXPECT_FALSE(Reply::decode(R"({"out":[]})"));
    EXPECT_FALSE(Request::decode("{\"command\":\"" + QByteArray(instance::kMaxLine, 'x') + "\"}"));
}

class Instance : public ::testing::Test {
protected:
    QString path = QString::fromStdString((testHome() / "instance.sock").string());
    InstanceServer server;

    void SetUp() override { ASSERT_TRUE(server.listen(path)) << server.errorText().toStdString(); }

    // Sends from another thread (the client blocks) while this thread serves.
    std::optional<Reply> ask(const Request& request, int waitMs = 5000) {
        QFuture<std::optional<Reply>> asked = QtConcurrent::run(
            [this, request, waitMs] { return InstanceClient::send(path, request, waitMs); });
        waitUntil([&] { return asked.isFinished(); }, waitMs + 5000);
        return asked.result();
    }
};

TEST_F(Instance, HandlersAnswerTheirCommandsEvenWhenTheyTakeTheirTime) {
    server.handle("status", [](QStringList) -> QCoro::Task<Reply> {
        co_return Reply::success({"Recording Desktop", "12 s ready · 720p 30 fps"});
    });
    server.handle("save", [](QStringList args) -> QCoro::Task<Reply> {
        co_await QCoro::sleepFor(std::chrono::milliseconds(300));
        co_return Reply::failure({"Not recording", "Paused", args.value(0)});
    });
    const std::optional<Reply> status = ask({"status", {}});
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->ok);
    EXPECT_EQ(status->out, (QStringList{"Recording Desktop", "12 s ready · 720p 30 fps"}));

    const std::optional<Reply> save = ask({"save", {"7"}});
    ASSERT_TRUE(save);
    EXPECT_FALSE(save->ok);
    EXPECT_EQ(save->err, (QStringList{"Not recording", "Paused", "7"}));

    const std::optional<Reply> unknown = ask({"share", {"/x.mp4"}});
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->ok);
    EXPECT_EQ(unknown->err, QStringList{"Unknown request: share"});
}

TEST_F(Instance, GarbageAndSilentClientsGetNoHandlerAndNoInstanceMeansNoReply) {
    int calls = 0;
    server.handle("status", [&calls](QStringList) -> QCoro::Task<Reply> {
        ++calls;
        co_return Reply::success();
    });
    QFuture<QByteArray> garbage = QtConcurrent::run([this] {
        QLocalSocket socket;
        socket.connectToServer(path);
        socket.waitForConnected(2000);
        socket.write("status please\n");
        socket.waitForBytesWritten(2000);
        socket.waitForReadyRead(5000);
        return socket.readAll();
    });
    waitUntil([&] { return garbage.isFinished(); }, 8000);
    const std::optional<Reply> refused = Reply::decode(garbage.result());
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->ok);
    EXPECT_EQ(refused->err, QStringList{"Unreadable request."});
    EXPECT_EQ(calls, 0);

    EXPECT_FALSE(InstanceClient::send(path + ".none", {"status", {}}, 1000));
    EXPECT_FALSE(InstanceClient::reachable(path + ".none"));
}

TEST_F(Instance, ALongRequestIsWaitedForAsLongAsTheProgramWorksAndTellsItsProgress) {
    server.handleWithProgress(
        "share", [](QStringList, InstanceServer::ProgressSink progress) -> QCoro::Task<Reply> {
            progress("Preparing 10%");
            // Longer than the client's patience, told only by the heartbeat.
            co_await QCoro::sleepFor(std::chrono::milliseconds(3 * instance::kHeartbeatMs));
            progress("Uploading 100%");
            co_return Reply::success({"https://example.org/c/1"});
        });
    QStringList steps;
    QFuture<InstanceClient::Answer> asked = QtConcurrent::run([&] {
        return InstanceClient::ask(path, {"share", {"/x.mp4"}}, instance::kHeartbeatMs + 1000,
                                   [&steps](const QString& text) { steps << text; });
    });
    ASSERT_TRUE(waitUntil([&] { return asked.isFinished(); }, 20000));
    const InstanceClient::Answer answer = asked.result();
    ASSERT_EQ(answer.kind, InstanceClient::Answer::Kind::replied);
    EXPECT_EQ(answer.reply.out, QStringList{"https://example.org/c/1"});
    EXPECT_EQ(steps, (QStringList{"Preparing 10%", "Uploading 100%"}));
}

TEST_F(Instance, OnlyAConnectionNobodyTakesMeansNotRunning) {
    using Kind = InstanceClient::Answer::Kind;
    const auto askAt = [](const QString& at) {
        QFuture<InstanceClient::Answer> asked = QtConcurrent::run([at] {
            return InstanceClient::ask(at, {"status", {}}, 1000);
        });
        waitUntil([&] { return asked.isFinished(); }, 10000);
        return asked.result().kind;
    };
    EXPECT_EQ(askAt(path + ".none"), Kind::notRunning);

    // Takes the connection and never answers: a stuck program, not an absent one.
    QLocalServer stuck;
    ASSERT_TRUE(stuck.listen(path + ".stuck"));
    EXPECT_EQ(askAt(path + ".stuck"), Kind::silent);

    // Takes the request and goes away without a reply.
    QLocalServer dying;
    ASSERT_TRUE(dying.listen(path + ".dying"));
    QObject::connect(&dying, &QLocalServer::newConnection, [&dying] {
        QLocalSocket* socket = dying.nextPendingConnection();
        socket->waitForReadyRead(1000);
        socket->disconnectFromServer();
        socket->deleteLater();
    });
    EXPECT_EQ(askAt(path + ".dying"), Kind::cutOff);

    EXPECT_EQ(InstanceClient::failureText(Kind::notRunning), "Vantel Record is not running.");
    EXPECT_NE(InstanceClient::failureText(Kind::silent), InstanceClient::failureText(Kind::cutOff));
}

TEST(CommandLine, ReadsTheCommandsAndRefusesEverythingElse) {
    using K = Invocation::Kind;
    EXPECT_EQ(parseCommandLine({}).kind, K::run);
    EXPECT_EQ(parseCommandLine({"--version"}).kind, K::version);
    EXPECT_EQ(parseCommandLine({"--help"}).kind, K::help);
    EXPECT_EQ(parseCommandLine({"status"}).kind, K::status);
    const Invocation save = parseCommandLine({"save"});
    EXPECT_EQ(save.kind, K::save);
    EXPECT_FALSE(save.seconds);
    EXPECT_EQ(parseCommandLine({"save", "5"}).seconds, 5.0);
    EXPECT_EQ(parseCommandLine({"save", "2.5"}).seconds, 2.5);
    const Invocation url = parseCommandLine({"vantelrecord://auth?code=a%20b&state=x"});
    EXPECT_EQ(url.kind, K::url);
    EXPECT_EQ(url.url, "vantelrecord://auth?code=a%20b&state=x");

    EXPECT_EQ(parseCommandLine({"sign-in"}).kind, K::signIn);
    EXPECT_EQ(parseCommandLine({"sign-out"}).kind, K::signOut);
    const Invocation share = parseCommandLine({"share", "clips/a b.mp4"});
    EXPECT_EQ(share.kind, K::share);
    EXPECT_EQ(share.file, QDir::current().absoluteFilePath("clips/a b.mp4"));

    for (const QStringList& bad :
         {QStringList{"share"}, QStringList{"share", "a", "b"}, QStringList{"sign-in", "x"},
          QStringList{"save", "0"}, QStringList{"save", "-3"}, QStringList{"save", "five"},
          QStringList{"save", "nan"}, QStringList{"save", "1", "2"}, QStringList{"status", "x"},
          QStringList{"https://example.org"}, QStringList{"--frobnicate"}}) {
        const Invocation refused = parseCommandLine(bad);
        EXPECT_EQ(refused.kind, K::invalid) << bad.join(' ').toStdString();
        EXPECT_FALSE(refused.error.isEmpty());
    }
    EXPECT_TRUE(usageText().contains("save [SECONDS]"));
}

} // namespace
} // namespace vantel::test
