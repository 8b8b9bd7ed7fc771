// Helpers of the single-image format tests: hand-made file bytes, the
// format views by the public view tables, and the delivered palette.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "page_test_util.h"

// A field of the page's format view, decoded by the public view tables (so
// the tests hold the library's pages to those tables); 0 when the type's
// view has no such field.
inline uint32_t view_field(const PageInfo& i, uint32_t type, std::string_view key) {
    uint32_t value = 0;
#define TEST_VIEW_FIELD(field, word, shift, bits, kind, words) \
    if (key == #field) value = tav_view_field(&i, word, shift, bits);
#define TEST_VIEW(fileType, view) \
    if (type == fileType) { view(TEST_VIEW_FIELD) }
    TAV_FORMAT_VIEW_TABLE(TEST_VIEW)
#undef TEST_VIEW
#undef TEST_VIEW_FIELD
    return value;
}
inline uint32_t view_data_offset(const PageInfo& i, uint32_t type) {
    // A JPEG page's data starts where its description's restartInterval says.
    return type == FILETYPE_JPEG ? i.compressionInfo.jpeg->restartInterval : view_field(i, type, "dataOffset");
}
inline uint32_t view_palette_offset(const PageInfo& i, uint32_t type) { return view_field(i, type, "paletteOffset"); }
inline uint32_t view_palette_bytes(const PageInfo& i, uint32_t type) { return view_field(i, type, "paletteBytes"); }

// What most page tests compare: width, bits, photometric, palette bytes,
// palette offset, data offset, the flags word, stored bytes.
inline std::vector<uint32_t> page_summary(const OpenedFile& f) {
    const PageInfo& p = f.pi;
    return {p.imageWidth, p.bitsPerSample[0], p.photometric, view_palette_bytes(p, f.type),
            view_palette_offset(p, f.type), view_data_offset(p, f.type), tav_view_word(&p, TAV_VIEW_FLAGS_WORD),
            f.ps.dataBytes};
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
