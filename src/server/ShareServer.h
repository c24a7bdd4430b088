#pragma once

// The HTTP service: the program's API ("/api/..."), the sign-in pages, the public clip pages
// with their MP4 files, the user's page and the update file, on cpp-httplib. The handlers are
// thin: they check the request (who asks, which clip, which sizes), then call the catalog and
// the blob store, and answer JSON ({"error": sentence} on failure) or a dark HTML page.
//
// No request leaves anything in the process: sign-in states, codes, tokens, clips and parts
// live in the catalog, bytes in the blob store. Any instance can answer any request.
//
// Threads: listen() blocks the calling thread and serves on a pool of `threads` worker threads;
// stop() may be called from any thread and makes listen() return. The catalog and the store
// are shared by all workers (both are safe for that) and must outlive the server.
// Errors: bind() returns false when the address is taken; a failure inside a request answers
// 500 (503 when storage or the database fails) and is written to stderr, never swallowed.

#include "BlobStore.h"
#include "Catalog.h"
#include "DiscordClient.h"
#include "ServerConfig.h"

#include <memory>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace vantel::server {

class ShareServer {
public:
    ShareServer(ServerConfig config, Catalog& catalog, BlobStore& store);
    ~ShareServer();
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Binds the configured address; with port 0 a free port is chosen and becomes the port of
    // the links when no public address is configured.
    bool bind();
    uint16_t port() const { return m_config.listenPort; }
    const ServerConfig& config() const { return m_config; }
    void listen();
    void stop();

private:
    using Request = httplib::Request;
    using Response = httplib::Response;
    using Reader = httplib::ContentReader;

    void routeApi();
    void routeSignIn();
    void routePages();

    // The program's sign-in.
    void token(const Request& request, Response& response);
    void logout(const Request& request, Response& response);
    // Sign-in pages.
    void signInPage(const Request& request, Response& response);
    void discordStart(const Request& request, Response& response);
    void discordCallback(const Request& request, Response& response);
    void inviteRedeem(const Request& request, Response& response);
    void inviteLanding(const Request& request, Response& response);
    // Finishes a browser sign-in for `user`: a web session cookie, and for the program a
    // one-time code sent to "vantelrecord://auth?code=..." (no challenge: to the user's page).
    void finishSignIn(const UserRecord& user, const QString& challenge, Response& response);

    // Clips.
    void createClip(const Request& request, Response& response);
    void putPart(const Request& request, Response& response, const Reader& reader);
    void putPreview(const Request& request, Response& response, const Reader& reader);
    void putThumb(const Request& request, Response& response, const Reader& reader);
    void done(const Request& request, Response& response);
    void removeClip(const Request& request, Response& response);
    void renameClip(const Request& request, Response& response);

    // Pages and files.
    void clipPage(const Request& request, Response& response, bool embed);
    void serveBlob(const Request& request, Response& response, BlobKind kind);
    void mePage(const Request& request, Response& response);
    void meDelete(const Request& request, Response& response);
    void versionFile(const Request& request, Response& response);

    // The user the request's bearer token names; none answers 401 into `response`.
    std::optional<UserRecord> bearerUser(const Request& request, Response& response);
    // The user of the browser's session cookie, if any.
    std::optional<UserRecord> sessionUser(const Request& request);
    // The clip of the path's id owned by the bearer token's user; none answers 401/400/403/404
    // into `response`.
    std::optional<ClipRecord> ownedClip(const Request& request, Response& response);
    // Streams the body (exactly `size` bytes, by Content-Length) into `sink` and returns its
    // hex SHA-256; none when the client sent something else or stopped (answered already).
    std::optional<QString> receive(const Request& request, Response& response, const Reader& reader,
                                   BlobSink& sink, int64_t size);
    void deleteClip(const ClipRecord& clip);

    ServerConfig m_config;
    Catalog& m_catalog;
    BlobStore& m_store;
    DiscordClient m_discord;
    std::unique_ptr<httplib::Server> m_http;
    int m_listenSocket = -1; // set while binding, on the binding thread
};

} // namespace vantel::server
