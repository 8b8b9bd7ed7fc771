// Byte order: table-driven conversion of file structures in place, and the
// little-endian field reads and writes every format uses.
#pragma once

#include <cstddef>
#include <cstdint>

enum SwapKind : uint32_t {
    kSwapSkip = 1,   // skip count bytes
    kSwapLong = 2,   // count 4-byte fields
    kSwapShort = 3,  // count 2-byte fields
    kSwapLong4 = 4,  // count 4-byte fields (lines up with TIFF LONG)
};

struct SwapPair {
    uint32_t count;
    uint32_t kind;
};

// Applies the template `repeat` times over buf, the position running on.
// Never touches bytes at or beyond bufSize.
void swap_fields(void* buf, size_t bufSize, const SwapPair* tmpl, int pairs, int repeat);

// Writes a converted copy of src (count bytes) to the descriptor; src is left
// as it was. Bytes written, or -1 (TAV_ENOMEM without memory).
int32_t write_swapped(int fd, uint32_t count, const void* src, const SwapPair* tmpl, int pairs,
                      int repeat);

// Plain helpers for reading fields in a given byte order.
inline uint16_t bswap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint32_t bswap32(uint32_t v) { return __builtin_bswap32(v); }
inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put_le16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
