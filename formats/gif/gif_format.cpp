// GIF files: the page information and data of the file's first image (the
// later images of an animation are not reachable), its colour table, and
// its LZW data delivered as stored from the byte after the minimum code
// size. A GIF file can be created, but the page calls write nothing into it.
//
// Behaviour:
//  - A file whose blocks do not lead to an image descriptor (it ends, or a
//    block starts with a byte that is neither an extension nor an image) is
//    refused with TAV_E_NO_IMAGE.
//  - Header bytes past the end of the file read as zeros; a file that ends
//    before its image data starts is refused with TAV_E_TRUNCATED.
#include "formats/gif/gif_format.h"

#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "formats/common/format_io.h"

namespace {

constexpr char kGifSignature[] = "GIF8";  // then '7' or '9', then 'a'

constexpr uint32_t kScreenSize = 13;  // signature and logical screen descriptor
constexpr uint32_t kScreenFlagsAt = 10;
constexpr uint32_t kDescriptorSize = 9;  // image descriptor, after its separator
constexpr uint32_t kDescriptorWidthAt = 4;
constexpr uint32_t kDescriptorLengthAt = 6;
constexpr uint32_t kDescriptorFlagsAt = 8;
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kTableSizeMask = 0x07;

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kPlainTextLabel = 0x01;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kApplicationLabel = 0xFF;
// Bytes each labelled extension has before its data sub-blocks; the graphic
// control extension is taken as one fixed block with its terminator.
constexpr uint32_t kPlainTextHeader = 13;
constexpr uint32_t kGraphicControlBlock = 6;
constexpr uint32_t kApplicationHeader = 12;

constexpr uint32_t kGifDpi = 100;

// The format view of a GIF page.
struct GifView {
    uint32_t paletteBytes = 0;
    uint32_t paletteOffset = 0;  // 0: no colour table in the file
    uint32_t dataOffset = 0;
    uint8_t bits = 0;            // bits of the colour table in force
    uint8_t codeSize = 0;        // LZW minimum code size
    uint8_t imageFlags = 0;      // the image descriptor's packed byte
};

void put_view(PageInfo& c, const GifView& v) {
    c.compressionInfo.value = 0;
    c.maxStripSize = view_halves(v.paletteBytes, 0);
    c.stripCount = v.paletteOffset;
    c.rowsPerStrip = v.dataOffset;
    view_set_flag_bytes(c, {v.bits, v.codeSize, v.imageFlags, 0});
}

GifView view_of(const PageInfo& c) {
    GifView v;
    v.paletteBytes = view_low(c.maxStripSize);
    v.paletteOffset = c.stripCount;
    v.dataOffset = c.rowsPerStrip;
    auto b = view_flag_bytes(c);
    v.bits = b[0];
    v.codeSize = b[1];
    v.imageFlags = b[2];
    return v;
}

uint8_t table_bits(uint8_t flags) { return uint8_t((flags & kTableSizeMask) + 1); }
uint32_t table_bytes(uint8_t bits) { return 3u << bits; }

// Data sub-blocks: a size byte and that many bytes, until a size of 0.
void skip_sub_blocks(ByteCursor& cur) {
    uint8_t size = 0;
    while (cur.next(size) && size != 0) cur.skip(size);
}

// The extension whose introducer was just read.
void skip_extension(ByteCursor& cur) {
    uint8_t label = 0;
    if (!cur.next(label)) return;
    switch (label) {
    case kGraphicControlLabel:
        cur.skip(kGraphicControlBlock);
        return;
    case kPlainTextLabel:
        cur.skip(kPlainTextHeader);
        break;
    case kApplicationLabel:
        cur.skip(kApplicationHeader);
        break;
    default:
        break;
    }
    skip_sub_blocks(cur);
}

// Walks the blocks up to the first image descriptor and reads it. 0, or -1
// with errno (TAV_E_NO_IMAGE: no image).
int find_image(ByteCursor& cur, GifView& v, PageInfo& c) {
    uint8_t introducer = 0;
    for (;;) {
        if (!cur.next(introducer)) return cur.failed() ? -1 : format_fail(TAV_E_NO_IMAGE);
        if (introducer == kImageSeparator) break;
        if (introducer != kExtensionIntroducer) return format_fail(TAV_E_NO_IMAGE);
        skip_extension(cur);
    }
    std::array<uint8_t, kDescriptorSize> d;
    if (!cur.read(d)) return -1;
    c.imageWidth = get_le16(&d[kDescriptorWidthAt]);
    c.imageLength = get_le16(&d[kDescriptorLengthAt]);
    v.imageFlags = d[kDescriptorFlagsAt];
    if (v.imageFlags & kColourTableFlag) {
        // The local colour table comes before the code size byte.
        v.bits = table_bits(v.imageFlags);
        v.paletteBytes = table_bytes(v.bits);
        v.paletteOffset = uint32_t(cur.pos());
        cur.skip(v.paletteBytes);
    }
    std::array<uint8_t, 1> codeSize;
    if (!cur.read(codeSize)) return -1;
    v.codeSize = codeSize[0];
    return 0;
}

int gif_page_info(FctEntry* e, uint32_t, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    ByteCursor cur(e, uint32_t(length), 0);
    std::array<uint8_t, kScreenSize> screen;
    if (!cur.read(screen)) return -1;

    // The screen's table size counts even when it has no global table.
    GifView v;
    const uint8_t screenFlags = screen[kScreenFlagsAt];
    v.bits = table_bits(screenFlags);
    v.paletteBytes = table_bytes(v.bits);
    if (screenFlags & kColourTableFlag) {
        v.paletteOffset = kScreenSize;
        cur.skip(v.paletteBytes);
    }
    if (find_image(cur, v, c) < 0) return -1;
    if (cur.pos() > uint64_t(length)) return format_fail(TAV_E_TRUNCATED);
    v.dataOffset = uint32_t(cur.pos());

    format_common_settings(c);
    format_resolution(c, kGifDpi, kGifDpi, kResolutionInch);
    c.compression = TAV_COMP_LZW;
    c.samplesPerPixel = 1;
    c.bitsPerSample[0] = v.bits;
    c.photometric = TAV_PHOTO_PALETTE;
    if (v.bits == 1) {
        // Two colours: bilevel, black first or white first by the red value
        // of entry 0 (without any table, offset 0 gives the 'G' of the
        // signature: min is white).
        std::array<uint8_t, 1> red;
        if (format_read_at(e, v.paletteOffset, red, uint32_t(length)) < 0) return -1;
        c.photometric = red[0] == 0 ? TAV_PHOTO_BILEVEL_BLACK : TAV_PHOTO_BILEVEL_WHITE;
        v.paletteBytes = 0;
        v.paletteOffset = 0;
    }
    c.area.palette.colorMapSize = v.paletteBytes;
    put_view(c, v);
    sizes->dataBytes = uint32_t(length) - v.dataOffset;
    return 0;
}

uint32_t gif_data_offset(const PageInfo& view) { return view_of(view).dataOffset; }

// The colour table as stored (red, green, blue), or a grey ramp when the
// file has none.
int gif_page_data(FctEntry* e, PageInfo* info) {
    const GifView v = view_of(e->pageInfo);
    std::span<uint8_t> out = format_palette_target(e, info, v.paletteBytes);
    if (out.empty()) return 0;
    if (v.paletteOffset != 0) return format_read_bytes(e, v.paletteOffset, out);
    format_grey_ramp(out);
    return 0;
}

}  // namespace

Probe gif_probe(const FileHead& head) {
    const uint8_t* b = head.bytes.data();
    bool version = (b[4] == '7' || b[4] == '9') && b[5] == 'a';
    return std::memcmp(b, kGifSignature, 4) == 0 && version ? kProbeYes : kProbeNo;
}

const FormatOps kGifFormat = {
    .fileType = FILETYPE_GIF, .traits = 0,
    .detectOrder = 60, .probe = gif_probe, .can_create = format_creatable,
    .open = format_single_page, .page_info = gif_page_info, .page_read = format_read_view_data,
    .data_offset = gif_data_offset,
    .page_data = gif_page_data, .put_info = format_nothing_put,
    .page_write = format_nothing_write,
};
