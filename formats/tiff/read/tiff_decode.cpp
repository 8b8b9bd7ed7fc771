// TIFF tag decoding: one sorted directory into the handle's PageInfo copy,
// the strip arrays, the text and colour-table offsets, the annotation areas,
// the ICC profile and the JpegInfo of old-style JPEG pages. Each tag the
// library understands has a handler in one table, found by tag.
//
// Behaviour:
//  - Refusals that would otherwise leave errno unchanged report a code of
//    their own: JPEGProc other than 1, separate JPEG table tags without
//    JPEGInterchangeFormat, no SOS marker (interchange length 0), a JPEG
//    header that cannot be placed or read: TAV_E_COMPRESSION (compression not supported);
//    no strip byte counts when the JPEG header is read: TAV_E_NO_BYTE_COUNTS; TileWidth
//    narrower than the image or after the strip offsets: TAV_E_UNSUPPORTED.
//  - RowsPerStrip 0 with several byte counts is refused with TAV_E_ROWS_PER_STRIP (rows per
//    strip missing when needed), never divided by. With one byte count it
//    leaves one strip.
//  - Several byte counts without RowsPerStrip leave one strip; that strip,
//    like every page that ends with one strip, runs from its offset to the
//    end of the file (the reading rule of page_read), and dataBytes
//    says so, rather than keeping whatever the caller passed.
//  - A text of four bytes or fewer stands in its entry: its bytes are kept
//    in the file's order in the text table (page_internal.h) and delivered
//    from there by xtavgtdata. The directory normalisation swaps
//    such a value as one u32 in "MM" files; it is swapped back here, so the
//    characters come out in the order the file holds them.
//  - BitsPerSample counts above five keep five values (not refused).
//  - The YCbCr tags (529 to 532) fill the YCbCr layout of the photometric
//    area only when the page is YCbCr: for other pages the area holds the
//    caller's buffer pointers, which must survive.
//  - Robustness: every array is read only after its place in the file has
//    been checked against the file's length; a strip table that cannot lie
//    in the file is refused (TAV_E_NO_OFFSETS for offsets,
//    TAV_E_NO_BYTE_COUNTS for byte counts) before anything is allocated; a value read from the file that lies beyond its
//    end is refused with TAV_EIO; a colour table, text, profile or private
//    area that lies beyond the end is left out (size 0), as libtiff ignores
//    such tags. Synthesised byte counts that would be negative are 0.
//  - When the old-style JPEG marker scan moves the first strip back to the
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/read/tiff_decode_internal.h"
#include "formats/tiff/tiff.h"

