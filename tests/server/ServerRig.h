#pragma once

// The real vantel-share as the server tests start it: a data folder of its own, any free port
// on 127.0.0.1, extra settings per test; stopped with SIGTERM when the rig ends, and checked
// for sanitizer reports then. Also a signed-in user made through the real invitation flow, a
// stand-in Discord, and test clips made with the ffmpeg tool.
//
// The test target defines VANTEL_SHARE (the program) and links cpp-httplib.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vantel::test {

class ShareProcess {
public:
    explicit ShareProcess(QStringList settings = {}, QString dataDir = {});
    ~ShareProcess();
    ShareProcess(const ShareProcess&) = delete;
    ShareProcess& operator=(const ShareProcess&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string base() const; // "http://127.0.0.1:PORT/"
    const QString& dataDir() const { return m_data; }
    QString log() const; // what the server printed on stderr so far
    std::unique_ptr<httplib::Client> client() const;

    // `vantel-share invite NAME` with the same settings: the printed link, or "" on failure.
    std::string invite(const QString& name) const;

    // Stops the server; the sanitizer report it printed, if any (empty when clean).
    QString stop();

private:
    QStringList m_settings;
    QString m_data;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    mutable QByteArray m_err;
};

// Sends `request` as it stands over a fresh connection and returns everything the server
// answered until it closed the connection or went quiet for two seconds.
std::string rawExchange(int port, const std::string& request);

// A program's sign-in: its verifier and the challenge made from it.
struct Pkce {
    std::string verifier;
    std::string challenge;
    static Pkce make();
};

// The code from a "vantelrecord://auth?code=..." address, "" when it is not one.
std::string codeFromCallback(const std::string& location);

// Signs `name` in the way the program and a browser do on a service without Discord: an
// invitation, the sign-in page's form, the one-time code, the token exchange. The token, or ""
// (with the reason on stderr).
std::string signInByInvite(ShareProcess& server, const QString& name);

// Shares `file` as `token`'s clip through the program's requests (create, parts, the thumbnail
// when given, done); the clip id, or "" (with the reason on stderr).
std::string uploadClip(ShareProcess& server, const std::string& token, const QByteArray& file,
                       const QByteArray& thumb = {}, const std::string& title = "Clutch");

// A stand-in for Discord's OAuth2 endpoints on loopback: "/oauth2/authorize" approves at once
// (redirects to redirect_uri with a code and the state), "/api/oauth2/token" exchanges the code
// when client id, secret, redirect_uri and the PKCE verifier (S256) match, "/api/users/@me"
// answers the user for the access token. Every request is recorded.
class StandInDiscord {
public:
    StandInDiscord();
    ~StandInDiscord();

    QStringList settings() const; // the vantel-share flags that point at this stand-in
    std::string base() const;

    std::string clientId = "1234567890";
    std::string clientSecret = "stand-in-secret";
    std::string userJson = R"({"id":"80351110224678912","username":"nelly",)"
                           R"("global_name":"Nelly","avatar":"8342729096ea3675442027381ff50dfe"})";

    struct Seen {
        std::string method, path;
        httplib::Params params;
    };
    std::vector<Seen> seen() const;
    int exchanges() const; // token exchanges that succeeded

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_lock;
    std::vector<Seen> m_seen;                        // guarded by m_lock
    std::map<std::string, std::string> m_challenges; // code -> code_challenge, by m_lock
    std::map<std::string, std::string> m_redirects;  // code -> redirect_uri, by m_lock
    int m_exchanges = 0;                             // by m_lock
};

// A clip made with the ffmpeg tool: H.264 + AAC in MP4 (`codec` "libx264"), or another video
// codec to be refused. Returns the path under the test's home.
QString makeClip(const QString& name, double seconds, int width, int height,
                 const QString& codec = QStringLiteral("libx264"));
QString makeJpeg(const QString& name, int width, int height);
QByteArray readAll(const QString& path);

} // namespace vantel::test
