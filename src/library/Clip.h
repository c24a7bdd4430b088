#pragma once

// A clip file with its metadata. Its identity in lists is the file's full path.
//
// `playback` tells whether the file can be played: a file that came without an index entry is
// `checking` until the library has read its length and size off the main thread, then
// `playable` (its facts now in the index) or `unplayable` (it cannot be opened, or its index
// points past its end). Indexed clips are playable.
//
// Equality looks at the path, the title and the share link only (not `playback`), so a retitle
// or a new link counts as a change of the clip for list updates while a new duration alone does
// not. Hashing uses the path alone.

#include "ClipMeta.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>

namespace vantel {

enum class Playback { playable, checking, unplayable };

struct Clip {
    QString url; // absolute path of the clip file
    ClipMeta meta;
    Playback playback = Playback::playable;

    const QString& id() const { return url; }

    friend bool operator==(const Clip& a, const Clip& b) {
        return a.url == b.url && a.meta.title == b.meta.title && a.meta.shareURL == b.meta.shareURL;
    }
};

inline size_t qHash(const Clip& clip, size_t seed = 0) {
    return qHash(clip.url, seed);
}

} // namespace vantel

template <> struct std::hash<vantel::Clip> {
    size_t operator()(const vantel::Clip& clip) const noexcept { return qHash(clip.url); }
};

Q_DECLARE_METATYPE(vantel::Clip)
