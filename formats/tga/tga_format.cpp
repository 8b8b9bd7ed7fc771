// Targa files: page information from the 18-byte header, the colour map
// (delivered as stored) or a grey ramp for 8-bit pages without one, and the
// pixel data delivered as stored, run-length coded or not (the image type
// in the format view tells them apart). Targa files are never created.
//
// Behaviour:
//  - Colour-map entries of 15 and 16 bits take 2 bytes, of 24 bits 3 and of
//    32 bits 4; any other entry size is refused with TAV_E_COMPRESSION.
//  - A first colour-map index above the map's length, and a file that ends
//    before its pixel data starts, are refused with TAV_E_TRUNCATED.
#include "formats/tga/tga_format.h"

#include <algorithm>
#include <array>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "formats/common/format_io.h"

namespace {

constexpr std::array<uint8_t, 6> kTgaImageTypes = {1, 2, 3, 9, 10, 11};

// The header, little-endian.
constexpr uint32_t kHeaderSize = 18;
constexpr uint32_t kIdLengthAt = 0;
constexpr uint32_t kMapTypeAt = 1;
constexpr uint32_t kImageTypeAt = 2;
constexpr uint32_t kMapFirstAt = 3;
constexpr uint32_t kMapLengthAt = 5;
constexpr uint32_t kMapEntryBitsAt = 7;
constexpr uint32_t kWidthAt = 12;
constexpr uint32_t kHeightAt = 14;
constexpr uint32_t kPixelDepthAt = 16;
constexpr uint32_t kDescriptorAt = 17;

constexpr uint32_t kTgaDpi = 100;
constexpr uint32_t kGreyRampBytes = 768;  // 256 entries of three bytes
constexpr uint8_t kEightBits = 8;

// The format view of a Targa page.
struct TgaView {
    uint8_t rampPalette = 0;  // 1: the palette is a grey ramp made on delivery
    uint32_t paletteBytes = 0;
    uint32_t paletteOffset = 0;
    uint32_t dataOffset = 0;
    uint8_t imageType = 0;
    uint8_t mapEntryBits = 0;
    uint8_t pixelDepth = 0;
    uint8_t descriptor = 0;
};

void put_view(PageInfo& c, const TgaView& v) {
    c.compressionInfo.value = v.rampPalette;
    c.maxStripSize = v.paletteBytes;
    c.stripCount = v.paletteOffset;
    c.rowsPerStrip = v.dataOffset;
    view_set_flag_bytes(c, {v.imageType, v.mapEntryBits, v.pixelDepth, v.descriptor});
}

TgaView view_of(const PageInfo& c) {
    TgaView v;
    v.rampPalette = uint8_t(c.compressionInfo.value);
    v.paletteBytes = c.maxStripSize;
    v.paletteOffset = c.stripCount;
    v.dataOffset = c.rowsPerStrip;
    auto b = view_flag_bytes(c);
    v.imageType = b[0];
    v.mapEntryBits = b[1];
    v.pixelDepth = b[2];
    v.descriptor = b[3];
    return v;
}

// Bytes of one colour-map entry; 0 for a size that is refused.
uint32_t map_entry_bytes(uint8_t bits) {
    switch (bits) {
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

// Samples and photometric interpretation by pixel depth and colour map.
void set_samples(PageInfo& c, TgaView& v, bool colourMap) {
    if (colourMap) {
        c.photometric = TAV_PHOTO_PALETTE;
        c.area.palette.colorMapSize = v.paletteBytes;
        if (v.pixelDepth > kEightBits) format_rgb_samples(c);
        else if (v.pixelDepth == kEightBits) c.bitsPerSample[0] = kEightBits;
        return;
    }
    if (v.pixelDepth > kEightBits) {
        c.photometric = TAV_PHOTO_RGB;
        format_rgb_samples(c);
    } else if (v.pixelDepth == kEightBits) {
        c.photometric = TAV_PHOTO_PALETTE;
        c.bitsPerSample[0] = kEightBits;
        c.area.palette.colorMapSize = kGreyRampBytes;
        v.rampPalette = 1;
    } else {
        c.photometric = TAV_PHOTO_BILEVEL_WHITE;
        c.bitsPerSample[0] = 1;
    }
}

int tga_page_info(FctEntry* e, uint32_t, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    std::array<uint8_t, kHeaderSize> h;
    if (format_read_at(e, 0, h, uint32_t(length)) < 0) return -1;

    TgaView v;
    v.imageType = h[kImageTypeAt];
    v.mapEntryBits = h[kMapEntryBitsAt];
    v.pixelDepth = h[kPixelDepthAt];
    v.descriptor = h[kDescriptorAt];
    uint32_t pos = kHeaderSize + h[kIdLengthAt];
    const bool colourMap = h[kMapTypeAt] != 0;
    if (colourMap) {
        uint32_t first = get_le16(&h[kMapFirstAt]);
        uint32_t entries = get_le16(&h[kMapLengthAt]);
        uint32_t entryBytes = map_entry_bytes(v.mapEntryBits);
        if (entryBytes == 0) return format_fail(TAV_E_COMPRESSION);
        if (first > entries) return format_fail(TAV_E_TRUNCATED);
        v.paletteOffset = pos;
        v.paletteBytes = (entries - first) * entryBytes;
        pos += v.paletteBytes;
    }
    if (pos > length) return format_fail(TAV_E_TRUNCATED);
    v.dataOffset = pos;

    format_common_settings(c);
    format_resolution(c, kTgaDpi, kTgaDpi, kResolutionInch);
    c.compression = TAV_COMP_NONE;  // run-length types too: the image type says which
    c.samplesPerPixel = 1;
    c.imageWidth = get_le16(&h[kWidthAt]);
    c.imageLength = get_le16(&h[kHeightAt]);
    set_samples(c, v, colourMap);
    put_view(c, v);
    sizes->dataBytes = uint32_t(length) - v.dataOffset;
    return 0;
}

uint32_t tga_data_offset(const PageInfo& view) { return view_of(view).dataOffset; }

// The colour map as stored, or the grey ramp of an 8-bit page without one.
int tga_page_data(FctEntry* e, PageInfo* info) {
    const TgaView v = view_of(e->pageInfo);
    if (v.rampPalette) {
        const PageInfo& c = e->pageInfo;
        if (c.samplesPerPixel != 1 || c.bitsPerSample[0] != kEightBits) return 0;
        format_grey_ramp(format_palette_target(e, info, kGreyRampBytes));
        return 0;
    }
    std::span<uint8_t> out = format_palette_target(e, info, v.paletteBytes);
    if (out.empty() || v.paletteOffset == 0) return 0;
    return format_read_bytes(e, v.paletteOffset, out);
}

}  // namespace

Probe tga_probe(const FileHead& head) {
    uint8_t type = head.bytes[kImageTypeAt];
    bool known = std::find(kTgaImageTypes.begin(), kTgaImageTypes.end(), type) != kTgaImageTypes.end();
    return known ? kProbeYes : kProbeNo;
}

const FormatOps kTgaFormat = {
    .fileType = FILETYPE_TGA, .detectOrder = 90, .probe = tga_probe, .open = format_single_page,
    .page_info = tga_page_info, .page_read = format_read_view_data,
    .data_offset = tga_data_offset, .page_data = tga_page_data,
};
