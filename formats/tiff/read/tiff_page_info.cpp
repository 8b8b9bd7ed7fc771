// Page information of a TIFF page: its directory decoded into the handle's
// copy, the document properties, the JPEG options marker and the strip
// sizes for the caller.
#include <cerrno>
#include <cstring>

#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/tiff.h"

namespace {

// JPEG options marker: the first comment segment of length 8, "TEXO"
// followed by the quality and the subsampling code.
void jpeg_options(PageInfo& c) {
    JpegInfo* j = c.compressionInfo.jpeg;
    if (!j) return;
    uint32_t q = 0, s = 0;
    const uint8_t* h = j->header;
    uint32_t len = h ? j->headerLength : 0;
    for (uint32_t i = 0; i + 3 < len; ++i) {
        if (h[i] != 0xFF || h[i + 1] != 0xFE) continue;
        if ((uint32_t(h[i + 2]) << 8 | h[i + 3]) != 8) continue;
        if (i + 10 <= len && std::memcmp(h + i + 4, "TEXO", 4) == 0) {
            q = h[i + 8] & 0x7F;
            s = h[i + 9] & 0x07;
            if (s == 1) s = 2;
            else if (s == 2) s = 1;
            else if (s == 4) s = 0;
        }
        break;
    }
    j->jpegOptions = q + q * 128 + s * 16384;
}

// Strip sizes into the caller's PageSizes.
int strip_sizes(const TiffState& ts, const PageInfo& c, PageSizes* sizes) {
    if (sizes->sizeCapacity == 0) return 0;
    const StripList* l = ts.stripCounts;
    if (!l || (l->type != kTiffShort && l->type != kTiffLong && l->type != 0)) {
        errno = TAV_E_FIELD_TYPE;
        return -1;
    }
    sizes->sizeCount = c.stripCount;
    if (!sizes->sizes) return 0;
    uint32_t n = sizes->sizeCapacity < c.stripCount ? sizes->sizeCapacity : c.stripCount;
    for (uint32_t i = 0; i < n; ++i) sizes->sizes[i] = strip_list_get(l, i);
    return 0;
}

}  // namespace

int tiff_page_info(FctEntry* e, uint32_t page, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    TiffDir dir;
    std::memset(&dir, 0, sizeof dir);
    if (tiff_page_dir(e, page, &dir) < 0) return -1;
    if (tiff_decode_dir(e, tiff_order(e), &dir, &c, sizes) < 0) return -1;
    tiff_parse_properties(tiff_of(e), c);
    if (c.compression == TAV_COMP_JPEG_INFO) jpeg_options(c);
    return strip_sizes(tiff_of(e), c, sizes);
}
