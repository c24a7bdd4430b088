#include "Mp4Box.h"

#include "MediaError.h"

#include <string>

namespace vantel::media {

void damaged(const char* what) {
    throw MediaError(MediaError::Kind::openInput, std::string("damaged segment: ") + what);
}

const uint8_t* ByteReader::take(size_t count) {
    if (count > remaining())
        damaged("a box ends early");
    const uint8_t* at = m_bytes.data() + m_pos;
    m_pos += count;
    return at;
}

void ByteReader::require(uint64_t count, size_t itemSize) const {
    if (itemSize != 0 && count > remaining() / itemSize)
        damaged("a table is longer than its box");
}

uint8_t ByteReader::u8() {
    return *take(1);
}

uint32_t ByteReader::u24() {
    const uint8_t* p = take(3);
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

uint32_t ByteReader::u32() {
    const uint8_t* p = take(4);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t ByteReader::u64() {
    const uint64_t high = u32();
    return high << 32 | u32();
}

void ByteReader::skip(size_t count) {
    take(count);
}

BoxHeader readBoxHeader(std::span<const uint8_t> header, uint64_t available) {
    ByteReader in(header);
    BoxHeader box;
    box.size = in.u32();
    box.type = in.u32();
    if (box.size == 1) {
        box.size = in.u64();
        box.headerSize = 16;
    } else if (box.size == 0) {
        box.size = available; // runs to the end
    }
    if (box.size < box.headerSize || box.size > available)
        damaged("a box size does not fit");
    return box;
}

std::vector<Box> childBoxes(std::span<const uint8_t> bytes) {
    std::vector<Box> boxes;
    size_t at = 0;
    while (at < bytes.size()) {
        const auto rest = bytes.subspan(at);
        if (rest.size() < 8)
            damaged("trailing bytes after the last box");
        const BoxHeader header = readBoxHeader(rest, rest.size());
        const auto whole = rest.first(size_t(header.size));
        boxes.push_back({header.type, whole, whole.subspan(header.headerSize)});
        at += size_t(header.size);
    }
    return boxes;
}

const Box* findBox(const std::vector<Box>& boxes, uint32_t type) {
    for (const Box& box : boxes)
        if (box.type == type)
            return &box;
    return nullptr;
}

const Box& requireBox(const std::vector<Box>& boxes, uint32_t type, const char* what) {
    const Box* box = findBox(boxes, type);
    if (!box)
        damaged(what);
    return *box;
}

} // namespace vantel::media
