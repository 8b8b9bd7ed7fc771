// The 12-byte directory entry and the directory image, both ways.
#include "formats/tiff/tiff_entry.h"

#include <cstring>

#include "fileio/byteorder.h"

namespace {

// The value field holds the items themselves.
bool value_inline_bytes(const TiffDirEntry& d) {
    return tiff_is_byte_type(d.type) && d.count <= 4;
}

bool value_halves(const TiffDirEntry& d) {
    return d.type == kTiffShort && (d.count == 1 || d.count == 2);
}

}  // namespace

void tiff_encode_entry(uint8_t* p, const TiffDirEntry& d, uint16_t order) {
    tiff_put16(p, d.tag, order);
    tiff_put16(p + 2, d.type, order);
    tiff_put32(p + 4, d.count, order);
    if (value_halves(d)) {
        tiff_put16(p + 8, uint16_t(d.value), order);
        tiff_put16(p + 10, d.count == 2 ? uint16_t(d.value >> 16) : 0, order);
    } else if (value_inline_bytes(d)) {
        put_le32(p + 8, d.value);
    } else {
        tiff_put32(p + 8, d.value, order);
    }
}

uint32_t tiff_encode_dir(const TiffDir& dir, uint16_t order, uint8_t* out) {
    uint32_t n = dir.entryCount;
    tiff_put16(out, uint16_t(n), order);
    for (uint32_t i = 0; i < n; ++i) tiff_encode_entry(out + 2 + 12 * i, dir.entries[i], order);
    tiff_put32(out + 2 + 12 * n, dir.nextIfd, order);
    return tiff_dir_bytes(n);
}

int tiff_dir_find(const TiffDir& dir, uint16_t tag) {
    for (int i = dir.entryCount - 1; i >= 0; --i)
        if (dir.entries[i].tag == tag) return i;
    return -1;
}
