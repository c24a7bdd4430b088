#include "Ids.h"

#include "Sha256.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <vector>

namespace vantel::server {

namespace {

QString base64Url(const QByteArray& bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

QString randomToken(int bytes) {
    std::vector<quint32> words(size_t(bytes + 3) / 4);
    QRandomGenerator::system()->generate(words.begin(), words.end());
    return base64Url(QByteArray(reinterpret_cast<const char*>(words.data()), bytes));
}

QString newId() {
    return randomToken(12);
}

bool isSafeId(const QString& id) {
    if (id.isEmpty() || id.size() > 64)
        return false;
    for (QChar c : id)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_')
            return false;
    return true;
}

QString sha256Hex(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    Sha256 hash;
    hash.add(bytes.constData(), size_t(bytes.size()));
    return hash.hex();
}

QString s256(const QString& verifier) {
    return base64Url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

} // namespace vantel::server
