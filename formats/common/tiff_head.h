// The header a TIFF file starts with, which XIFF files (TIFF files read
// through the outside XIFF reader) share: a byte-order mark, then 42 in
// that byte order.
#pragma once

#include <cstdint>

#include "fileio/byteorder.h"
#include "frame/detect.h"
#include "frame/page_values.h"

constexpr uint16_t kTiffMagic = 42;

// Whether the first bytes are a TIFF header.
inline bool tiff_head_matches(const FileHead& head) {
    const uint16_t mark = head.u16(0);
    const uint16_t magic = head.u16(2);
    return (mark == kByteOrderMM || mark == kByteOrderII) &&
           (magic == kTiffMagic || magic == bswap16(kTiffMagic));
}
