// PCX files: page information from the 128-byte header, the palette (the
// header's 16 colours, the 256 colours at the end of the image, or a
// built-in 16-colour palette for version 3 headers that carry none), and
// the run-length data delivered as stored from offset 128 (writing:
// pcx_write.cpp).
//
// Choices:
//  - Only pages of 4 and 8 bits are palette pages; the palette size of any
//    other bit count is 0 (a bilevel or 24-bit page has no palette).
//  - A header whose xmax or ymax lies below xmin or ymin, a 256-colour
//    palette that would overlap the header, and a file that ends before the
//    page's data starts are refused with 402; row bytes of all planes that do
//    not fit 16 bits are refused with 267.
#include "formats/pcx/pcx_format.h"

#include <algorithm>
#include <array>

#include "fileio/byteorder.h"
#include "formats/common/format_io.h"
#include "formats/pcx/pcx_write.h"

namespace {

constexpr std::array<uint8_t, 4> kPcxVersions = {0, 2, 3, 5};
constexpr uint8_t kVersionWithoutPalette = 3;

constexpr uint32_t kSixteenColours = 4;     // bits of a 16-colour page
constexpr uint32_t kTwoFiftySixColours = 8;
constexpr uint32_t kTrueColour = 24;
// Horizontal dpi 200 is taken with the vertical dpi; any other resolution
// is reported as 100 by 100.
constexpr uint32_t kFaxDpi = 200;
constexpr uint32_t kDefaultDpi = 100;

// The built-in 16-colour palettes (red, green, blue): W for pages of three
// planes, E for any other plane count.
constexpr uint32_t kPlanesOfPaletteW = 3;
constexpr std::array<uint8_t, 48> kPaletteW = {
    0, 0, 0,     128, 0, 0,   0, 128, 0,   128, 128, 0,   0, 0, 128,   128, 0, 128,
    0, 128, 128, 128, 128, 128, 192, 192, 192, 255, 0, 0, 0, 255, 0,   255, 255, 0,
    0, 0, 255,   255, 0, 255, 0, 255, 255, 255, 255, 255};
constexpr std::array<uint8_t, 48> kPaletteE = {
    0, 0, 0,     0, 0, 128,   0, 128, 0,   0, 128, 128,   128, 0, 0,   128, 0, 128,
    128, 128, 0, 128, 128, 128, 192, 192, 192, 0, 0, 255, 0, 255, 0,   0, 255, 255,
    255, 0, 0,   255, 0, 255, 255, 255, 0, 255, 255, 255};

// The PCX format view: u16 palette bytes; palette offset; u16 data offset
// and u16 planes; u16 row bytes of all planes.
void put_view(PageInfo& c, const PcxPage& p) {
    c.compressionInfo.value = 0;
    c.maxStripSize = view_halves(p.paletteBytes, 0);
    c.stripCount = p.paletteOffset;
    c.rowsPerStrip = view_halves(p.dataOffset, p.planes);
    view_set_flag_bytes(c, {uint8_t(p.lineBytes), uint8_t(p.lineBytes >> 8), 0, 0});
}

PcxPage view_of(const PageInfo& c) {
    PcxPage p;
    p.paletteBytes = view_low(c.maxStripSize);
    p.paletteOffset = c.stripCount;
    p.dataOffset = view_low(c.rowsPerStrip);
    p.planes = view_high(c.rowsPerStrip);
    auto b = view_flag_bytes(c);
    p.lineBytes = uint32_t(b[0]) | uint32_t(b[1]) << 8;
    return p;
}

// Bits per pixel of all planes; two and three are coded as 16 colours.
uint32_t page_bits(uint32_t bitsPerPlane, uint32_t planes) {
    uint32_t b = bitsPerPlane * planes;
    return (b == 2 || b == 3) ? kSixteenColours : b;
}

void set_photometric(PageInfo& c, uint32_t bits, const PcxPage& p) {
    c.bitsPerSample[0] = bits;
    switch (bits) {
    case 1:
        c.photometric = TAV_PHOTO_BILEVEL_BLACK;
        break;
    case kSixteenColours:
    case kTwoFiftySixColours:
        c.photometric = TAV_PHOTO_PALETTE;
        c.area.palette.colorMapSize = p.paletteBytes;
        break;
    case kTrueColour:
        c.photometric = TAV_PHOTO_RGB;
        format_rgb_samples(c);
        break;
    default:
        break;  // no photometric interpretation is known
    }
}

int pcx_page_info(FctEntry* e, uint32_t, PageInfo& c, PageSizes* sizes) {
    int64_t length = format_file_length(e);
    if (length < 0) return -1;
    PcxPage p;
    if (pcx_read_page(e, {0, uint32_t(length)}, c, &p, sizes) < 0) return -1;
    put_view(c, p);
    return 0;
}

int pcx_page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                  uint32_t* remaining, uint32_t page) {
    return format_read_stored(e, view_of(e->pageInfo).dataOffset, buffer, start, length, remaining,
                              page);
}

int pcx_page_data(FctEntry* e, PageInfo* info) { return pcx_deliver_palette(e, info, view_of(e->pageInfo)); }

