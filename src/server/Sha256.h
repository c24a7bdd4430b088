#pragma once

// SHA-256 over data that arrives in pieces, through OpenSSL (which uses the processor's SHA
// instructions where it has them: several times faster than QCryptographicHash, and an upload
// is hashed byte for byte as it arrives).
//
// Threads: an object belongs to one thread. Errors: none once constructed; the constructor
// throws std::runtime_error when OpenSSL cannot set up the digest (out of memory).

#include <QString>
#include <cstddef>

struct evp_md_ctx_st;

namespace vantel::server {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, size_t size);
    // The digest of everything added, in lower-case hex. Ends the hash: call it once.
    QString hex();

private:
    evp_md_ctx_st* m_context;
};

} // namespace vantel::server
