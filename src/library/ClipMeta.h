#pragma once

// The persisted metadata of one clip and its JSON form in the index file. Values only.
//
// JSON: an object with "title", "game", "created", "duration", "width", "height", "hasMic",
// then the optional "shareID" and "shareURL", written in that order and compactly. "created" is
// UTC to whole seconds with a "Z" suffix (2025-03-01T13:05:09Z). Reading needs the seven
// non-optional keys with the right JSON types; extra keys are ignored; an optional key that is
// missing or null leaves the field absent.

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace vantel {

struct ClipMeta {
    QString title;
    QString game;
    QDateTime created; // UTC, whole seconds: use setCreated() or wholeSeconds()
    double duration = 0.0;
    int64_t width = 0;
    int64_t height = 0;
    bool hasMic = false;
    std::optional<QString> shareID;
    std::optional<QString> shareURL;

    bool operator==(const ClipMeta&) const = default;

    // `when` in UTC with the milliseconds dropped: the precision the index keeps.
    static QDateTime wholeSeconds(const QDateTime& when);

    // Appends this record as one compact JSON object to `out`.
    void appendJson(QByteArray& out) const;
    // Nothing when a required key is missing, a value has the wrong type, or the date is not
    // in the ISO 8601 form.
    static std::optional<ClipMeta> fromJson(const QJsonObject& object);
};

// "2025-03-01T13:05:09Z" for a UTC date-time; the form written to the index. Dates outside the
// years 1 to 9999 are written as the nearest date inside them, an invalid one as the epoch, so
// that every written date reads back.
QString isoDate(const QDateTime& when);

// Appends `text` as a JSON string literal (quoted and escaped) to `out`.
void appendJsonString(QByteArray& out, const QString& text);

} // namespace vantel