// A PCX handle that writes: its writer.
struct PcxState {
    PcxWriter writer;
};

int pcx_create(FctEntry* e, const FormatRequest&) { return format_new_state<PcxState>(e) ? 0 : -1; }

void pcx_release(FctEntry* e) {
    if (e->formatState) format_end_state<PcxState>(e);
}

// A page that broke leaves nothing: the file's one page is gone.
int pcx_finish(FctEntry* e) {
    if (!e->formatState) return 0;
    return pcx_drop_broken(e, format_state<PcxState>(e).writer, 0);
}

// The file's one page: its header at offset 0, its data from offset 128.
// A file opened for update already holds its page (277).
int pcx_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions*) {
    if (e->pageCount > 0 || !e->formatState) return format_fail(TAV_E_WRITTEN);
    if (page != 0) return format_fail(TAV_E_PAGE);
    if (pcx_put_header(e, info, 0, format_state<PcxState>(e).writer) < 0) return -1;
    info->rowsPerStrip = view_halves(kPcxHeaderSize, view_high(info->rowsPerStrip));
    e->pageCount = 1;
    e->curPage = page;
    return 0;
}

int32_t pcx_page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    return pcx_write_rows(e, page, {static_cast<const uint8_t*>(buffer), count}, flag,
                          format_state<PcxState>(e).writer);
}

}  // namespace

int pcx_read_page(FctEntry* e, PcxSpan span, PageInfo& c, PcxPage* page, PageSizes* sizes) {
    std::array<uint8_t, kPcxHeaderSize> h;
    if (format_read_at(e, span.start, h, span.end) < 0) return -1;
    const uint32_t xMin = get_le16(&h[kPcxXMinAt]), xMax = get_le16(&h[kPcxXMaxAt]);
    const uint32_t yMin = get_le16(&h[kPcxYMinAt]), yMax = get_le16(&h[kPcxYMaxAt]);
    if (xMax < xMin || yMax < yMin) return format_fail(TAV_E_TRUNCATED);

    PcxPage p;
    p.planes = h[kPcxPlanesAt];
    p.lineBytes = uint32_t(get_le16(&h[kPcxLineBytesAt])) * p.planes;
    if (p.lineBytes > 0xFFFF) return format_fail(TAV_E_SIZE);
    const uint32_t bits = page_bits(h[kPcxBitsAt], p.planes);
    if (bits == kSixteenColours || bits == kTwoFiftySixColours) p.paletteBytes = 3u << bits;
    const uint64_t dataOffset = uint64_t(span.start) + kPcxHeaderSize;
    if (dataOffset > span.end) return format_fail(TAV_E_TRUNCATED);
    p.dataOffset = uint32_t(dataOffset);
    if (bits == kSixteenColours) {
        p.paletteOffset = h[kPcxVersionAt] == kVersionWithoutPalette ? 0 : span.start + kPcxPaletteAt;
    } else {
        // The 256-colour palette ends the image (for other pages this is
        // the image's end, never read).
        if (span.end - p.dataOffset < p.paletteBytes) return format_fail(TAV_E_TRUNCATED);
        p.paletteOffset = span.end - p.paletteBytes;
    }

    format_common_settings(c);
    const uint32_t hDpi = get_le16(&h[kPcxHorizontalDpiAt]);
    if (hDpi == kFaxDpi) format_resolution(c, kFaxDpi, get_le16(&h[kPcxVerticalDpiAt]), kResolutionInch);
    else format_resolution(c, kDefaultDpi, kDefaultDpi, kResolutionInch);
    c.compression = TAV_COMP_NONE;
    c.imageWidth = xMax - xMin + 1;
    c.imageLength = yMax - yMin + 1;
    c.samplesPerPixel = 1;
    set_photometric(c, bits, p);
    sizes->dataBytes = span.end - p.dataOffset;
    *page = p;
    return 0;
}

int pcx_deliver_palette(FctEntry* e, PageInfo* info, const PcxPage& page) {
    std::span<uint8_t> out = format_palette_target(e, info, page.paletteBytes);
    if (out.empty()) return 0;
    if (page.paletteOffset != 0) return format_read_bytes(e, page.paletteOffset, out);
    const auto& builtIn = page.planes == kPlanesOfPaletteW ? kPaletteW : kPaletteE;
    std::copy_n(builtIn.begin(), std::min(out.size(), builtIn.size()), out.begin());
    return 0;
}

Probe pcx_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    bool known = std::find(kPcxVersions.begin(), kPcxVersions.end(), b[kPcxVersionAt]) != kPcxVersions.end();
    return b[0] == kPcxMarker && known && b[kPcxCodingAt] == kPcxRunLength ? kProbeYes : kProbeNo;
}

const FormatOps kPcxFormat = {
    .fileType = FILETYPE_PCX, .name = "PCX", .traits = 0, .can_create = format_creatable,
    .open = format_single_page, .create = pcx_create, .finish = pcx_finish, .release = pcx_release,
    .page_info = pcx_page_info, .page_read = pcx_page_read, .page_data = pcx_page_data,
    .put_info = pcx_put_info, .page_write = pcx_page_write,
};
