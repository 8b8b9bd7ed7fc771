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

// The palette xtavgtdata delivers for the current page (colorMapSize bytes,
// the rest of a larger buffer marked 0xEE).
inline std::vector<uint8_t> delivered_palette(OpenedFile& f, uint32_t extra = 0) {
    std::vector<uint8_t> map(f.pi.area.palette.colorMapSize + extra, 0xEE);
    PageInfo q = f.pi;
    q.area.palette.colorMapBuffer = map.data();
    q.area.palette.colorMapSize += extra;
    EXPECT_EQ(f.data(q), 0u);
    return map;
}
