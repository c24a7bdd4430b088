#include "IndexFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace vantel {

namespace {

// Walks the top level of the index object, handing out each member's raw name and value.
class MemberReader {
public:
    explicit MemberReader(const QByteArray& bytes)
        : m_bytes(bytes) {}

    void skipSpace() {
        while (m_at < m_bytes.size() && isSpace(m_bytes[m_at]))
            ++m_at;
    }
    bool take(char c) {
        skipSpace();
        if (m_at < m_bytes.size() && m_bytes[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool atEnd() {
        skipSpace();
        return m_at >= m_bytes.size();
    }
    // A string literal with its quotes, or nothing when none starts here or it never ends.
    std::optional<QByteArray> string() {
        skipSpace();
        if (m_at >= m_bytes.size() || m_bytes[m_at] != '"')
            return std::nullopt;
        const qsizetype start = m_at++;
        for (bool escaped = false; m_at < m_bytes.size(); ++m_at) {
            const char c = m_bytes[m_at];
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                return m_bytes.mid(start, ++m_at - start);
        }
        return std::nullopt;
    }
    // One value: an object or array up to its matching bracket (brackets inside strings do not
    // count), a string, or a bare word up to the next ',' or '}'. Nothing when it never ends.
    std::optional<QByteArray> value() {
        skipSpace();
        if (m_at < m_bytes.size() && m_bytes[m_at] == '"')
            return string();
        const qsizetype start = m_at;
        int depth = 0;
        bool inString = false;
        bool escaped = false;
        for (; m_at < m_bytes.size(); ++m_at) {
            const char c = m_bytes[m_at];
            if (inString) {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (depth == 0)
                    break;
                if (--depth == 0) {
                    ++m_at;
                    break;
                }
            } else if (c == ',' && depth == 0) {
                break;
            }
        }
        if (depth != 0 || inString || m_at == start)
            return std::nullopt;
        return m_bytes.mid(start, m_at - start);
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    const QByteArray& m_bytes;
    qsizetype m_at = 0;
};

std::optional<QString> decodeName(const QByteArray& literal) {
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + literal + ']');
    if (!wrapped.isArray() || !wrapped.array().at(0).isString())
        return std::nullopt;
    return wrapped.array().at(0).toString();
}

std::optional<ClipMeta> decodeValue(const QByteArray& value) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(value, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return ClipMeta::fromJson(document.object());
}

} // namespace

IndexRead decodeIndex(const QByteArray& bytes) {
    IndexRead read;
    MemberReader reader(bytes);
    if (!reader.take('{')) {
        read.unreadRest = true;
        return read;
    }
    if (reader.take('}')) {
        read.unreadRest = !reader.atEnd();
        return read;
    }
    for (;;) {
        const std::optional<QByteArray> name = reader.string();
        const bool separated = name && reader.take(':');
        const std::optional<QByteArray> value = separated ? reader.value() : std::nullopt;
        if (!value) {
            read.unreadRest = true;
            return read;
        }
        const std::optional<QString> key = decodeName(*name);
        const std::optional<ClipMeta> meta = key ? decodeValue(*value) : std::nullopt;
        if (meta)
            read.entries.insert(*key, *meta);
        else
            ++read.unreadEntries;
        if (reader.take(','))
            continue;
        read.unreadRest = !reader.take('}') || !reader.atEnd();
        return read;
    }
}

QByteArray encodeIndex(const QHash<QString, ClipMeta>& index) {
    QByteArray out;
    out.reserve(index.size() * 200 + 2);
    out.append('{');
    bool first = true;
    for (auto it = index.begin(); it != index.end(); ++it) {
        if (!first)
            out.append(',');
        first = false;
        appendJsonString(out, it.key());
        out.append(':');
        it.value().appendJson(out);
    }
    out.append('}');
    return out;
}

} // namespace vantel
