#pragma once

// The index file "library.json": one JSON object whose member names are clip keys and whose
// values are ClipMeta objects, written compactly.
//
// Reading keeps every member that decodes. The object is split into members before any value is
// judged, so a member with a missing key, a wrong type or broken syntax costs only itself; a file
// cut short keeps the members before the cut. What could not be read is counted for the user.

#include "ClipMeta.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace vantel {

struct IndexRead {
    QHash<QString, ClipMeta> entries;
    int unreadEntries = 0;   // members whose name or value did not decode
    bool unreadRest = false; // from some point on the file was no JSON object at all

    bool damaged() const { return unreadEntries > 0 || unreadRest; }
};

IndexRead decodeIndex(const QByteArray& bytes);
QByteArray encodeIndex(const QHash<QString, ClipMeta>& index);

} // namespace vantel
