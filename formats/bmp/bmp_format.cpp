// BMP files: page information from the file header and any of the four
// information headers (core, 40-byte, version 4 and version 5, with the
// colour-space block, linked and embedded profiles), the palette as stored
// and the pixel data: as stored, except 16- and 32-bit pages, delivered as
// 24-bit rows (bmp_convert.cpp). Writing: bmp_write.cpp.
//
// Behaviour:
//  - Pixel data or a palette at or beyond offset 32768, a palette larger
//    than 65535 bytes and rows wider than the 16-bit row field can hold
//    (24-bit rows of more than 10921 pixels) are refused with TAV_E_SIZE, rather
//    than reported in fields too narrow for them.
//  - An embedded profile that starts below the pixel data, and pixel data
//    that starts beyond the end of the file, are refused with TAV_E_TRUNCATED.
//  - The masks of a bit-field page whose header has none (red mask 0) are
//    the 12 bytes behind the header's first 40: the masks of a 40-byte
//    header, which the 52- and 56-byte headers hold in that place.
//  - 16- and 32-bit pages whose 24-bit rows need padding (3 x width not a
//    multiple of 4) deliver imageLength padded rows, as many bytes as
//    dataBytes says; the stored rows keep their own padding.
//  - A linked profile is looked for on this machine (also for a remote
//    file); its name is the file's, so it is opened without blocking and
//    only a regular, non-empty file counts.
#include "formats/bmp/bmp_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "formats/bmp/bmp_internal.h"
#include "formats/common/format_io.h"
#include "formats/common/format_profile.h"
#include "platform/plat_file.h"

namespace {

constexpr uint32_t kLeadSize = kFileHeaderSize + 4;
constexpr uint32_t kCoreSize = 12;
constexpr uint32_t kV4Size = 108;
constexpr uint32_t kCoreWidthAt = 4, kCoreHeightAt = 6, kCoreBitCountAt = 10;
constexpr uint32_t kMaskBytes = 12;  // red, green, blue

constexpr uint32_t kColourSpaceLinked = 0x4C494E4B;  // 'LINK'
constexpr uint32_t kLinkedNameMax = TAV_PATH_SIZE - 1;

constexpr uint32_t kPixelsPerInchDivisor = 39;  // pixels per metre to per inch
// The 16-bit offsets of the view keep pixel data and palette below 32768.
constexpr uint32_t kOffsetLimit = 0x8000;
constexpr uint32_t kPaletteLimit = 0xFFFF;
// The delivered row is computed in 18 bits: rows of more bits are refused.
constexpr uint64_t kRowBitsLimit = 0x3FFFF;
constexpr uint32_t kRowBitsMask = 0x3FFE0;
constexpr uint32_t kDeliveredBits = 24;  // 16-, 24- and 32-bit rows

constexpr std::array<uint32_t, 3> kMasks16 = {0x7C00, 0x03E0, 0x001F};
constexpr std::array<uint32_t, 3> kMasks32 = {0xFF0000, 0x00FF00, 0x0000FF};

// The information header, brought to the 40-byte layout (a core header's
// fields widened, the rest zero), with its kind and the file's lead.
struct BmpHeader {
    std::array<uint8_t, kV5Size> bytes{};
    BmpHeaderKind kind = kBmpInfoHeader;
    uint32_t size = 0;        // as the file states it
    uint32_t dataOffset = 0;  // bfOffBits

