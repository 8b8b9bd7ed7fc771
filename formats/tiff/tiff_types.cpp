// TIFF field types and byte order.
#include "formats/tiff/tiff_types.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fileio/byteorder.h"

namespace {

// The unit byte order swaps, by type code (a RATIONAL is two u32).
constexpr std::array<uint8_t, 14> kSwapUnit = {0, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 4, 8, 4};

}  // namespace

void tiff_swap_items(uint8_t* p, uint32_t bytes, uint16_t type, uint16_t order) {
    if (order != kByteOrderMM || type >= kSwapUnit.size()) return;
    uint32_t unit = kSwapUnit[type];
    if (unit <= 1) return;
    for (uint32_t at = 0; at + unit <= bytes; at += unit) std::reverse(p + at, p + at + unit);
}