namespace {

constexpr int kErrTiles = TAV_E_UNSUPPORTED;
constexpr uint32_t kColorSpaceEmbedded = 0x4D424544;  // 'MBED': the page carries a profile
constexpr uint32_t kMaxBitsPerSample = 5;              // values the record keeps

// Reads `count` items of `type` at the directory offset `offset` (base added
// by tiff_read_typed) after checking they lie in the file; EIO otherwise.
int read_values(Decode& d, uint16_t type, uint32_t count, uint32_t offset, void* buf,
                uint32_t bufSize) {
    uint64_t bytes = uint64_t(count) * tiff_type_size(type);
    if (bytes > bufSize || !in_file(d, uint64_t(offset) + d.base, bytes)) return fail(TAV_EIO);
    errno = 0;
    if (tiff_read_typed(d.e, type, count, offset, d.order, buf, bufSize) < 0)
        return fail_read(TAV_EIO);
    return 0;
}

// A table delivered later by xtavgtdata: its size when it lies in the file,
// else 0 (the tag is left out). A table of four bytes or fewer would stand
// in the entry, where xtavgtdata cannot read it: no real colour map, curve
// or profile is that small, so it is left out too.
uint32_t table_size(const Decode& d, const TiffDirEntry& t, uint64_t bytes) {
    if (bytes <= 4 || bytes > 0xFFFFFFFFu) return 0;
    if (!in_file(d, uint64_t(t.value) + d.base, bytes)) return 0;
    return uint32_t(bytes);
}

// Records a table of the page: its size into the photometric area's field
// and its file offset into extraOffsets[slot] (0 when the table is left out).
void set_table(Decode& d, const TiffDirEntry& t, uint32_t itemBytes, uint32_t& sizeField,
               uint32_t slot) {
    uint32_t size = table_size(d, t, uint64_t(t.count) * itemBytes);
    sizeField = size;
    d.e->extraOffsets[slot] = size ? t.value + d.base : 0;
}

// Reads n rationals (2n LONG) at the entry's offset into dst; zero
// denominators become 1. An entry of another type, or of fewer values,
// holds no such rationals and leaves dst as it is: its value field is no
// offset of them (and an edit that copies the page keeps it as it stands).
int read_rationals(Decode& d, const TiffDirEntry& t, uint32_t* dst, uint32_t n) {
    if (t.type != kTiffRational || t.count < n) return 0;
    if (read_values(d, kTiffLong, 2 * n, t.value, dst, 8 * n) < 0) return -1;
    for (uint32_t i = 0; i < n; ++i)
        if (dst[2 * i + 1] == 0) dst[2 * i + 1] = 1;
    return 0;
}

// The bytes of a value that stands in its entry, in the order the file
// holds them: one-byte items are kept so; SHORT halves and wider values
// were brought to host order and go back.
uint32_t entry_bytes(const TiffDirEntry& t, uint16_t order) {
    uint32_t v = t.value;
    if (order != kByteOrderMM || tiff_is_byte_type(t.type)) return v;
    if (t.type == kTiffShort)
        return uint32_t(bswap16(uint16_t(v))) | uint32_t(bswap16(uint16_t(v >> 16))) << 16;
    return bswap32(v);
}

// ---- the handlers: one per tag (or group of tags) ----

// What a handler is given: the entry, its value as the decoder takes it,
// its index in the directory and the argument of its table row.
struct Tag {
    const TiffDirEntry& t;
    uint32_t v;
    uint32_t idx;
    uint32_t arg;
};

using TagHandler = int (*)(Decode& d, const Tag& tag);

int on_subfile_type(Decode& d, const Tag& g) {
    uint32_t s = g.v & ~kSubfilePage;
    if (s == 0) d.info->subfileType = 0;
    else if (s & kSubfileReducedImage) d.info->subfileType = kSubfileReducedImage;
    else if (s & kSubfileMask) d.info->subfileType = kSubfileMask;
    else return fail(TAV_E_UNSUPPORTED);
    return 0;
}

int on_width(Decode& d, const Tag& g) {
    d.info->imageWidth = g.v;
    d.need &= ~kNeedWidth;
    return 0;
}

int on_length(Decode& d, const Tag& g) {
    d.info->imageLength = g.v;
    d.need &= ~kNeedLength;
    return 0;
}

int on_bits_per_sample(Decode& d, const Tag& g) {
    const TiffDirEntry& t = g.t;
    uint32_t* bits = d.info->bitsPerSample;
    if (t.count == 1) {
        bits[0] = g.v;
    } else if (t.count == 2 && t.type == kTiffShort) {
        bits[0] = t.value & 0xFFFF;
        bits[1] = t.value >> 16;
    } else if (t.count >= 2) {
        uint32_t n = std::min(t.count, kMaxBitsPerSample);
        uint16_t type = t.type == kTiffLong ? kTiffLong : kTiffShort;
        uint32_t buf[kMaxBitsPerSample] = {};
        if (read_values(d, type, n, t.value, buf, sizeof buf) < 0) return -1;
        for (uint32_t i = 0; i < n; ++i) {
            if (type == kTiffShort) {
                uint16_t s;
                std::memcpy(&s, reinterpret_cast<uint8_t*>(buf) + 2 * i, 2);
                bits[i] = s;
            } else {
                bits[i] = buf[i];
            }
        }
    }
    return 0;
}

// The library's compression code; the CCITT codes also mark their option
// bits.
int on_compression(Decode& d, const Tag& g) {
    PageInfo* pi = d.info;
    switch (g.v) {
    case kTiffCompNone:
    case kTiffCompCcittT6:
    case kTiffCompLzw:
        pi->compression = g.v;
        break;
    case kTiffCompCcittRle:
        pi->compression = TAV_COMP_CCITT_MH;
        pi->compressionInfo.value |= TAV_CODING_MODIFIED_HUFFMAN;
        break;
    case kTiffCompCcittT4:
        pi->compression = TAV_COMP_CCITT_T4;
        pi->compressionInfo.value |= TAV_CODING_T4;
        break;
    case kTiffCompPackBits:
        pi->compression = TAV_COMP_PACKBITS;
        break;
    case kTiffCompOldJpeg:
    case kTiffCompJpegOther:
        pi->compression = TAV_COMP_JPEG;
        break;
    default:
        return fail(TAV_E_COMPRESSION);
    }
    return 0;
}

int on_photometric(Decode& d, const Tag& g) {
    PageInfo* pi = d.info;
    switch (g.v) {
    case kTiffPhotoWhiteIsZero: pi->photometric = TAV_PHOTO_BILEVEL_WHITE; break;
    case kTiffPhotoBlackIsZero: pi->photometric = TAV_PHOTO_BILEVEL_BLACK; break;
    case kTiffPhotoRgb:
        pi->photometric = TAV_PHOTO_RGB;
        pi->area.rgb.planarConfig = kPlanarContiguous;
        break;
    case kTiffPhotoPalette:
        pi->photometric = TAV_PHOTO_PALETTE;
        pi->area.palette.planarConfig = kPlanarContiguous;
        break;
    case kTiffPhotoYCbCr:
        if (pi->compression != TAV_COMP_JPEG && pi->compression != TAV_COMP_JPEG_INFO)
            return fail(TAV_E_UNSUPPORTED);
        pi->photometric = TAV_PHOTO_YCBCR;
        break;
    default:
        return fail(TAV_E_UNSUPPORTED);
    }
    if (pi->bitsPerSample[0] > 1) {
        if (pi->photometric == TAV_PHOTO_BILEVEL_WHITE) pi->photometric = TAV_PHOTO_GRAY_WHITE;
        else if (pi->photometric == TAV_PHOTO_BILEVEL_BLACK) pi->photometric = TAV_PHOTO_GRAY_BLACK;
    }
    return 0;
}

int on_fill_order(Decode& d, const Tag& g) {
    d.info->fillOrder = g.v;
    return 0;
}

int on_offsets(Decode& d, const Tag& g) { return load_offsets(d, g.t); }
int on_counts(Decode& d, const Tag& g) { return load_counts(d, g.t); }

// Orientation 1 to 8 as rotation (clockwise) and mirroring.
int on_orientation(Decode& d, const Tag& g) {
    struct Turn {
        uint32_t rotation, mirrored;
    };
    static constexpr Turn kTurns[9] = {{0, 0},   {0, 0},   {270, 0}, {180, 0}, {90, 0},
                                       {0, 1},   {270, 1}, {180, 1}, {90, 1}};
    Turn turn = g.v < 9 ? kTurns[g.v] : kTurns[0];
    d.info->reserved = 0;
    d.info->rotation = turn.rotation;
    d.info->mirrored = turn.mirrored;
    return 0;
}

int on_samples(Decode& d, const Tag& g) {
    d.info->samplesPerPixel = g.v;
    return 0;
}

int on_rows_per_strip(Decode& d, const Tag& g) {
    d.info->rowsPerStrip = g.v;
    return 0;
}

int on_resolution(Decode& d, const Tag& g) {
    uint32_t* at = g.t.tag == kTagXResolution ? &d.info->xResNum : &d.info->yResNum;
    return read_rationals(d, g.t, at, 1);
}

int on_planar(Decode& d, const Tag& g) {
    PageInfo* pi = d.info;
    if (pi->photometric == TAV_PHOTO_RGB) pi->area.rgb.planarConfig = g.v;
    else if (pi->photometric == TAV_PHOTO_PALETTE) pi->area.palette.planarConfig = g.v;
    return 0;
}

// The grey response of min-is-white grey pages: its unit, or its curve.
int on_gray_response(Decode& d, const Tag& g) {
    TavGrayArea& gray = d.info->area.gray;
    if (d.info->photometric != TAV_PHOTO_GRAY_WHITE) return 0;
    if (g.t.tag == kTagGrayResponseUnit) gray.grayResponseUnit = uint16_t(g.v);
    else set_table(d, g.t, 2, gray.grayResponseSize, kExtraCurve);
    return 0;
}

// T4Options adds to the CCITT bits; T6Options and Predictor replace them.
int on_coding_options(Decode& d, const Tag& g) {
    if (g.t.tag == kTagT4Options) d.info->compressionInfo.value |= g.v;
    else d.info->compressionInfo.value = g.v;
    return 0;
}

int on_resolution_unit(Decode& d, const Tag& g) {
    bool known = g.v >= kResolutionNone && g.v <= kResolutionCentimetre;
    d.info->resolutionUnit = known ? g.v : kResolutionNone;
    return 0;
}

// The colour map and the transfer function of palette pages.
int on_palette_table(Decode& d, const Tag& g) {
    TavPaletteArea& p = d.info->area.palette;
    if (d.info->photometric != TAV_PHOTO_PALETTE) return 0;
    if (g.t.tag == kTagColorMap) set_table(d, g.t, 2, p.colorMapSize, kExtraColorMap);
    else set_table(d, g.t, 2, p.transferSize, kExtraCurve);
    return 0;
}

// WhitePoint and PrimaryChromaticities of RGB and palette pages.
int on_chromaticity(Decode& d, const Tag& g) {
    PageInfo* pi = d.info;
    if (pi->photometric != TAV_PHOTO_RGB && pi->photometric != TAV_PHOTO_PALETTE) return 0;
    bool rgb = pi->photometric == TAV_PHOTO_RGB;
    if (g.t.tag == kTagWhitePoint)
        set_table(d, g.t, 8, rgb ? pi->area.rgb.whitePointSize : pi->area.palette.whitePointSize,
                  kExtraWhitePoint);
    else
        set_table(d, g.t, 8, rgb ? pi->area.rgb.primariesSize : pi->area.palette.primariesSize,
                  kExtraPrimaries);
    return 0;
}

// Tiles are taken only when one tile spans the width (as strips).
int on_tile_width(Decode& d, const Tag& g) {
    if (d.offsetsSeen || g.v < d.info->imageWidth) return fail(kErrTiles);
    return 0;
}

int on_jpeg_proc(Decode& d, const Tag& g) {
    d.info->compression = TAV_COMP_JPEG_INFO;
    JpegInfo* j = jpeg_get(d);
    if (!j) return -1;
    d.sawProc = true;
    j->interchangeLength = 0;
    j->interchange = g.v;
    if (g.v != kJpegProcBaseline) return fail(kErrJpeg);
    return 0;
}

// The interchange stream: its header is read here unless its length
// follows in the next entry.
int on_jpeg_format(Decode& d, const Tag& g) {
    d.info->compression = TAV_COMP_JPEG_INFO;
    JpegInfo* j = jpeg_get(d);
    if (!j) return -1;
    if (!d.sawProc) j->interchange = kJpegProcBaseline;
    j->interchangeOffset = g.t.value + d.base;
    d.interchangeSeen = true;
    if (marker_scan(d) < 0) return -1;
    bool lengthNext = g.idx + 1 < d.dir->entryCount &&
                      d.dir->entries[g.idx + 1].tag == kTagJpegInterchangeLength;
    if (!lengthNext) return header_read(d, j->interchangeLength);
    return 0;
}

int on_jpeg_length(Decode& d, const Tag& g) {
    if (!d.jpeg || !d.interchangeSeen) return 0;  // no interchange stream to read
    return header_read(d, g.v);
}

int on_restart_interval(Decode& d, const Tag& g) {
    if (d.jpeg) d.jpeg->restartInterval = g.v;
    return 0;
}

// Separate JPEG tables are taken only beside an interchange stream.
int on_jpeg_tables(Decode& d, const Tag&) { return d.interchangeSeen ? 0 : fail(kErrJpeg); }

int on_ycbcr_coefficients(Decode& d, const Tag& g) {
    if (d.info->photometric != TAV_PHOTO_YCBCR) return 0;
    return read_rationals(d, g.t, d.info->area.ycbcr.coefficients, 3);
}

int on_subsampling(Decode& d, const Tag& g) {
    if (d.info->photometric == TAV_PHOTO_YCBCR)
        std::memcpy(d.info->area.ycbcr.subSampling, &g.t.value, 4);
    if (d.jpeg) {
        d.jpeg->jpegOptions = g.t.value;
        d.jpeg->interchangeLength = 0;
    }
    return 0;
}

int on_positioning(Decode& d, const Tag& g) {
    if (d.info->photometric == TAV_PHOTO_YCBCR) d.info->area.ycbcr.positioning = uint16_t(g.v);
    return 0;
}

int on_reference(Decode& d, const Tag& g) {
    if (d.info->photometric != TAV_PHOTO_YCBCR) return 0;
    return read_rationals(d, g.t, d.info->area.ycbcr.referenceBlackWhite, 6);
}

// The annotation areas: length and offset for options 15 to 21.
int on_annotation(Decode& d, const Tag& g) {
    bool first = g.t.tag == kTagAnnotation1;
    (first ? d.ts->aux1Len : d.ts->aux2Len) = g.t.count;
    (first ? d.ts->aux1Off : d.ts->aux2Off) = g.t.value;
    d.info->privateTagFlags |= first ? kAnnotation1Present : kAnnotation2Present;
    return 0;
}

int on_icc_profile(Decode& d, const Tag& g) {
    PageInfo* pi = d.info;
    uint32_t size = table_size(d, g.t, g.t.count);
    pi->profileOffset.ptr = nullptr;
    pi->profileOffset.value = size ? g.t.value + d.base : 0;
    pi->profileSize = size;
    if (size && pi->profileOffset.value) pi->colorSpaceType = kColorSpaceEmbedded;
    return 0;
}

// A text tag (its index in the record's textTags in the row's argument): its
// length, and where xtavgtdata finds it.
int on_text(Decode& d, const Tag& g) {
    const TiffDirEntry& t = g.t;
    const uint32_t k = g.arg;
    TextTagBuf* tags = d.info->textTags;
    uint32_t* slots = d.e->textTagOffsets;
    if (!tags || !slots) return 0;
    slots[kTextInlineMask] &= ~(1u << k);
    slots[k] = 0;
    uint64_t bytes = uint64_t(t.count) * std::max(tiff_type_size(t.type), 1u);
    if (bytes <= 4) {
        // Inside the entry: its bytes in the file's order.
        slots[kTextInlineBase + k] = entry_bytes(t, d.order);
        slots[kTextInlineMask] |= 1u << k;
        tags[k].length = t.count;
        return 0;
    }
    if (!in_file(d, uint64_t(t.value) + d.base, t.count)) {
        tags[k].length = 0;  // beyond the end of the file: left out
        return 0;
    }
    tags[k].length = t.count;
    slots[k] = t.value + d.base;
    return 0;
}

struct TagRule {
    uint16_t tag;
    TagHandler handle;
    uint32_t arg = 0;
};

// Every tag the library understands, in tag order.
constexpr TagRule kTagRules[] = {
    {kTagNewSubfileType, on_subfile_type}, {kTagImageWidth, on_width},
    {kTagImageLength, on_length}, {kTagBitsPerSample, on_bits_per_sample},
    {kTagCompression, on_compression}, {kTagPhotometric, on_photometric},
    {kTagFillOrder, on_fill_order},
    {kTagDocumentName, on_text, TAV_TEXT_DOCUMENT_NAME},
    {kTagImageDescription, on_text, TAV_TEXT_IMAGE_DESCRIPTION},
    {kTagMake, on_text, TAV_TEXT_MAKE}, {kTagModel, on_text, TAV_TEXT_MODEL},
    {kTagStripOffsets, on_offsets}, {kTagOrientation, on_orientation},
    {kTagSamplesPerPixel, on_samples}, {kTagRowsPerStrip, on_rows_per_strip},
    {kTagStripByteCounts, on_counts},
    {kTagXResolution, on_resolution}, {kTagYResolution, on_resolution}, {kTagPlanarConfig, on_planar},
    {kTagPageName, on_text, TAV_TEXT_PAGE_NAME},
    {kTagGrayResponseUnit, on_gray_response}, {kTagGrayResponseCurve, on_gray_response},
    {kTagT4Options, on_coding_options}, {kTagT6Options, on_coding_options},
    {kTagResolutionUnit, on_resolution_unit}, {kTagTransferFunction, on_palette_table},
    {kTagSoftware, on_text, TAV_TEXT_SOFTWARE}, {kTagDateTime, on_text, TAV_TEXT_DATE_TIME},
    {kTagArtist, on_text, TAV_TEXT_ARTIST}, {kTagHostComputer, on_text, TAV_TEXT_HOST_COMPUTER},
    {kTagPredictor, on_coding_options},
    {kTagWhitePoint, on_chromaticity}, {kTagPrimaryChromaticities, on_chromaticity},
    {kTagColorMap, on_palette_table},
    {kTagTileWidth, on_tile_width}, {kTagTileLength, on_rows_per_strip},
    {kTagTileOffsets, on_offsets}, {kTagTileByteCounts, on_counts},
    {kTagJpegProc, on_jpeg_proc}, {kTagJpegInterchangeFormat, on_jpeg_format},
    {kTagJpegInterchangeLength, on_jpeg_length}, {kTagJpegRestartInterval, on_restart_interval},
    {kTagJpegQTables, on_jpeg_tables}, {kTagJpegDCTables, on_jpeg_tables},
    {kTagJpegACTables, on_jpeg_tables},
    {kTagYCbCrCoefficients, on_ycbcr_coefficients}, {kTagYCbCrSubSampling, on_subsampling},
    {kTagYCbCrPositioning, on_positioning}, {kTagReferenceBlackWhite, on_reference},
    {kTagAnnotation2, on_annotation}, {kTagAnnotation1, on_annotation},
    {kTagIccProfile, on_icc_profile},
};

constexpr bool rules_in_order() {
    for (size_t i = 1; i < std::size(kTagRules); ++i)
        if (kTagRules[i - 1].tag >= kTagRules[i].tag) return false;
    return true;
}
static_assert(rules_in_order(), "the tag rules are searched by tag");

int decode_entry(Decode& d, uint32_t idx) {
    const TiffDirEntry& t = d.dir->entries[idx];
    const TagRule* end = std::end(kTagRules);
    const TagRule* rule = std::lower_bound(std::begin(kTagRules), end, t.tag,
                                           [](const TagRule& r, uint16_t tag) { return r.tag < tag; });
    if (rule == end || rule->tag != t.tag) return 0;  // a tag the library does not use
    return rule->handle(d, Tag{t, tiff_entry_value(t), idx, rule->arg});
}

// The record's values before the directory's entries set them.
void set_defaults(Decode& d) {
    PageInfo* pi = d.info;
    pi->infoKind = 4;
    pi->subfileType = 0;
    pi->xResNum = 0;
    pi->xResDen = 1;
    pi->yResNum = 0;
    pi->yResDen = 1;
    pi->resolutionUnit = kResolutionInch;
    pi->rotation = 0;
    pi->bitsPerSample[0] = 1;
    pi->samplesPerPixel = 1;
    pi->byteOrder = d.order;
    pi->fillOrder = kFillMsbFirst;
    pi->compression = TAV_COMP_NONE;
    pi->stripCount = 1;
    pi->rowsPerStrip = 0xFFFFFFFFu;
    pi->photometric = TAV_PHOTO_BILEVEL_WHITE;
    pi->colorSpaceType = 1;
}

// After all entries: byte counts made when the page has none, the required
// tags, the strip count.
int finish_strips(Decode& d, uint32_t entries) {
    TiffState& ts = *d.ts;
    PageInfo* pi = d.info;
    if (d.countsSeen && d.offsetsSeen && ts.stripCounts->count > ts.stripOffsets->count)
        ts.stripCounts->count = ts.stripOffsets->count;
    if (!d.countsSeen && d.offsetsSeen && d.offsetsCount > 0 && ts.stripOffsets) {
        bool fromStrips = false;
        for (uint32_t i = 0; i < entries; ++i)
            if (d.dir->entries[i].tag == kTagStripOffsets) fromStrips = true;
        if (fromStrips && synthesise_counts(d) < 0) return -1;
    }
    if (d.need & kNeedLength) return fail(TAV_E_NO_LENGTH);
    if (d.need & kNeedWidth) return fail(TAV_E_NO_WIDTH);
    if (d.need & kNeedOffsets) return fail(TAV_E_NO_OFFSETS);
    if (d.need & kNeedCounts) return fail(TAV_E_NO_BYTE_COUNTS);
    if (!d.stripsComputed && compute_strips(d) < 0) return -1;

    // Never more strips than offsets and byte counts held; a page of one
    // strip reads to the end of the file.
    uint32_t held = std::min(ts.stripOffsets->count, ts.stripCounts->count);
    if (pi->stripCount > held) {
        pi->stripCount = held;
        if (pi->stripCount >= 2 && sum_strips(d) < 0) return -1;
    }
    if (pi->stripCount <= 1 && single_strip(d) < 0) return -1;
    return 0;
}

int decode(Decode& d) {
    PageInfo* pi = d.info;
    // The JpegInfo handed over for recycling (by page_get_info), if any; the
    // word is cleared so that option bits never land in a pointer.
    d.jpeg = pi->compressionInfo.jpeg;
    d.recycled = d.jpeg;
    pi->compressionInfo.jpeg = nullptr;

    // Per-page state of the previous page. The strip lists are kept for
    // their blocks: what this page loaded is known from offsetsSeen and
    // countsSeen, and nothing reads a list before this page loaded it.
    d.ts->aux1Len = d.ts->aux1Off = d.ts->aux2Len = d.ts->aux2Off = 0;
    d.sizes->dataBytes = 0;
    set_defaults(d);

    uint32_t n = std::min<uint32_t>(d.dir->entryCount, kTiffMaxEntries + 1);
    for (uint32_t i = 0; i < n; ++i)
        if (decode_entry(d, i) < 0) return -1;
    if (finish_strips(d, n) < 0) return -1;
    if (d.jpeg) {
        if (pi->compression == TAV_COMP_JPEG_INFO) pi->compressionInfo.jpeg = d.jpeg;
        else jpeg_info_free(d.jpeg);  // a recycled block the page does not need
        d.jpeg = nullptr;
    }
    return 0;
}

// A refused page: a JpegInfo made for it is freed; a recycled one is
// emptied and kept with the handle's copy, because the caller's record may
// still name it (the next call recycles or frees it).
void release_jpeg(Decode& d) {
    PageInfo* info = d.info;
    info->compressionInfo.jpeg = nullptr;
    if (d.recycled) {
        mem_free_field(d.recycled->header);
        std::memset(d.recycled, 0, sizeof(JpegInfo));
        info->compression = TAV_COMP_JPEG_INFO;
        info->compressionInfo.jpeg = d.recycled;
        if (d.jpeg != d.recycled) jpeg_info_free(d.jpeg);
    } else if (d.jpeg) {
        jpeg_info_free(d.jpeg);
    }
}

}  // namespace

int tiff_decode_dir(FctEntry* e, uint16_t byteOrder, const TiffDir* dir, PageInfo* info,
                    PageSizes* sizes) {
    if (!e || !dir || !info) return fail(TAV_EINVAL);
    PageSizes local{};
    Decode d;
    d.e = e;
    d.ts = &tiff_of(e);
    d.order = byteOrder == kByteOrderMM ? kByteOrderMM : kByteOrderII;
    d.dir = dir;
    d.info = info;
    d.sizes = sizes ? sizes : &local;
    d.base = tiff_base(e);
    d.fileEnd = fio_length(int(e->fd));
    if (d.fileEnd < 0) return -1;
    if (!e->extraOffsets) {
        e->extraOffsets = static_cast<uint32_t*>(mem_calloc(kExtraSlots, 4));
        if (!e->extraOffsets) return fail(TAV_ENOMEM);
    }
    if (decode(d) == 0) return 0;
    int code = errno_or(TAV_EIO);
    release_jpeg(d);
    errno = code;
    return -1;
}