    uint32_t u32(uint32_t at) const { return get_le32(&bytes[at]); }
    uint16_t bit_count() const { return get_le16(&bytes[kBitCountAt]); }
    uint32_t compression() const { return u32(kCompressionAt); }
    uint64_t palette_offset() const { return uint64_t(kFileHeaderSize) + size; }
};

// The header kinds by the size the file states: the first whose size it
// reaches, and the bytes read of it.
struct HeaderKindSize {
    uint32_t size;
    BmpHeaderKind kind;
};
constexpr HeaderKindSize kHeaderKinds[] = {
    {kV5Size, kBmpV5Header}, {kV4Size, kBmpV4Header}, {kInfoSize, kBmpInfoHeader}, {kCoreSize, kBmpCoreHeader}};

int read_header(FctEntry* e, uint32_t fileLength, BmpHeader* h) {
    std::array<uint8_t, kLeadSize> lead;
    if (format_read_at(e, 0, lead, fileLength) < 0) return -1;
    h->dataOffset = get_le32(&lead[kDataOffsetAt]);
    h->size = get_le32(&lead[kFileHeaderSize]);
    // Anything smaller than a 40-byte header is taken for a core header.
    const HeaderKindSize* k = std::find_if(std::begin(kHeaderKinds), std::end(kHeaderKinds) - 1,
                                           [&](const HeaderKindSize& s) { return h->size >= s.size; });
    h->kind = k->kind;
    std::array<uint8_t, kV5Size> raw{};
    if (format_read_at(e, kFileHeaderSize, std::span(raw).first(k->size), fileLength) < 0) return -1;
    if (h->kind != kBmpCoreHeader) {
        h->bytes = raw;
        return 0;
    }
    put_le32(&h->bytes[kWidthAt], get_le16(&raw[kCoreWidthAt]));
    put_le32(&h->bytes[kHeightAt], get_le16(&raw[kCoreHeightAt]));
    put_le16(&h->bytes[kBitCountAt], get_le16(&raw[kCoreBitCountAt]));
    return 0;
}

// The pixel layout by bit count and compression: photometric, samples, and
// for 16- and 32-bit pages the masks. 0, or -1 with errno (TAV_E_COMPRESSION, TAV_E_FIELD_TYPE).
int set_pixels(FctEntry* e, uint32_t fileLength, const BmpHeader& h, PageInfo& c) {
    const uint32_t bits = h.bit_count(), compression = h.compression();
    auto allow = [&](std::initializer_list<uint32_t> codes) {
        return std::find(codes.begin(), codes.end(), compression) != codes.end();
    };
    c.samplesPerPixel = 1;
    switch (bits) {
    case 1: {
        if (!allow({kBiRgb})) return format_fail(TAV_E_COMPRESSION);
        // Entry 0 of the colour table decides which way round: its blue
        // value is nonzero for a white first entry.
        std::array<uint8_t, 1> blue;
        if (format_read_at(e, h.palette_offset(), blue, fileLength) < 0) return -1;
        c.photometric = blue[0] != 0 ? TAV_PHOTO_BILEVEL_WHITE : TAV_PHOTO_BILEVEL_BLACK;
        c.bitsPerSample[0] = 1;
        return 0;
    }
    case 4:
    case 8:
        if (!allow({kBiRgb, bits == 4 ? kBiRle4 : kBiRle8})) return format_fail(TAV_E_COMPRESSION);
        c.photometric = TAV_PHOTO_PALETTE;
        c.bitsPerSample[0] = bits;
        return 0;
    case 16:
    case 32: {
        if (!allow({kBiRgb, kBiBitFields})) return format_fail(TAV_E_COMPRESSION);
        c.photometric = TAV_PHOTO_RGB;
        format_rgb_samples(c);
        c.bmpBytesPerPixel = uint16_t(bits / 8);
        std::array<uint32_t, 3> masks = bits == 16 ? kMasks16 : kMasks32;
        if (compression == kBiBitFields) {
            std::array<uint8_t, kMaskBytes> m;
            if (format_read_at(e, kFileHeaderSize + kInfoSize, m, fileLength) < 0) return -1;
            for (uint32_t k = 0; k < 3; ++k) masks[k] = get_le32(&m[4 * k]);
        }
        std::copy(masks.begin(), masks.end(), c.bmpMasks);
        return 0;
    }
    case 24:
        if (!allow({kBiRgb})) return format_fail(TAV_E_COMPRESSION);
        c.photometric = TAV_PHOTO_RGB;
        format_rgb_samples(c);
        c.bmpBytesPerPixel = 3;
        return 0;
    default:
        return format_fail(TAV_E_FIELD_TYPE);
    }
}

// The colour-space block of version 4 and 5 headers, field by field.
void set_colour_space(const BmpHeader& h, PageInfo& c) {
    c.colorSpaceType = kColourSpacePlain;
    if (h.kind != kBmpV4Header && h.kind != kBmpV5Header) return;
    c.redMask = h.u32(kRedMaskAt);
    c.greenMask = h.u32(kGreenMaskAt);
    c.blueMask = h.u32(kBlueMaskAt);
    c.alphaMask = h.u32(kAlphaMaskAt);
    c.colorSpaceType = h.u32(kColourSpaceAt);
    for (uint32_t k = 0; k < kEndpointWords; ++k) c.endpoints[k] = h.u32(kEndpointsAt + 4 * k);
    c.gammaRed = h.u32(kGammaRedAt);
    c.gammaGreen = h.u32(kGammaGreenAt);
    c.gammaBlue = h.u32(kGammaBlueAt);
    c.intent = h.u32(kIntentAt);
    c.profileSize = h.u32(kProfileSizeAt);
    c.profileReserved = h.u32(kProfileReservedAt);
    // The header counts the profile's offset from its own start.
    const uint32_t data = h.u32(kProfileDataAt);
    c.profileOffset.value = data != 0 ? data + kFileHeaderSize : 0;
}

// A linked profile that cannot be opened here is forgotten: the page then
// has no profile.
int check_linked_profile(FctEntry* e, uint32_t fileLength, PageInfo& c) {
    std::memset(c.linkedProfileName, 0, sizeof c.linkedProfileName);
    if (c.colorSpaceType != kColourSpaceLinked || c.profileSize == 0) return 0;
    const uint32_t n = std::min(c.profileSize, kLinkedNameMax);
    auto name = std::span(reinterpret_cast<uint8_t*>(c.linkedProfileName), n);
    if (format_read_at(e, c.profileOffset.value, name, fileLength) < 0) return -1;
    int fd = format_find_profile(c.linkedProfileName);
    if (fd >= 0) {
        plat_close(fd);
        return 0;
    }
    c.colorSpaceType = kColourSpacePlain;
    c.profileOffset.value = 0;
    c.profileSize = 0;
    std::memset(c.linkedProfileName, 0, sizeof c.linkedProfileName);
    return 0;
}

// Palette of a 4- or 8-bit page: the colours used (as a 16-bit count), or
// all 2^bits; 4 bytes an entry, 3 in a core header.
int set_palette(const BmpHeader& h, PageInfo& c, BmpView& v) {
    if (c.photometric != TAV_PHOTO_PALETTE) return 0;
    uint32_t entries = h.u32(kColoursUsedAt) & 0xFFFF;
    if (entries == 0) entries = 1u << h.bit_count();
    v.paletteBytes = entries * (h.kind == kBmpCoreHeader ? 3 : 4);
    if (v.paletteBytes > kPaletteLimit || h.palette_offset() >= kOffsetLimit)
        return format_fail(TAV_E_SIZE);
    v.paletteOffset = uint32_t(h.palette_offset());
    c.area.palette.colorMapSize = v.paletteBytes;
    return 0;
}

// Bytes delivered: the stored bytes up to the profile or the file's end;
// 16- and 32-bit pages as 24-bit rows.
int delivered_bytes(const PageInfo& c, const BmpView& v, uint32_t fileLength, uint32_t* bytes) {
    const uint32_t end = c.profileOffset.value != 0 ? c.profileOffset.value : fileLength;
    if (end < v.dataOffset || end > fileLength) return format_fail(TAV_E_TRUNCATED);
    const uint32_t stored = end - v.dataOffset;
    const uint32_t b = c.bmpBytesPerPixel;
    if (b != 2 && b != 4) {
        *bytes = stored;
    } else if (c.imageWidth == 0) {
        *bytes = 0;
    } else if (bmp_rows_unpadded(c.imageWidth)) {
        *bytes = stored / b * 3;
    } else {
        uint64_t all = uint64_t(c.imageLength) * v.rowBytes;
        if (all > kFioMaxOffset) return format_fail(TAV_E_SIZE);
        *bytes = uint32_t(all);
    }
    return 0;
}

int bmp_page_info(FctEntry* e, uint32_t, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    const uint32_t fileLength = uint32_t(length);
    BmpHeader h;
    if (read_header(e, fileLength, &h) < 0) return -1;
    const int32_t width = int32_t(h.u32(kWidthAt)), height = int32_t(h.u32(kHeightAt));
    if (width < 0 || height < 0) return format_fail(TAV_E_PAGE);  // top-down bitmaps too

    format_common_settings(c);
    c.imageWidth = uint32_t(width);
    c.imageLength = uint32_t(height);
    if (set_pixels(e, fileLength, h, c) < 0) return -1;
    BmpView v;
    v.headerKind = h.kind;
    const uint32_t compression = h.compression();
    v.rle = compression == kBiRle8 || compression == kBiRle4 ? uint8_t(compression) : 0;
    if (set_palette(h, c, v) < 0) return -1;
    if (h.dataOffset >= kOffsetLimit) return format_fail(TAV_E_SIZE);
    v.dataOffset = h.dataOffset;
    const uint32_t bits = h.bit_count() < 16 ? h.bit_count() : kDeliveredBits;
    const uint64_t rowBits = uint64_t(c.imageWidth) * bits + 31;
    if (rowBits > kRowBitsLimit) return format_fail(TAV_E_SIZE);
    v.rowBytes = (uint32_t(rowBits) & kRowBitsMask) / 8;

    format_resolution(c, h.u32(kXPixelsPerMetreAt) / kPixelsPerInchDivisor,
                      h.u32(kYPixelsPerMetreAt) / kPixelsPerInchDivisor, kResolutionInch);
    c.compression = TAV_COMP_NONE;
    set_colour_space(h, c);
    if (check_linked_profile(e, fileLength, c) < 0) return -1;
    if (delivered_bytes(c, v, fileLength, &sizes->dataBytes) < 0) return -1;
    bmp_put_view(c, v);
    return 0;
}

int bmp_page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                  uint32_t* remaining, uint32_t page) {
    const uint16_t b = e->pageInfo.bmpBytesPerPixel;
    if (b != 2 && b != 4)
        return format_read_stored(e, bmp_view_of(e->pageInfo).dataOffset, buffer, start, length,
                                  remaining, page);
    if (page != e->curPage) return format_fail(TAV_E_PAGE);
    return bmp_read_converted(e, buffer, start, length, remaining);
}

