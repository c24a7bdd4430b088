// The sign-in against the real vantel-share over loopback: invitations, the one-time code with
// its S256 verifier, Discord's authorization-code flow through a stand-in Discord, tokens and
// sign-out, and the sign-in pages.

#include "ServerRig.h"
#include "sharing/Replies.h"

#include <QFile>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace vantel::test {
namespace {

std::string tokenBody(const std::string& code, const std::string& verifier) {
    return R"({"code":")" + code + R"(","verifier":")" + verifier + R"("})";
}

std::string error(const httplib::Result& result) {
    return result ? result->body : "(no answer)";
}

TEST(SignIn, AnInvitationGivesOneCodeThatWorksOnceWithItsOwnVerifier) {
    ShareProcess server;
    ASSERT_TRUE(server.running());
    auto client = server.client();
    const Pkce pkce = Pkce::make();

    // The sign-in page of a service without Discord says so and offers the invitation form.
    const auto page = client->Get(("/auth/app?challenge=" + pkce.challenge).c_str());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("signs in by invitation"), std::string::npos);
    EXPECT_NE(page->body.find("vantel-share invite NAME"), std::string::npos);
    EXPECT_EQ(page->body.find("Sign in with Discord"), std::string::npos);

    // The invitation link keeps its key in the browser, which fills the form with it.
    const std::string link = server.invite("Sam <b>");
    ASSERT_EQ(link.rfind(server.base() + "auth/invite/", 0), 0u) << link;
    const std::string key = link.substr(link.rfind('/') + 1);
    const auto landing = client->Get(link.substr(server.base().size() - 1).c_str());
    ASSERT_TRUE(landing);
    EXPECT_EQ(landing->status, 200);
    EXPECT_NE(landing->get_header_value("Set-Cookie").find("vantel_invite=" + key),
              std::string::npos);
    const auto filled = client->Get(("/auth/app?challenge=" + pkce.challenge).c_str(),
                                    {{"Cookie", "vantel_invite=" + key}});
    EXPECT_NE(filled->body.find("value=\"" + key + "\""), std::string::npos);

    // A wrong invitation signs nobody in; the right one once.
    const auto wrong = client->Post(
        "/auth/invite", httplib::Params{{"challenge", pkce.challenge}, {"invite", "nope"}});
    EXPECT_EQ(wrong->status, 400);
    const auto redeemed = client->Post(
        "/auth/invite", httplib::Params{{"challenge", pkce.challenge}, {"invite", link}});
    ASSERT_EQ(redeemed->status, 303);
    const std::string code = codeFromCallback(redeemed->get_header_value("Location"));
    ASSERT_EQ(code.size(), 43u) << redeemed->get_header_value("Location");
    const auto again = client->Post(
        "/auth/invite", httplib::Params{{"challenge", pkce.challenge}, {"invite", link}});
    EXPECT_EQ(again->status, 400);

    // The wrong verifier is refused and uses the code up, so the right one comes too late.
    const auto impostor =
        client->Post("/api/app/token", tokenBody(code, Pkce::make().verifier), "application/json");
    EXPECT_EQ(impostor->status, 400);
    EXPECT_NE(impostor->body.find("another program"), std::string::npos) << impostor->body;
    const auto late =
        client->Post("/api/app/token", tokenBody(code, pkce.verifier), "application/json");
    EXPECT_EQ(late->status, 400);
    EXPECT_NE(late->body.find("used or expired"), std::string::npos) << late->body;

