// TIFF field types and byte order: the width of every field type, and the
// conversions between a file's byte order and the host's.
#pragma once

#include <array>
#include <cstdint>

#include "fileio/byteorder.h"
#include "frame/page_values.h"

// Field types (TIFF 6.0, and the IFD type of its later supplement).
enum TiffType : uint16_t {
    kTiffByte = 1, kTiffAscii = 2, kTiffShort = 3, kTiffLong = 4, kTiffRational = 5,
    kTiffSByte = 6, kTiffUndefined = 7, kTiffSShort = 8, kTiffSLong = 9,
    kTiffSRational = 10, kTiffFloat = 11, kTiffDouble = 12, kTiffIfd = 13,
};

// Bytes of one item, by type code.
inline constexpr std::array<uint8_t, 14> kTiffTypeSize = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// Bytes of one item of a field type; 0 for a type TIFF does not define.
inline uint32_t tiff_type_size(uint16_t type) {
    return type < kTiffTypeSize.size() ? kTiffTypeSize[type] : 0;
}

// Items of one byte: stored as they are in either byte order.
inline bool tiff_is_byte_type(uint16_t type) { return tiff_type_size(type) == 1; }


// The byte order a mark read from a file stands for: anything but "II" is
// taken as big-endian.
inline uint16_t tiff_order_of_mark(uint16_t mark) {
    return mark == kByteOrderII ? kByteOrderII : kByteOrderMM;
}

// A u16 or u32 at p, in a file's byte order.
inline uint16_t tiff_get16(const uint8_t* p, uint16_t order) {
    uint16_t v = get_le16(p);
    return order == kByteOrderMM ? bswap16(v) : v;
}
inline uint32_t tiff_get32(const uint8_t* p, uint16_t order) {
    uint32_t v = get_le32(p);
    return order == kByteOrderMM ? bswap32(v) : v;
}
inline void tiff_put16(uint8_t* p, uint16_t v, uint16_t order) {
    put_le16(p, order == kByteOrderMM ? bswap16(v) : v);
}
inline void tiff_put32(uint8_t* p, uint32_t v, uint16_t order) {
    put_le32(p, order == kByteOrderMM ? bswap32(v) : v);
}

// Converts the items of a field type in a buffer between the file's byte
// order and the host's (the same swap both ways); at most `bytes` bytes are
// touched. RATIONALs are pairs of u32.
void tiff_swap_items(uint8_t* p, uint32_t bytes, uint16_t type, uint16_t order);
