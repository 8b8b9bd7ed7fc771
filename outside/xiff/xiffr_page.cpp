// A page's layout and the resampling of its rows.
#include "outside/xiff/xiffr_page.h"

#include <cmath>
#include <cstring>

#include "formats/xiff/xiff_interface.h"

namespace xiffr {
namespace {

constexpr uint32_t kDefaultDpi = 72;  // a page without a resolution
constexpr double kCentimetresPerInch = 2.54;
constexpr double kMaxDpi = 4294967295.0;
// Longest decoded scanline the reader takes on (a page 16 MB wide).
constexpr uint64_t kMaxScanline = 16u << 20;
constexpr uint32_t kRgbChannels = 3;

// The output form of a stored layout, or 0 when there is none.
uint32_t form_of(uint16_t photometric, uint16_t bits, uint16_t samples) {
    if (photometric == PHOTOMETRIC_RGB) {
        if (bits == 8 && samples >= kRgbChannels) return kXiffRgb;
        return 0;
    }
    if (samples != 1) return 0;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    if (!palette && photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE)
        return 0;
    switch (bits) {
    case 8: return palette ? kXiffPalette8 : kXiffGrey8;
    case 4: return palette ? kXiffPalette4 : kXiffGrey4;
    case 1: return palette ? 0u : uint32_t(kXiffBilevel);
    default: return 0;
    }
}

// One axis' resolution in dots per inch: converted from centimetres, 72 when
// the page gives none; 0 for a zero, negative or unreadable value.
uint32_t dots_per_inch(TIFF* tif, uint32_t tag, uint16_t unit) {
    float value = 0;
    if (unit == RESUNIT_NONE || !TIFFGetField(tif, tag, &value)) return kDefaultDpi;
    double dpi = unit == RESUNIT_CENTIMETER ? double(value) * kCentimetresPerInch : double(value);
    if (!(dpi > 0)) return 0;
    if (dpi >= kMaxDpi) return uint32_t(kMaxDpi);
    return uint32_t(std::lround(dpi));
}

// The high bytes of the colour map, R, G, B per entry.
bool read_palette(TIFF* tif, uint16_t bits, std::vector<uint8_t>& out) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) return false;
    const uint32_t entries = 1u << bits;
    out.resize(entries * 3);
    for (uint32_t i = 0; i < entries; ++i) {
        out[3 * i] = uint8_t(r[i] >> 8);
        out[3 * i + 1] = uint8_t(g[i] >> 8);
        out[3 * i + 2] = uint8_t(b[i] >> 8);
    }
    return true;
}

uint8_t nibble_at(const uint8_t* line, uint32_t i) {
    return (i & 1) ? line[i >> 1] & 0x0F : line[i >> 1] >> 4;
}

// A row at the page's own width: the scanline's bytes as they are, 0 made
// black, the bits past the last pixel cleared.
void copy_row(const SourcePage& page, const uint8_t* line, uint32_t width, uint8_t* out) {
    const uint64_t bits = uint64_t(width) * form_pixel_bits(page.form);
    const size_t bytes = size_t((bits + 7) / 8);
    std::memcpy(out, line, bytes);
    if (page.invert)
        for (size_t i = 0; i < bytes; ++i) out[i] = uint8_t(~out[i]);
    if (bits % 8) out[bytes - 1] &= uint8_t(0xFF << (8 - bits % 8));
}

}  // namespace

bool describe_page(TIFF* tif, SourcePage& page) {
    page = SourcePage{};
    uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE, unit = RESUNIT_INCH;
    if (TIFFIsTiled(tif)) return false;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.length) || page.width == 0 || page.length == 0)
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
    if (page.rowsPerStrip == 0 || page.rowsPerStrip > page.length) page.rowsPerStrip = page.length;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if ((planar != PLANARCONFIG_CONTIG && samples > 1) || !TIFFIsCODECConfigured(compression)) return false;
    uint64_t scanline = TIFFScanlineSize64(tif);
    if (scanline == 0 || scanline > kMaxScanline) return false;
    page.form = form_of(photometric, bits, samples);
    if (page.form == 0) return false;
    if (form_palette_bytes(page.form) && !read_palette(tif, bits, page.palette)) return false;
    page.samples = samples;
    page.invert = photometric == PHOTOMETRIC_MINISWHITE;
    page.xDpi = dots_per_inch(tif, TIFFTAG_XRESOLUTION, unit);
    page.yDpi = dots_per_inch(tif, TIFFTAG_YRESOLUTION, unit);
    return true;
}

uint32_t form_pixel_bits(uint32_t form) {
    switch (form) {
    case kXiffRgb: return 24;
    case kXiffGrey8:
    case kXiffPalette8: return 8;
    case kXiffGrey4:
    case kXiffPalette4: return 4;
    default: return 1;
    }
}

uint32_t form_channels(uint32_t form) { return form == kXiffRgb ? kRgbChannels : 1; }

uint32_t form_palette_bytes(uint32_t form) {
    if (form == kXiffPalette8) return kXiffPalette8Bytes;
    if (form == kXiffPalette4) return kXiffPalette4Bytes;
    return 0;
}

uint32_t nearest_source(uint32_t i, uint32_t n, uint32_t source) {
    return uint32_t((2 * uint64_t(i) + 1) * source / (2 * uint64_t(n)));
}

void resample_row(const SourcePage& page, const uint8_t* line, const std::vector<uint32_t>& columns,
                  uint8_t* out) {
    const uint32_t n = uint32_t(columns.size());
    // Every source column in its place, and pixels stored as delivered.
    if (n == page.width && (page.form != kXiffRgb || page.samples == kRgbChannels)) {
        copy_row(page, line, n, out);
        return;
    }
    switch (page.form) {
    case kXiffRgb:
        for (uint32_t x = 0; x < n; ++x)
            std::memcpy(out + 3 * size_t(x), line + size_t(columns[x]) * page.samples, kRgbChannels);
        break;
    case kXiffGrey8:
    case kXiffPalette8: {
        const uint8_t flip = page.invert ? 0xFF : 0;
        for (uint32_t x = 0; x < n; ++x) out[x] = line[columns[x]] ^ flip;
        break;
    }
    case kXiffGrey4:
    case kXiffPalette4: {
        const uint8_t flip = page.invert ? 0x0F : 0;
        for (uint32_t x = 0; x < n; ++x)
            out[x >> 1] |= uint8_t((nibble_at(line, columns[x]) ^ flip) << ((x & 1) ? 0 : 4));
        break;
    }
    default: {
        const uint8_t flip = page.invert ? 1 : 0;
        for (uint32_t x = 0; x < n; ++x) {
            uint32_t c = columns[x];
            uint8_t bit = ((line[c >> 3] >> (7 - (c & 7))) & 1) ^ flip;
            out[x >> 3] |= uint8_t(bit << (7 - (x & 7)));
        }
        break;
    }
    }
}

}  // namespace xiffr
