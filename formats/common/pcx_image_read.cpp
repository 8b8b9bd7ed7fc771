// Reading a PCX image: page information from its 128-byte header, and its
// palette (the header's 16 colours, the 256 colours at the end of the
// image, or a built-in 16-colour palette for version 3 headers that carry
// none).
//
// Behaviour:
//  - Only pages of 4 and 8 bits are palette pages; the palette size of any
//    other bit count is 0 (a bilevel or 24-bit page has no palette).
//  - A header whose xmax or ymax lies below xmin or ymin, a 256-colour
//    palette that would overlap the header, and an image that ends before
//    its data starts are refused with TAV_E_TRUNCATED; row bytes of all
//    planes that do not fit 16 bits are refused with TAV_E_SIZE.
#include "formats/common/pcx_image.h"

#include <algorithm>
#include <array>

#include "fileio/byteorder.h"
#include "formats/common/format_io.h"

namespace {

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

}  // namespace

int pcx_image_read(FctEntry* e, PcxSpan span, PageInfo& c, PcxPage* page, PageSizes* sizes) {
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

int pcx_image_palette(FctEntry* e, PageInfo* info, const PcxPage& page) {
    std::span<uint8_t> out = format_palette_target(e, info, page.paletteBytes);
    if (out.empty()) return 0;
    if (page.paletteOffset != 0) return format_read_bytes(e, page.paletteOffset, out);
    const auto& builtIn = page.planes == kPlanesOfPaletteW ? kPaletteW : kPaletteE;
    std::copy_n(builtIn.begin(), std::min(out.size(), builtIn.size()), out.begin());
    return 0;
}