// The profile (embedded bytes, or a linked profile's name as the file
// holds it) and the palette as stored: blue, green, red and a zero byte an
// entry, or blue, green, red in a core header.
int bmp_page_data(FctEntry* e, PageInfo* info) {
    const PageInfo& c = e->pageInfo;
    if (info->profileBuffer && info->profileSize && c.profileOffset.value) {
        const uint32_t n = std::min(info->profileSize, c.profileSize);
        if (format_read_bytes(e, c.profileOffset.value,
                                {static_cast<uint8_t*>(info->profileBuffer), n}) < 0)
            return -1;
    }
    const BmpView v = bmp_view_of(c);
    std::span<uint8_t> out = format_palette_target(e, info, v.paletteBytes);
    if (out.empty()) return 0;
    return format_read_bytes(e, v.paletteOffset, out);
}

}  // namespace

void bmp_put_view(PageInfo& c, const BmpView& v) {
    c.compressionInfo.value = 0;
    c.maxStripSize = view_halves(v.paletteBytes, v.paletteOffset);
    c.stripCount = view_halves(v.dataOffset, 0);
    c.rowsPerStrip = v.rowBytes | uint32_t(v.headerKind) << 16 | uint32_t(v.rle) << 24;
    view_set_flag_bytes(c, {0, 0, 0, 0});
}

BmpView bmp_view_of(const PageInfo& c) {
    BmpView v;
    v.paletteBytes = view_low(c.maxStripSize);
    v.paletteOffset = view_high(c.maxStripSize);
    v.dataOffset = view_low(c.stripCount);
    v.rowBytes = view_low(c.rowsPerStrip);
    v.headerKind = uint8_t(c.rowsPerStrip >> 16);
    v.rle = uint8_t(c.rowsPerStrip >> 24);
    return v;
}

Probe bmp_probe(const FileHead& head) {
    return head.bytes[0] == 'B' && head.bytes[1] == 'M' ? kProbeYes : kProbeNo;
}

const FormatOps kBmpFormat = {
    .fileType = FILETYPE_BMP, .traits = 0,
    .detectOrder = 70, .probe = bmp_probe, .can_create = format_creatable,
    .open = format_single_page, .create = bmp_create, .finish = bmp_finish, .release = bmp_release,
    .page_info = bmp_page_info, .page_read = bmp_page_read, .page_data = bmp_page_data,
    .put_info = bmp_put_info, .page_write = bmp_page_write,
};
