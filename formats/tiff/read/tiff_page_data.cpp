// Auxiliary data of a TIFF page (xtavgtdata): texts, ICC profile and the
// tables of the photometric area.
//
// Behaviour:
//  - Sizes and buffers come from the caller's PageInfo, file offsets and the
//    photometric interpretation from the handle's current page, so nothing
//    is written beyond a size the caller stated.
//  - A text of four bytes or fewer is delivered from its directory entry, in
//    the order the file holds its bytes (page_internal.h), at most as many
//    bytes as the caller's length and the text's count allow.
//  - A table that cannot be read whole (it runs past the end of the file)
//    fails with the read's code, or TAV_E_NO_SUBFILE when the read set none; "MM" tables
//    are converted only when they were delivered.
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "formats/tiff/read/page_internal.h"
#include "frame/fct.h"

namespace {

constexpr int kShortRead = TAV_E_NO_SUBFILE;  // a read that returned nothing

// One table of the page for the caller: where the file has it, the caller's
// buffer and size, and the field type whose items are brought to host order.
struct Table {
    uint32_t slot;
    void* buffer;
    uint32_t size;
    uint16_t type;
};

// Reads a table when the page has it and the caller gave a buffer.
int deliver(FctEntry* e, const Table& t, int64_t end) {
    uint32_t off = e->extraOffsets[t.slot];
    if (!t.buffer || !off || !t.size) return 0;
    if (page_read_exact(e, off, t.buffer, t.size, end, kShortRead) < 0) return -1;
    tiff_swap_items(static_cast<uint8_t*>(t.buffer), t.size, t.type, tiff_order(e));
    return 0;
}

// The texts: inline ones from the text table, the others from the file.
int deliver_texts(FctEntry* e, PageInfo* info, int64_t end) {
    const uint32_t* slots = e->textTagOffsets;
    if (!info->textTags || !slots) return 0;
    for (uint32_t k = 0; k < kTextTagCount; ++k) {
        TextTagBuf& t = info->textTags[k];
        if (!t.buffer) continue;
        if (slots[kTextInlineMask] & (1u << k)) {
            uint32_t n = t.length < 4 ? t.length : 4;
            std::memcpy(t.buffer, &slots[kTextInlineBase + k], n);
            continue;
        }
        if (!slots[k] || !t.length) continue;
        if (page_read_exact(e, slots[k], t.buffer, t.length, end, kShortRead) < 0) return -1;
    }
    return 0;
}

// The colour tables the page's photometric interpretation has.
int deliver_tables(FctEntry* e, PageInfo* info, int64_t end) {
    TavPhotometricArea& a = info->area;
    switch (e->pageInfo.photometric) {
    case TAV_PHOTO_GRAY_WHITE:
        return deliver(e, {kExtraCurve, a.gray.grayResponseBuffer, a.gray.grayResponseSize, kTiffShort},
                       end);
    case TAV_PHOTO_PALETTE: {
        const TavPaletteArea& p = a.palette;
        for (const Table& t : {Table{kExtraColorMap, p.colorMapBuffer, p.colorMapSize, kTiffShort},
                               Table{kExtraCurve, p.transferBuffer, p.transferSize, kTiffShort},
                               Table{kExtraWhitePoint, p.whitePointBuffer, p.whitePointSize, kTiffLong},
                               Table{kExtraPrimaries, p.primariesBuffer, p.primariesSize, kTiffLong}})
            if (deliver(e, t, end) < 0) return -1;
        return 0;
    }
    case TAV_PHOTO_RGB: {
        const TavRgbArea& r = a.rgb;
        for (const Table& t : {Table{kExtraWhitePoint, r.whitePointBuffer, r.whitePointSize, kTiffLong},
                               Table{kExtraPrimaries, r.primariesBuffer, r.primariesSize, kTiffLong}})
            if (deliver(e, t, end) < 0) return -1;
        return 0;
    }
    default:
        return 0;
    }
}

}  // namespace

int tiff_page_data(FctEntry* e, PageInfo* info) {
    int64_t end = fio_length(int(e->fd));
    if (end < 0) return -1;
    if (deliver_texts(e, info, end) < 0) return -1;
    uint32_t profile = e->pageInfo.profileOffset.value;
    if (info->profileSize && info->profileBuffer && profile &&
        page_read_exact(e, profile, info->profileBuffer, info->profileSize, end, kShortRead) < 0)
        return -1;
    if (!e->extraOffsets) return 0;
    return deliver_tables(e, info, end);
}
