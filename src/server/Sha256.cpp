#include "Sha256.h"

#include <openssl/evp.h>
#include <stdexcept>

namespace vantel::server {

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new()) {
    if (!m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_context);
        throw std::runtime_error("Can't set up SHA-256.");
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(m_context);
}

void Sha256::add(const char* data, size_t size) {
    EVP_DigestUpdate(m_context, data, size);
}

QString Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context, digest, &length);
    static constexpr char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(int(length) * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += QLatin1Char(digits[digest[i] >> 4]);
        text += QLatin1Char(digits[digest[i] & 15]);
    }
    return text;
}

} // namespace vantel::server
