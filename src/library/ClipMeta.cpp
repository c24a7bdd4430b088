#include "ClipMeta.h"

#include <QJsonValue>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace vantel {

namespace {

// Internet date-time without fractions: the only form the index accepts, as its readers
// elsewhere expect.
std::optional<QDateTime> parseIsoDate(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    QDateTime when = QDateTime::fromString(text, Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    return when.toUTC();
}

void appendNumber(QByteArray& out, double value) {
    // JSON has no NaN or infinity; a broken duration must not make the whole index unreadable.
    if (!std::isfinite(value))
        value = 0.0;
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendInteger(QByteArray& out, int64_t value) {
    out.append(QByteArray::number(value));
}

void appendKey(QByteArray& out, const char* key, bool first = false) {
    if (!first)
        out.append(',');
    out.append('"').append(key).append("\":");
}

std::optional<int64_t> readInteger(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    double number = value.toDouble();
    if (number != std::floor(number) || std::fabs(number) > 9.2e18)
        return std::nullopt;
    return value.toInteger(static_cast<qint64>(number));
}

// Missing or null: absent (nullopt inside). Any other non-string: a failed read (nullopt).
std::optional<std::optional<QString>> readOptionalString(const QJsonObject& object,
                                                         const char* key) {
    QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::optional<QString>{};
    if (!value.isString())
        return std::nullopt;
    return std::optional<QString>{value.toString()};
}

} // namespace

QDateTime ClipMeta::wholeSeconds(const QDateTime& when) {
    return QDateTime::fromSecsSinceEpoch(when.toSecsSinceEpoch(), Qt::UTC);
}

QString isoDate(const QDateTime& when) {
    // The index form has four-digit years; a stamp outside them (a file dated by a broken
    // clock or archive) is written as the nearest one the form holds, so it reads back.
    static const QDateTime first = QDateTime::fromSecsSinceEpoch(-62135596800LL, Qt::UTC);
    static const QDateTime last = QDateTime::fromSecsSinceEpoch(253402300799LL, Qt::UTC);
    QDateTime utc = when.isValid() ? when.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    utc = std::clamp(utc, first, last);
    return utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

void appendJsonString(QByteArray& out, const QString& text) {
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    for (char c : text.toUtf8()) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\').append(c);
        } else if (c == '\n') {
            out.append("\\n");
        } else if (c == '\t') {
            out.append("\\t");
        } else if (c == '\r') {
            out.append("\\r");
        } else if (byte < 0x20) {
            out.append("\\u00").append(hex[byte >> 4]).append(hex[byte & 0xf]);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

void ClipMeta::appendJson(QByteArray& out) const {
    out.append('{');
    appendKey(out, "title", true);
    appendJsonString(out, title);
    appendKey(out, "game");
    appendJsonString(out, game);
    appendKey(out, "created");
    appendJsonString(out, isoDate(created));
    appendKey(out, "duration");
    appendNumber(out, duration);
    appendKey(out, "width");
    appendInteger(out, width);
    appendKey(out, "height");
    appendInteger(out, height);
    appendKey(out, "hasMic");
    out.append(hasMic ? "true" : "false");
    if (shareID) {
        appendKey(out, "shareID");
        appendJsonString(out, *shareID);
    }
    if (shareURL) {
        appendKey(out, "shareURL");
        appendJsonString(out, *shareURL);
    }
    out.append('}');
}

std::optional<ClipMeta> ClipMeta::fromJson(const QJsonObject& object) {
    QJsonValue title = object.value(QLatin1String("title"));
    QJsonValue game = object.value(QLatin1String("game"));
    QJsonValue created = object.value(QLatin1String("created"));
    QJsonValue duration = object.value(QLatin1String("duration"));
    QJsonValue hasMic = object.value(QLatin1String("hasMic"));
    if (!title.isString() || !game.isString() || !created.isString() || !duration.isDouble() ||
        !hasMic.isBool())
        return std::nullopt;
    auto when = parseIsoDate(created.toString());
    auto width = readInteger(object.value(QLatin1String("width")));
    auto height = readInteger(object.value(QLatin1String("height")));
    auto shareID = readOptionalString(object, "shareID");
    auto shareURL = readOptionalString(object, "shareURL");
    if (!when || !width || !height || !shareID || !shareURL)
        return std::nullopt;
    return ClipMeta{title.toString(),    game.toString(), *when,
                    duration.toDouble(), *width,          *height,
                    hasMic.toBool(),     *shareID,        *shareURL};
}

} // namespace vantel
