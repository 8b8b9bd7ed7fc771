// Auxiliary data of a TIFF page (xtavgtdata): texts, ICC profile and the
// tables of the photometric area.
//
// Choices:
//  - Sizes and buffers come from the caller's PageInfo, file offsets and the
//    photometric interpretation from the handle's current page, so nothing
//    is written beyond a size the caller stated.
//  - A text of four bytes or fewer is delivered from its directory entry, in
//    the order the file holds its bytes (page_internal.h), at most as many
//    bytes as the caller's length and the text's count allow.
//  - A table that cannot be read whole (it runs past the end of the file)
//    fails with the read's code, or 268 when the read set none; "MM" tables
//    are converted only when they were delivered.
#include <cerrno>
#include <cstring>
#include <utility>

#include "fileio/byteorder.h"
#include "frame/fct.h"
#include "tiff/read/page_internal.h"

namespace {

constexpr int kShortRead = TAV_E_NO_SUBFILE;  // a read that returned nothing

// Reads size bytes at the file offset off into buf when both are set.
// 1 delivered, 0 nothing to do, -1 failure.
int deliver(FctEntry* e, uint32_t off, void* buf, uint32_t size, int64_t end) {
    if (!buf || !off || !size) return 0;
    if (page_read_exact(e, off, buf, size, end, kShortRead) < 0) return -1;
    return 1;
}

void swap16(void* buf, uint32_t size) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    for (uint32_t i = 0; i + 1 < size; i += 2) std::swap(p[i], p[i + 1]);
}

void swap32(void* buf, uint32_t size) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    for (uint32_t i = 0; i + 3 < size; i += 4) {
        std::swap(p[i], p[i + 3]);
        std::swap(p[i + 1], p[i + 2]);
    }
}

}  // namespace

int tiff_page_data(FctEntry* e, PageInfo* info) {
    int64_t end = page_file_end(e);
    if (end < 0) return -1;
    const bool mm = tiff_order(e) == kByteOrderMM;

    // Texts.
    const uint32_t* slots = e->textTagOffsets;
    if (info->textTags && slots) {
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
    }

    // ICC profile.
    if (info->profileSize && info->profileBuffer &&
        deliver(e, e->pageInfo.profileOffset.value, info->profileBuffer, info->profileSize,
                end) < 0)
        return -1;

    const uint32_t* x = e->extraOffsets;
    if (!x) return 0;
    TavPhotometricArea& a = info->area;
    switch (e->pageInfo.photometric) {
    case TAV_PHOTO_GRAY_WHITE: {
        int r = deliver(e, x[kExtraCurve], a.gray.grayResponseBuffer, a.gray.grayResponseSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap16(a.gray.grayResponseBuffer, a.gray.grayResponseSize);
        break;
    }
    case TAV_PHOTO_PALETTE: {
        TavPaletteArea& pa = a.palette;
        int r = deliver(e, x[kExtraColorMap], pa.colorMapBuffer, pa.colorMapSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap16(pa.colorMapBuffer, pa.colorMapSize);
        r = deliver(e, x[kExtraCurve], pa.transferBuffer, pa.transferSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap16(pa.transferBuffer, pa.transferSize);
        r = deliver(e, x[kExtraWhitePoint], pa.whitePointBuffer, pa.whitePointSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap32(pa.whitePointBuffer, pa.whitePointSize);
        r = deliver(e, x[kExtraPrimaries], pa.primariesBuffer, pa.primariesSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap32(pa.primariesBuffer, pa.primariesSize);
        break;
    }
    case TAV_PHOTO_RGB: {
        TavRgbArea& ra = a.rgb;
        int r = deliver(e, x[kExtraWhitePoint], ra.whitePointBuffer, ra.whitePointSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap32(ra.whitePointBuffer, ra.whitePointSize);
        r = deliver(e, x[kExtraPrimaries], ra.primariesBuffer, ra.primariesSize, end);
        if (r < 0) return -1;
        if (r > 0 && mm) swap32(ra.primariesBuffer, ra.primariesSize);
        break;
    }
    default:
        break;
    }
    return 0;
}
