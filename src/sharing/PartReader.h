#pragma once

// Reads an upload copy one part at a time, so only the part being sent is in memory.
//
// Threads: one reader is used by one thread at a time (the share hands reads to the thread
// pool one after the other). Errors: std::runtime_error with a sentence for the user.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

namespace vantel {

class PartReader {
public:
    // Opens `path` for reading; throws when it cannot.
    explicit PartReader(const QString& path);

    // Up to `count` bytes from `offset` (fewer at the end of the file, none past it).
    QByteArray read(int64_t offset, int64_t count);

private:
    QFile m_file;
};

} // namespace vantel
