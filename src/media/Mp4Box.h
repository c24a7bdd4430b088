#pragma once

// Bounds-checked reading of ISO base media boxes held in memory. Every size, count and offset is
// checked against the bytes at hand before use, so damaged or hostile input ends in
// MediaError(openInput), never in a read past the end. Standard C++ only; no state beyond the
// view being read.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantel::media {

constexpr uint32_t fourcc(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// Big-endian reader over a borrowed byte view. Throws MediaError(openInput) when a read would
// pass the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes)
        : m_bytes(bytes) {}

    uint8_t u8();
    uint32_t u24();
    uint32_t u32();
    uint64_t u64();
    void skip(size_t count);
    size_t remaining() const { return m_bytes.size() - m_pos; }
    // Throws unless `count` items of `itemSize` bytes are still there.
    void require(uint64_t count, size_t itemSize) const;

private:
    const uint8_t* take(size_t count);

    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

struct Box {
    uint32_t type = 0;
    std::span<const uint8_t> whole;   // header and payload
    std::span<const uint8_t> payload; // after the header
};

// The boxes that fill `bytes` one after another. Throws MediaError(openInput) for a box whose
// size is smaller than its header or reaches past the end.
std::vector<Box> childBoxes(std::span<const uint8_t> bytes);

// The first box of `type` among `boxes`, or null.
const Box* findBox(const std::vector<Box>& boxes, uint32_t type);
// The same, throwing MediaError(openInput) naming `what` when it is missing.
const Box& requireBox(const std::vector<Box>& boxes, uint32_t type, const char* what);

// Size and header length of a box starting at `header` (at least 8 bytes; 16 read for a 64-bit
// size). `available` bounds the box; throws MediaError(openInput) when it does not fit.
struct BoxHeader {
    uint32_t type = 0;
    uint64_t size = 0;
    size_t headerSize = 8;
};
BoxHeader readBoxHeader(std::span<const uint8_t> header, uint64_t available);

[[noreturn]] void damaged(const char* what);

} // namespace vantel::media
