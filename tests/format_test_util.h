// Helpers of the single-image format tests: hand-made file bytes, the
// format views as qvtav.h lays them out, and the delivered palette.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "page_test_util.h"

// Little- and big-endian fields appended one after another.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(std::initializer_list<uint8_t> v) {
        b.insert(b.end(), v);
        return *this;
    }
    Bytes& le16(uint32_t v) { return u8({uint8_t(v), uint8_t(v >> 8)}); }
    Bytes& le32(uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
    Bytes& be16(uint32_t v) { return u8({uint8_t(v >> 8), uint8_t(v)}); }
    Bytes& text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& fill(size_t n, uint8_t v = 0) {
        b.insert(b.end(), n, v);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    size_t size() const { return b.size(); }
};

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