    // Malformed requests get a sentence, not a crash.
    for (const char* body : {"{", "[]", "{\"code\":1,\"verifier\":2}", ""}) {
        const auto bad = client->Post("/api/app/token", body, "application/json");
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->status, 400) << body;
        EXPECT_NE(bad->body.find("\"error\":"), std::string::npos) << body;
    }

    // A fresh invitation and the right verifier: the reply is what the program decodes.
    const std::string token = signInByInvite(server, "Sam <b>");
    ASSERT_EQ(token.size(), 43u);
    const Pkce second = Pkce::make();
    const auto reissued =
        client->Post("/auth/invite", httplib::Params{{"challenge", second.challenge},
                                                     {"invite", server.invite("Sam <b>")}});
    const auto exchanged = client->Post(
        "/api/app/token",
        tokenBody(codeFromCallback(reissued->get_header_value("Location")), second.verifier),
        "application/json");
    ASSERT_EQ(exchanged->status, 200) << error(exchanged);
    const TokenReply reply = TokenReply::fromJson(QByteArray::fromStdString(exchanged->body));
    EXPECT_EQ(reply.user.name, "Sam <b>");
    EXPECT_FALSE(reply.user.avatar);
    EXPECT_EQ(reply.token.size(), 43);

    // The browser's session shows the user's page, with the name as text.
    std::string cookie;
    for (size_t i = 0; i < reissued->get_header_value_count("Set-Cookie"); ++i)
        if (reissued->get_header_value("Set-Cookie", i).rfind("vantel_session=", 0) == 0)
            cookie = reissued->get_header_value("Set-Cookie", i);
    ASSERT_FALSE(cookie.empty());
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    const auto me = client->Get("/me", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    EXPECT_EQ(client->Get("/me")->body.find("Sam"), std::string::npos);
    EXPECT_NE(me->body.find("Sam &lt;b&gt;"), std::string::npos);
    EXPECT_EQ(me->body.find("Sam <b>"), std::string::npos);

    // The user's page lists their clips with link and views, and deletes one only when asked
    // from this site by its owner.
    const httplib::Headers session{{"Cookie", cookie.substr(0, cookie.find(';'))}};
    const std::string id = uploadClip(server, reply.token.toStdString(),
                                      readAll(makeClip("mine.mp4", 1, 160, 90)), {}, "My ace");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(client->Get(("/c/" + id).c_str())->status, 200);
    const auto listed = client->Get("/me", session);
    EXPECT_NE(listed->body.find("My ace"), std::string::npos);
    EXPECT_NE(listed->body.find(server.base() + "c/" + id), std::string::npos);
    EXPECT_NE(listed->body.find("1 view<"), std::string::npos);
    const std::string remove = "/me/clips/" + id + "/delete";
    httplib::Headers foreign = session;
    foreign.emplace("Origin", "https://evil.example");
    EXPECT_EQ(
        client->Post(remove.c_str(), foreign, "", "application/x-www-form-urlencoded")->status,
        403);
    EXPECT_EQ(
        client->Post(remove.c_str(), httplib::Headers{}, "", "application/x-www-form-urlencoded")
            ->status,
        403);
    EXPECT_EQ(client->Get(("/c/" + id).c_str())->status, 200);
    EXPECT_EQ(
        client->Post(remove.c_str(), session, "", "application/x-www-form-urlencoded")->status,
        303);
    EXPECT_EQ(client->Get(("/c/" + id).c_str())->status, 404);

    // Tokens are stored only as digests.
    const QByteArray catalog = readAll(server.dataDir() + "/catalog.sqlite") +
                               readAll(server.dataDir() + "/catalog.sqlite-wal");
    EXPECT_FALSE(catalog.contains(QByteArray::fromStdString(token)));
    EXPECT_FALSE(catalog.contains(reply.token.toUtf8()));

    // Signing out ends the token; the next request is 401 with a sentence.
    httplib::Headers bearer{{"Authorization", "Bearer " + token}};
    EXPECT_EQ(client->Post("/api/app/logout", bearer, "", "application/json")->status, 200);
    const auto after = client->Post("/api/clips", bearer, "{}", "application/json");
    EXPECT_EQ(after->status, 401);
    EXPECT_NE(after->body.find("Sign in again"), std::string::npos);
    EXPECT_EQ(client->Post("/api/app/logout", bearer, "", "application/json")->status, 401);

    // The program posts the sign-out with no body and no Content-Length at all.
    const std::string answer = rawExchange(
        server.port(), "POST /api/app/logout HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: "
                       "Bearer " +
                           reply.token.toStdString() + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_EQ(client
                  ->Post("/api/clips", {{"Authorization", "Bearer " + reply.token.toStdString()}},
                         "{}", "application/json")
                  ->status,
              401);
    EXPECT_EQ(server.stop(), "");
}

TEST(SignIn, ACodeExpiresAfterItsLifetime) {
    ShareProcess server({"--code-lifetime", "1"});
    auto client = server.client();
    const Pkce pkce = Pkce::make();
    const auto redeemed =
        client->Post("/auth/invite", httplib::Params{{"challenge", pkce.challenge},
                                                     {"invite", server.invite("Late")}});
    ASSERT_EQ(redeemed->status, 303);
    QThread::msleep(2200);
    const auto late = client->Post(
        "/api/app/token",
        tokenBody(codeFromCallback(redeemed->get_header_value("Location")), pkce.verifier),
        "application/json");
    EXPECT_EQ(late->status, 400);
    EXPECT_NE(late->body.find("expired"), std::string::npos);
    EXPECT_EQ(server.stop(), "");
}

TEST(SignIn, DiscordApprovesThroughStateAndPkceAndTheProgramGetsItsUser) {
    StandInDiscord discord;
    ShareProcess server(discord.settings());
    ASSERT_TRUE(server.running());
    auto client = server.client();
    const Pkce pkce = Pkce::make();

    const auto page = client->Get(("/auth/app?challenge=" + pkce.challenge).c_str());
    EXPECT_NE(page->body.find("Sign in with Discord"), std::string::npos);
    EXPECT_EQ(page->body.find("invitation"), std::string::npos);
    const auto start = client->Get(("/auth/discord?challenge=" + pkce.challenge).c_str());
    ASSERT_EQ(start->status, 302);
    const std::string authorize = start->get_header_value("Location");
    ASSERT_EQ(authorize.rfind(discord.base() + "/oauth2/authorize?", 0), 0u) << authorize;

    httplib::Client discordClient(discord.base());
    const auto approved = discordClient.Get(authorize.substr(discord.base().size()).c_str());
    ASSERT_EQ(approved->status, 302);
    const std::string callback = approved->get_header_value("Location");
    ASSERT_EQ(callback.rfind(server.base() + "auth/discord/callback?", 0), 0u) << callback;
    const std::string callbackPath = callback.substr(server.base().size() - 1);
    const auto back = client->Get(callbackPath.c_str());
    ASSERT_EQ(back->status, 303) << back->body;
    const std::string code = codeFromCallback(back->get_header_value("Location"));
    ASSERT_FALSE(code.empty()) << back->get_header_value("Location");
    EXPECT_EQ(discord.exchanges(), 1);

    const auto exchanged =
        client->Post("/api/app/token", tokenBody(code, pkce.verifier), "application/json");
    ASSERT_EQ(exchanged->status, 200) << error(exchanged);
    const TokenReply reply = TokenReply::fromJson(QByteArray::fromStdString(exchanged->body));
    EXPECT_EQ(reply.user.name, "Nelly");
    EXPECT_EQ(reply.user.avatar.value_or(""), "https://cdn.discordapp.com/avatars/"
                                              "80351110224678912/"
                                              "8342729096ea3675442027381ff50dfe.png");

    // The same callback again (a reload, or someone who copied it) signs nobody in.
    const auto replay = client->Get(callbackPath.c_str());
    EXPECT_EQ(replay->status, 400);
    EXPECT_EQ(discord.exchanges(), 1);
    const auto forged = client->Get("/auth/discord/callback?code=x&state=forged");
    EXPECT_EQ(forged->status, 400);
    // Discord's "cancel" comes back without a code.
    const auto again = client->Get(("/auth/discord?challenge=" + pkce.challenge).c_str());
    const std::string state =
        QUrlQuery(QUrl(QString::fromStdString(again->get_header_value("Location"))))
            .queryItemValue("state")
            .toStdString();
    const auto cancelled =
        client->Get(("/auth/discord/callback?error=access_denied&state=" + state).c_str());
    EXPECT_EQ(cancelled->status, 400);
    EXPECT_NE(cancelled->body.find("didn&#39;t let the sign-in through"), std::string::npos);

    // A second sign-in of the same Discord user is the same user of ours.
    const std::string second = signInByInvite(server, "nobody");
    EXPECT_EQ(second, ""); // invitations are off on a Discord service
    EXPECT_EQ(client->Get("/auth/app")->status, 400);
    EXPECT_EQ(server.stop(), "");
}

} // namespace
} // namespace vantel::test
