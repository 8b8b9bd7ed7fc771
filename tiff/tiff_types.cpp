// TIFF field types and byte order.
#include "tiff/tiff_types.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fileio/byteorder.h"

namespace {

// Bytes of one item, by type code; and the unit that byte order swaps.
constexpr std::array<uint8_t, 14> kTypeSize = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
constexpr std::array<uint8_t, 14> kSwapUnit = {0, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 4, 8, 4};

bool swaps(uint16_t order) { return order == kByteOrderMM; }

}  // namespace

uint32_t tiff_type_size(uint16_t type) { return type < kTypeSize.size() ? kTypeSize[type] : 0; }

bool tiff_is_byte_type(uint16_t type) { return tiff_type_size(type) == 1; }

uint16_t tiff_get16(const uint8_t* p, uint16_t order) {
    uint16_t v = get_le16(p);
    return swaps(order) ? bswap16(v) : v;
}

uint32_t tiff_get32(const uint8_t* p, uint16_t order) {
    uint32_t v = get_le32(p);
    return swaps(order) ? bswap32(v) : v;
}

void tiff_put16(uint8_t* p, uint16_t v, uint16_t order) { put_le16(p, swaps(order) ? bswap16(v) : v); }

void tiff_put32(uint8_t* p, uint32_t v, uint16_t order) { put_le32(p, swaps(order) ? bswap32(v) : v); }

void tiff_swap_items(uint8_t* p, uint32_t bytes, uint16_t type, uint16_t order) {
    if (!swaps(order) || type >= kSwapUnit.size()) return;
    uint32_t unit = kSwapUnit[type];
    if (unit <= 1) return;
    for (uint32_t at = 0; at + unit <= bytes; at += unit) std::reverse(p + at, p + at + unit);
}
