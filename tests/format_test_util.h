// Helpers of the single-image format tests: hand-made file bytes, the
// format views as qvtav.h lays them out, and the delivered palette.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "page_test_util.h"

// The format view fields the tests look at.
inline uint32_t view_data_offset(const PageInfo& i, uint32_t type) {
    switch (type) {
    case FILETYPE_GIF:
    case FILETYPE_TGA: return i.rowsPerStrip;
    case FILETYPE_PCX: return i.rowsPerStrip & 0xFFFF;
    case FILETYPE_DCX: return i.compressionInfo.value;
    case FILETYPE_BMP: return i.stripCount & 0xFFFF;
    case FILETYPE_JPEG: return i.compressionInfo.jpeg->restartInterval;
    default: return 0;
    }
}
inline uint32_t view_palette_offset(const PageInfo& i, uint32_t type) {
    return type == FILETYPE_BMP ? i.maxStripSize >> 16 : i.stripCount;
}
inline uint32_t view_palette_bytes(const PageInfo& i, uint32_t type) {
    return type == FILETYPE_TGA ? i.maxStripSize : i.maxStripSize & 0xFFFF;
}

// What most page tests compare: width, bits, photometric, palette bytes,
// palette offset, data offset, the flags word, stored bytes.
inline std::vector<uint32_t> page_summary(const OpenedFile& f) {
    const PageInfo& p = f.pi;
    const uint32_t flags = p.privateTagFlags | p.formatBytes[0] << 8 | p.formatBytes[1] << 16 |
                           uint32_t(p.formatBytes[2]) << 24;
    return {p.imageWidth, p.bitsPerSample[0], p.photometric, view_palette_bytes(p, f.type),
            view_palette_offset(p, f.type), view_data_offset(p, f.type), flags, f.ps.dataBytes};
}

// The palette xtavgtdata delivers for the current page into a buffer of
// stated + spare bytes (marked 0xEE) whose size the caller states.
inline std::vector<uint8_t> delivered_palette(OpenedFile& f, uint32_t stated, uint32_t spare) {
    std::vector<uint8_t> map(stated + spare, 0xEE);
    PageInfo q = f.pi;
    q.area.palette.colorMapBuffer = map.data();
    q.area.palette.colorMapSize = stated;
    EXPECT_EQ(f.data(q), 0u);
    return map;
}
inline std::vector<uint8_t> delivered_palette(OpenedFile& f) {
    return delivered_palette(f, f.pi.area.palette.colorMapSize, 0);
}
