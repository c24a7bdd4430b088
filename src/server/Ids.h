#pragma once

// Random names and secrets the service hands out, and the digests it stores instead of secrets.
//
// Threads: any (the system's random source is thread-safe).

#include <QString>

namespace vantel::server {

// `bytes` random bytes from the system's secure source as base64url without padding.
QString randomToken(int bytes);
// A clip or user id: 96 random bits, 16 URL-safe characters.
QString newId();
// True when `id` could be one of ours: 1 to 64 characters of A-Z a-z 0-9 "-" "_". Anything
// else (path characters, dots, percent signs) is refused before it reaches storage.
bool isSafeId(const QString& id);
// The hex SHA-256 of the text's UTF-8 bytes: how tokens, codes and invitations are stored.
QString sha256Hex(const QString& text);
// base64url without padding of the SHA-256 of the text: the S256 challenge of a verifier.
QString s256(const QString& verifier);

} // namespace vantel::server
