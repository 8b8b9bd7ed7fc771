// TIFF tag decoding: one sorted directory into the handle's
// PageInfo copy, the strip arrays, the text and colour-table offsets, the
// private data areas, the ICC profile and the JpegInfo of old-style JPEG
// pages.
//
// Choices where the TIFF reading rules leave the matter open:
//  - Refusals that would otherwise leave errno unchanged report a code of
//    their own: JPEGProc other than 1, separate JPEG table tags without
//    JPEGInterchangeFormat, no SOS marker (interchange length 0), a JPEG
//    header that cannot be placed or read: 274 (compression not supported);
//    no strip byte counts when the JPEG header is read: 285; TileWidth
//    narrower than the image or after the strip offsets: 294.
//  - RowsPerStrip 0 with several byte counts is refused with 284 (rows per
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
//    in the file is refused (286 for offsets, 285 for byte counts) before
//    anything is allocated; a value read from the file that lies beyond its
//    end is refused with 5 (EIO); a colour table, text, profile or private
//    area that lies beyond the end is left out (size 0), as libtiff ignores
//    such tags. Synthesised byte counts that would be negative are 0.
//  - When the old-style JPEG marker scan moves the first strip back to the
//    SOS marker, dataBytes and maxStripSize follow the strip's new size, so
//    the whole strip can be read.
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/read/page_internal.h"
#include "tiff/tiff.h"

namespace {

int list_prepare(StripList** list, uint16_t type, uint32_t count);  // below
int load_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase, int64_t end);

constexpr int kErrJpeg = TAV_E_COMPRESSION;  // JPEG refusals without a code of their own
constexpr int kErrTiles = TAV_E_UNSUPPORTED;

uint32_t type_size(uint16_t type) {
    switch (type) {
    case kTiffShort: return 2;
    case kTiffLong: return 4;
    case kTiffRational: return 8;
    default: return 1;
    }
}

// Mask bits of the required tags still missing.
constexpr uint32_t kNeedWidth = 1, kNeedLength = 2, kNeedOffsets = 4, kNeedCounts = 8;

struct Decode {
    FctEntry* e;
    TiffState* ts;
    uint16_t order;
    const TiffDir* dir;
    PageInfo* info;
    PageSizes* sizes;
    int64_t fileEnd;
    uint32_t base;
    uint32_t need = kNeedWidth | kNeedLength | kNeedOffsets | kNeedCounts;
    uint32_t offsetsCount = 0;
    uint32_t countsCount = 0;
    bool offsetsSeen = false;
    bool countsSeen = false;
    bool interchangeSeen = false;
    bool stripsComputed = false;
    bool sawProc = false;          // JPEGProc met
    JpegInfo* jpeg = nullptr;      // the page's JpegInfo while decoding
    JpegInfo* recycled = nullptr;  // the block handed over by page_get_info
};

int fail(int code) {
    errno = code;
    return -1;
}

// errno after a failed read, or the given code when the read set none.
int fail_read(int code) {
    if (errno == 0) errno = code;
    return -1;
}

// True when `bytes` bytes at file offset `pos` lie inside the file.
bool in_file(const Decode& d, uint64_t pos, uint64_t bytes) {
    return d.fileEnd >= 0 && pos <= uint64_t(d.fileEnd) && bytes <= uint64_t(d.fileEnd) - pos;
}

// Reads `count` items of `type` at the directory offset `offset` (base added
// by tiff_read_typed) after checking they lie in the file; EIO otherwise.
int read_values(Decode& d, uint16_t type, uint32_t count, uint32_t offset, void* buf,
                uint32_t bufSize) {
    uint64_t bytes = uint64_t(count) * type_size(type);
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
               int slot) {
    uint32_t size = table_size(d, t, uint64_t(t.count) * itemBytes);
    sizeField = size;
    d.e->extraOffsets[slot] = size ? t.value + d.base : 0;
}

JpegInfo* jpeg_get(Decode& d) {
    if (!d.jpeg) {
        d.jpeg = static_cast<JpegInfo*>(mem_calloc(1, sizeof(JpegInfo)));
        if (!d.jpeg) errno = TAV_ENOMEM;
    }
    return d.jpeg;
}

// (A refused JPEG page releases its JpegInfo: tiff_decode_dir does it on
// every failure; a recycled block is emptied and stays with the handle, so
// the caller's PageInfo never points at freed memory.)

// dataBytes and maxStripSize from the first stripCount byte counts.
int sum_strips(Decode& d) {
    StripList* c = d.ts->stripCounts;
    if (!c || (c->type != kTiffShort && c->type != kTiffLong && c->type != 0))
        return fail(TAV_E_FIELD_TYPE);
    uint64_t sum = 0;
    uint32_t maxSize = d.info->maxStripSize;
    for (uint32_t i = 0; i < d.info->stripCount && i < c->count; ++i) {
        uint32_t v = strip_list_get(c, i);
        sum += v;
        if (v > maxSize) maxSize = v;
    }
    d.sizes->dataBytes = sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(sum);
    d.info->maxStripSize = maxSize;
    return 0;
}

// The byte counts available for the strips: those held, no more than the
// offsets when those are known.
uint32_t counts_available(const Decode& d) {
    uint32_t n = d.ts->stripCounts ? d.ts->stripCounts->count : 0;
    if (d.offsetsSeen && d.ts->stripOffsets && d.ts->stripOffsets->count < n)
        n = d.ts->stripOffsets->count;
    return n;
}

// Strip computation.
int compute_strips(Decode& d) {
    d.stripsComputed = true;
    uint32_t n = counts_available(d);
    uint32_t rps = d.info->rowsPerStrip;
    if (rps != 0xFFFFFFFFu) {
        if (rps == 0) {
            if (n >= 2) return fail(TAV_E_ROWS_PER_STRIP);
        } else {
            uint64_t s = (uint64_t(d.info->imageLength) + rps - 1) / rps;
            d.info->stripCount = uint32_t(s > 0xFFFFFFFFu ? 0xFFFFFFFFu : s);
        }
    }
    if (d.info->stripCount < 2) return 0;
    if (d.info->stripCount > n) d.info->stripCount = n;  // cut, no error reported
    if (d.info->stripCount < 2) return 0;
    return sum_strips(d);
}

// The single-strip rule: the strip runs from its offset to the end of the
// file (origSize), whatever its byte count says.
int single_strip(Decode& d) {
    uint32_t off = strip_list_get(d.ts->stripOffsets, 0);
    uint32_t v = d.e->origSize > off ? d.e->origSize - off : 0;
    if (strip_list_set(d.ts->stripCounts, 0, v) < 0) return -1;
    d.info->maxStripSize = v;
    d.info->stripCount = 1;
    d.sizes->dataBytes = v;
    d.stripsComputed = true;
    return 0;
}

// After the first strip was moved by the JPEG repair: the page's sizes
// follow it.
int resize_after_move(Decode& d) {
    if (!d.stripsComputed) return 0;
    if (d.info->stripCount < 2) {
        uint32_t v = strip_list_get(d.ts->stripCounts, 0);
        d.info->maxStripSize = v;
        d.sizes->dataBytes = v;
        return 0;
    }
    d.info->maxStripSize = 0;
    return sum_strips(d);
}

// Moves the first strip to begin at s, keeping its end.
int move_first_strip(Decode& d, uint32_t s) {
    StripList* o = d.ts->stripOffsets;
    if (!o || o->count == 0) return 0;
    uint32_t old = strip_list_get(o, 0);
    if (old == s) return 0;
    StripList* c = d.countsSeen ? d.ts->stripCounts : nullptr;
    if (c && c->count > 0) {
        uint64_t end = uint64_t(old) + strip_list_get(c, 0);
        uint32_t v = end > s ? uint32_t(end - s) : 0;
        if (strip_list_set(c, 0, v) < 0) return -1;
    }
    if (strip_list_set(o, 0, s) < 0) return -1;
    return resize_after_move(d);
}

// Reads two bytes at pos for the marker scan; false when they cannot be read.
bool read2(Decode& d, uint32_t pos, uint8_t* b) {
    return page_read_exact(d.e, pos, b, 2, d.fileEnd, TAV_EIO) == 0;
}

// Marker scan for tag 513. 0, or -1 (page refused).
int marker_scan(Decode& d) {
    JpegInfo* j = d.jpeg;
    const uint32_t start = j->interchangeOffset;
    uint32_t pos = start;
    for (;;) {
        uint8_t b[2];
        if (!read2(d, pos, b)) b[0] = 0;
        errno = 0;
        if (uint64_t(pos) + 2 > 0xFFFFFFFFu) b[0] = 0;
        pos += 2;
        if (b[0] != 0xFF || b[1] == 0x00 || b[1] == 0xFF) {
            j->interchangeLength = pos - 2 - start;
            if (j->interchangeLength == 0) return fail(kErrJpeg);
            return 0;
        }
        if (b[1] == 0x01 || (b[1] >= 0xD0 && b[1] <= 0xD9)) continue;
        if (b[1] == 0xDA) {
            j->interchangeLength = pos - 2 - start;
            uint32_t s = pos - 2;
            if (d.offsetsSeen && strip_list_get(d.ts->stripOffsets, 0) != s)
                if (move_first_strip(d, s) < 0) return -1;
            return 0;
        }
        uint8_t lb[2];
        bool ok = read2(d, pos, lb);
        uint32_t len = ok ? uint32_t(lb[0]) << 8 | lb[1] : 0;
        uint8_t last;
        // A segment length below 2 cannot hold itself: the scan would stand
        // still, so it ends there.
        if (!ok || len < 2 || uint64_t(pos) + len > uint64_t(d.fileEnd) ||
            page_read_exact(d.e, pos + len - 1, &last, 1, d.fileEnd, TAV_EIO) < 0) {
            errno = 0;
            j->interchangeLength = pos - 2 - start;
            if (j->interchangeLength == 0) return fail(kErrJpeg);
            return 0;
        }
        pos += len;
    }
}

// Header read with length n (after tag 513 without 514, or at tag 514).
int header_read(Decode& d, uint32_t n) {
    JpegInfo* j = d.jpeg;
    if (j->interchangeLength != 0 && j->interchangeLength < n) n = j->interchangeLength;
    if (!d.countsSeen) {
        return fail(TAV_E_NO_BYTE_COUNTS);
    }
    j->interchangeLength = n;
    uint32_t h = n;
    const uint32_t io = j->interchangeOffset;
    StripList* o = d.offsetsSeen ? d.ts->stripOffsets : nullptr;
    uint32_t inside = o ? (d.countsCount < o->count ? d.countsCount : o->count) : 0;
    bool stripInside = false;
    for (uint32_t i = 0; i < inside; ++i) {
        uint32_t s = strip_list_get(o, i);
        if (s > io && uint64_t(s) < uint64_t(io) + n) {
            stripInside = true;
            break;
        }
    }
    if (stripInside) {
        uint32_t dataBytes = d.sizes->dataBytes;
        if (d.countsCount == 1) {
            if (n <= dataBytes) {
                return fail(kErrJpeg);
            }
            uint32_t m = n - dataBytes;
            if (!in_file(d, io, m)) {
                return fail(kErrJpeg);
            }
            MemBlock<uint8_t> buf(m, 1);
            if (!buf) {
                return fail(TAV_ENOMEM);
            }
            if (page_read_exact(d.e, io, buf.get(), m, d.fileEnd, TAV_EIO) < 0) {
                return -1;
            }
            uint32_t p = m;
            for (uint32_t i = 0; i + 1 < m; ++i)
                if (buf[i] == 0xFF && buf[i + 1] == 0xDA) {
                    p = i;
                    break;
                }
            if (p == m) {
                return fail(kErrJpeg);
            }
            uint32_t old = strip_list_get(o, 0);
            uint32_t s = io + p;
            if (s > old) {  // a move forward refuses the page
                return fail(kErrJpeg);
            }
            uint64_t grown = uint64_t(strip_list_get(d.ts->stripCounts, 0)) + (old - s);
            uint32_t v = grown > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(grown);
            if (strip_list_set(d.ts->stripCounts, 0, v) < 0 || strip_list_set(o, 0, s) < 0) {
                return -1;
            }
            d.info->maxStripSize = v;
            j->interchangeLength = p;
            h = p;
            d.sizes->dataBytes = v;
        } else {
            if (n <= dataBytes) {
                return fail(kErrJpeg);
            }
            h = n - dataBytes;
        }
    }
    if (h == 0 || !in_file(d, io, h)) {
        return fail(kErrJpeg);
    }
    mem_free_field(j->header);  // a second header read replaces the first
    j->headerLength = h;
    j->header = static_cast<uint8_t*>(mem_calloc(h, 1));
    if (!j->header) {
        return fail(TAV_ENOMEM);
    }
    if (page_read_exact(d.e, io, j->header, h, d.fileEnd, kErrJpeg) < 0) return -1;
    return 0;
}

int text_index(uint16_t tag) {
    switch (tag) {
    case 269: return 0;
    case 270: return 1;
    case 271: return 2;
    case 272: return 3;
    case 285: return 4;
    case 306: return 5;
    case 315: return 6;
    case 316: return 7;
    case 305: return 8;
    default: return -1;
    }
}

void text_tag(Decode& d, int k, const TiffDirEntry& t) {
    TextTagBuf* tags = d.info->textTags;
    uint32_t* slots = d.e->textTagOffsets;
    if (!tags || !slots) return;
    uint32_t count = t.count;
    slots[kTextInlineMask] &= ~(1u << k);
    slots[k] = 0;
    if (uint64_t(count) * type_size(t.type) <= 4) {
        // Inside the entry: the bytes in the file's order, undoing the
        // directory normalisation of "MM" files.
        uint32_t v = t.value;
        if (d.order == kByteOrderMM) {
            if (t.type == kTiffShort)
                v = uint32_t(bswap16(uint16_t(v))) | uint32_t(bswap16(uint16_t(v >> 16))) << 16;
            else
                v = bswap32(v);
        }
        slots[kTextInlineBase + k] = v;
        slots[kTextInlineMask] |= 1u << k;
        tags[k].length = count;
        return;
    }
    if (!in_file(d, uint64_t(t.value) + d.base, count)) {
        tags[k].length = 0;  // beyond the end of the file: left out
        return;
    }
    tags[k].length = count;
    slots[k] = t.value + d.base;
}

// Reads n rationals (2n LONG) at the entry's offset into dst; zero
// denominators become 1.
int read_rationals(Decode& d, const TiffDirEntry& t, uint32_t* dst, uint32_t n) {
    if (read_values(d, kTiffLong, 2 * n, t.value, dst, 8 * n) < 0) return -1;
    for (uint32_t i = 0; i < n; ++i)
        if (dst[2 * i + 1] == 0) dst[2 * i + 1] = 1;
    return 0;
}

int load_offsets(Decode& d, const TiffDirEntry& t) {
    if (load_list(d.e, t, &d.ts->stripOffsets, 1, d.fileEnd) < 0) return -1;
    d.need &= ~kNeedOffsets;
    d.offsetsSeen = true;
    d.offsetsCount = t.count;
    if (d.countsSeen && d.countsCount == 1 && d.offsetsCount == 1) {
        uint32_t off = strip_list_get(d.ts->stripOffsets, 0);
        uint64_t end = uint64_t(off) + strip_list_get(d.ts->stripCounts, 0);
        if (end > d.e->origSize) {
            uint32_t v = d.e->origSize > off ? d.e->origSize - off : 0;
            if (strip_list_set(d.ts->stripCounts, 0, v) < 0) return -1;
        }
    }
    return 0;
}

int load_counts(Decode& d, const TiffDirEntry& t) {
    if (load_list(d.e, t, &d.ts->stripCounts, 0, d.fileEnd) < 0) return -1;
    if (strip_list_copy_into(&d.ts->storedCounts, d.ts->stripCounts) < 0) return -1;
    d.need &= ~kNeedCounts;
    d.countsSeen = true;
    d.countsCount = t.count;
    if (t.count != 1) return compute_strips(d);
    if (d.offsetsCount == 1) return single_strip(d);
    return 0;
}

// Byte counts made from the offsets when the page has none (after all
// entries are decoded).
int synthesise_counts(Decode& d) {
    StripList* o = d.ts->stripOffsets;
    uint32_t n = o->count;
    int64_t end = page_file_end(d.e);
    if (end < 0) return -1;
    if (list_prepare(&d.ts->stripCounts, o->type, n) < 0) return -1;
    StripList* c = d.ts->stripCounts;
    // The file stores no byte counts: option 23 answers with these.
    strip_list_free(d.ts->storedCounts);
    uint64_t e64 = uint64_t(end);
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t off = strip_list_get(o, i);
        uint64_t next = i + 1 < n ? strip_list_get(o, i + 1) : e64;
        uint64_t v = next > off ? next - off : 0;
        if (strip_list_set(c, i, uint32_t(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : v)) < 0) return -1;
    }
    if (n < 2) {
        d.info->maxStripSize = strip_list_get(c, 0);
        d.sizes->dataBytes = d.info->maxStripSize;
    }
    d.need &= ~kNeedCounts;
    d.countsCount = n;
    return 0;
}

int decode_entry(Decode& d, uint32_t idx) {
    const TiffDirEntry& t = d.dir->entries[idx];
    PageInfo* pi = d.info;
    const uint32_t v = tiff_entry_value(t);
    switch (t.tag) {
    case 254: {
        uint32_t s = v & ~2u;
        if (s == 0) pi->subfileType = 0;
        else if (s & 1) pi->subfileType = 1;
        else if (s & 4) pi->subfileType = 4;
        else return fail(TAV_E_UNSUPPORTED);
        return 0;
    }
    case 256:
        pi->imageWidth = v;
        d.need &= ~kNeedWidth;
        return 0;
    case 257:
        pi->imageLength = v;
        d.need &= ~kNeedLength;
        return 0;
    case 258:
        if (t.count == 1) {
            pi->bitsPerSample[0] = v;
        } else if (t.count == 2 && t.type == kTiffShort) {
            pi->bitsPerSample[0] = t.value & 0xFFFF;
            pi->bitsPerSample[1] = t.value >> 16;
        } else if (t.count >= 2) {
            uint32_t n = t.count < 5 ? t.count : 5;
            uint16_t type = t.type == kTiffLong ? kTiffLong : kTiffShort;
            uint32_t buf[5] = {};
            if (read_values(d, type, n, t.value, buf, sizeof buf) < 0) return -1;
            for (uint32_t i = 0; i < n; ++i) {
                if (type == kTiffShort) {
                    uint16_t s;
                    std::memcpy(&s, reinterpret_cast<uint8_t*>(buf) + 2 * i, 2);
                    pi->bitsPerSample[i] = s;
                } else {
                    pi->bitsPerSample[i] = buf[i];
                }
            }
        }
        return 0;
    case 259:
        switch (v) {
        case 1:
        case 4:
        case 5: pi->compression = v; break;
        case 2:
            pi->compression = 2;
            pi->compressionInfo.value |= 4;
            break;
        case 3:
            pi->compression = 3;
            pi->compressionInfo.value |= 8;
            break;
        case 32773: pi->compression = 6; break;
        case 6:
        case 32864: pi->compression = 7; break;
        default: return fail(TAV_E_COMPRESSION);
        }
        return 0;
    case 262:
        switch (v) {
        case 0: pi->photometric = TAV_PHOTO_BILEVEL_WHITE; break;
        case 1: pi->photometric = TAV_PHOTO_BILEVEL_BLACK; break;
        case 2:
            pi->photometric = TAV_PHOTO_RGB;
            pi->area.rgb.planarConfig = 1;
            break;
        case 3:
            pi->photometric = TAV_PHOTO_PALETTE;
            pi->area.palette.planarConfig = 1;
            break;
        case 6:
            if (pi->compression != 7 && pi->compression != 12) return fail(TAV_E_UNSUPPORTED);
            pi->photometric = TAV_PHOTO_YCBCR;
            break;
        default: return fail(TAV_E_UNSUPPORTED);
        }
        if (pi->bitsPerSample[0] > 1) {
            if (pi->photometric == TAV_PHOTO_BILEVEL_WHITE) pi->photometric = TAV_PHOTO_GRAY_WHITE;
            else if (pi->photometric == TAV_PHOTO_BILEVEL_BLACK)
                pi->photometric = TAV_PHOTO_GRAY_BLACK;
        }
        return 0;
    case 266: pi->fillOrder = v; return 0;
    case 273:
    case 324: return load_offsets(d, t);
    case 274:
        pi->reserved = 0;
        switch (v) {
        case 2: pi->rotation = 270; pi->mirrored = 0; break;
        case 3: pi->rotation = 180; pi->mirrored = 0; break;
        case 4: pi->rotation = 90; pi->mirrored = 0; break;
        case 5: pi->rotation = 0; pi->mirrored = 1; break;
        case 6: pi->rotation = 270; pi->mirrored = 1; break;
        case 7: pi->rotation = 180; pi->mirrored = 1; break;
        case 8: pi->rotation = 90; pi->mirrored = 1; break;
        default: pi->rotation = 0; pi->mirrored = 0; break;
        }
        return 0;
    case 277: pi->samplesPerPixel = v; return 0;
    case 278:
    case 323: pi->rowsPerStrip = v; return 0;
    case 279:
    case 325: return load_counts(d, t);
    case 282: return read_rationals(d, t, &pi->xResNum, 1);
    case 283: return read_rationals(d, t, &pi->yResNum, 1);
    case 284:
        if (pi->photometric == TAV_PHOTO_RGB) pi->area.rgb.planarConfig = v;
        else if (pi->photometric == TAV_PHOTO_PALETTE) pi->area.palette.planarConfig = v;
        return 0;
    case 290:
        if (pi->photometric == TAV_PHOTO_GRAY_WHITE) pi->area.gray.grayResponseUnit = uint16_t(v);
        return 0;
    case 291:
        if (pi->photometric == TAV_PHOTO_GRAY_WHITE)
            set_table(d, t, 2, pi->area.gray.grayResponseSize, 0);
        return 0;
    case 292: pi->compressionInfo.value |= v; return 0;
    case 293:
    case 317: pi->compressionInfo.value = v; return 0;
    case 296: pi->resolutionUnit = (v >= 1 && v <= 3) ? v : 1; return 0;
    case 301:
        if (pi->photometric == TAV_PHOTO_PALETTE) set_table(d, t, 2, pi->area.palette.transferSize, 0);
        return 0;
    case 318:
    case 319: {
        if (pi->photometric != TAV_PHOTO_RGB && pi->photometric != TAV_PHOTO_PALETTE) return 0;
        bool rgb = pi->photometric == TAV_PHOTO_RGB;
        if (t.tag == 318)
            set_table(d, t, 8, rgb ? pi->area.rgb.whitePointSize : pi->area.palette.whitePointSize, 2);
        else
            set_table(d, t, 8, rgb ? pi->area.rgb.primariesSize : pi->area.palette.primariesSize, 3);
        return 0;
    }
    case 320:
        if (pi->photometric == TAV_PHOTO_PALETTE) set_table(d, t, 2, pi->area.palette.colorMapSize, 1);
        return 0;
    case 322:
        if (d.offsetsSeen || v < pi->imageWidth) return fail(kErrTiles);
        return 0;
    case 512: {
        pi->compression = TAV_COMP_JPEG_INFO;
        JpegInfo* j = jpeg_get(d);
        if (!j) return -1;
        d.sawProc = true;
        j->interchangeLength = 0;
        j->interchange = v;
        if (v != 1) {
            return fail(kErrJpeg);
        }
        return 0;
    }
    case 513: {
        pi->compression = TAV_COMP_JPEG_INFO;
        JpegInfo* j = jpeg_get(d);
        if (!j) return -1;
        if (!d.sawProc) j->interchange = 1;
        j->interchangeOffset = t.value + d.base;
        d.interchangeSeen = true;
        if (marker_scan(d) < 0) return -1;
        bool next514 = idx + 1 < d.dir->entryCount && d.dir->entries[idx + 1].tag == 514;
        if (!next514) return header_read(d, j->interchangeLength);
        return 0;
    }
    case 514:
        if (!d.jpeg || !d.interchangeSeen) return 0;  // no interchange stream to read
        return header_read(d, v);
    case 515:
        if (d.jpeg) d.jpeg->restartInterval = v;
        return 0;
    case 519:
    case 520:
    case 521:
        if (d.interchangeSeen) return 0;
        return fail(kErrJpeg);
    case 529:
        if (pi->photometric != TAV_PHOTO_YCBCR) return 0;
        return read_rationals(d, t, pi->area.ycbcr.coefficients, 3);
    case 530:
        if (pi->photometric == TAV_PHOTO_YCBCR)
            std::memcpy(pi->area.ycbcr.subSampling, &t.value, 4);
        if (d.jpeg) {
            d.jpeg->jpegOptions = t.value;
            d.jpeg->interchangeLength = 0;
        }
        return 0;
    case 531:
        if (pi->photometric == TAV_PHOTO_YCBCR) pi->area.ycbcr.positioning = uint16_t(v);
        return 0;
    case 532:
        if (pi->photometric != TAV_PHOTO_YCBCR) return 0;
        return read_rationals(d, t, pi->area.ycbcr.referenceBlackWhite, 6);
    case 32931:
        d.ts->aux2Len = t.count;
        d.ts->aux2Off = t.value;
        pi->privateTagFlags |= 2;
        return 0;
    case 32932:
        d.ts->aux1Len = t.count;
        d.ts->aux1Off = t.value;
        pi->privateTagFlags |= 1;
        return 0;
    case 34675: {
        uint32_t size = table_size(d, t, t.count);
        pi->profileOffset.ptr = nullptr;
        pi->profileOffset.value = size ? t.value + d.base : 0;
        pi->profileSize = size;
        if (size && pi->profileOffset.value) pi->colorSpaceType = 0x4D424544;
        return 0;
    }
    default: {
        int k = text_index(t.tag);
        if (k >= 0) text_tag(d, k, t);
        return 0;
    }
    }
}

int decode(Decode& d) {
    PageInfo* pi = d.info;
    FctEntry* e = d.e;

    // The JpegInfo handed over for recycling (by page_get_info), if any; the
    // word is cleared so that option bits never land in a pointer.
    d.jpeg = pi->compressionInfo.jpeg;
    d.recycled = d.jpeg;
    pi->compressionInfo.jpeg = nullptr;

    // Per-page state of the previous page. The strip lists are kept for
    // their blocks: what this page loaded is known from offsetsSeen and
    // countsSeen, and nothing reads a list before this page loaded it.
    tiff_of(e).aux1Len = tiff_of(e).aux1Off = tiff_of(e).aux2Len = tiff_of(e).aux2Off = 0;
    d.sizes->dataBytes = 0;

    // Defaults.
    pi->infoKind = 4;
    pi->subfileType = 0;
    pi->xResNum = 0;
    pi->xResDen = 1;
    pi->yResNum = 0;
    pi->yResDen = 1;
    pi->resolutionUnit = 2;
    pi->rotation = 0;
    pi->bitsPerSample[0] = 1;
    pi->samplesPerPixel = 1;
    pi->byteOrder = d.order;
    pi->fillOrder = 1;
    pi->compression = 1;
    pi->stripCount = 1;
    pi->rowsPerStrip = 0xFFFFFFFFu;
    pi->photometric = TAV_PHOTO_BILEVEL_WHITE;
    pi->colorSpaceType = 1;

    uint32_t n = d.dir->entryCount;
    if (n > 55) n = 55;
    for (uint32_t i = 0; i < n; ++i)
        if (decode_entry(d, i) < 0) return -1;

    // After all entries.
    if (d.countsSeen && d.offsetsSeen && tiff_of(e).stripCounts->count > tiff_of(e).stripOffsets->count)
        tiff_of(e).stripCounts->count = tiff_of(e).stripOffsets->count;
    if (!d.countsSeen && d.offsetsSeen && d.offsetsCount > 0 && tiff_of(e).stripOffsets) {
        bool fromTag273 = false;
        for (uint32_t i = 0; i < n; ++i)
            if (d.dir->entries[i].tag == 273) fromTag273 = true;
        if (fromTag273 && synthesise_counts(d) < 0) return -1;
    }
    if (d.need & kNeedLength) return fail(TAV_E_NO_LENGTH);
    if (d.need & kNeedWidth) return fail(TAV_E_NO_WIDTH);
    if (d.need & kNeedOffsets) return fail(TAV_E_NO_OFFSETS);
    if (d.need & kNeedCounts) return fail(TAV_E_NO_BYTE_COUNTS);
    if (!d.stripsComputed && compute_strips(d) < 0) return -1;

    // Never more strips than offsets and byte counts held; a page of one
    // strip reads to the end of the file.
    uint32_t held = tiff_of(e).stripOffsets->count < tiff_of(e).stripCounts->count ? tiff_of(e).stripOffsets->count
                                                                     : tiff_of(e).stripCounts->count;
    if (pi->stripCount > held) {
        pi->stripCount = held;
        if (pi->stripCount >= 2 && sum_strips(d) < 0) return -1;
    }
    if (pi->stripCount <= 1 && single_strip(d) < 0) return -1;
    if (d.jpeg) {
        if (pi->compression == TAV_COMP_JPEG_INFO) pi->compressionInfo.jpeg = d.jpeg;
        else jpeg_info_free(d.jpeg);  // a recycled block the page does not need
        d.jpeg = nullptr;
    }
    return 0;
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
    d.fileEnd = page_file_end(e);
    if (d.fileEnd < 0) return -1;
    if (!e->extraOffsets) {
        e->extraOffsets = static_cast<uint32_t*>(mem_calloc(kExtraSlots, 4));
        if (!e->extraOffsets) return fail(TAV_ENOMEM);
    }
    int r = decode(d);
    if (r < 0) {
        int code = errno ? errno : TAV_EIO;
        info->compressionInfo.jpeg = nullptr;
        if (d.recycled) {
            // Emptied, and kept with the handle's copy: the caller's record
            // may still name it, and the next call recycles or frees it.
            mem_free_field(d.recycled->header);
            std::memset(d.recycled, 0, sizeof(JpegInfo));
            info->compression = TAV_COMP_JPEG_INFO;
            info->compressionInfo.jpeg = d.recycled;
            if (d.jpeg != d.recycled) jpeg_info_free(d.jpeg);
        } else if (d.jpeg) {
            jpeg_info_free(d.jpeg);
        }
        errno = code;
    }
    return r;
}

// ---- strip lists ----

namespace {

uint32_t list_width(uint16_t type) { return type == kTiffShort ? 2 : 4; }

// Makes *list a list of `count` elements of `type`, reusing the record and
// its array when it has one (consecutive pages usually have as many strips
// as the page before, and every memory-table operation takes a lock).
int list_prepare(StripList** list, uint16_t type, uint32_t count) {
    const uint32_t width = list_width(type);
    StripList* l = *list;
    if (l && l->values && list_width(l->type) == width && l->count == count) {
        l->type = type;
        return 0;
    }
    if (l && l->values) {
        void* grown = mem_realloc(l->values, count * width);
        if (grown) {
            l->values = grown;
            l->type = type;
            l->count = count;
            return 0;
        }
    }
    strip_list_free(*list);
    l = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    if (!l) return fail(TAV_ENOMEM);
    l->values = mem_calloc(count, width);
    if (!l->values) {
        mem_free(l);
        return fail(TAV_ENOMEM);
    }
    l->type = type;
    l->count = count;
    *list = l;
    return 0;
}

}  // namespace

int tiff_load_strip_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase) {
    bool inEntry = d.count == 1 || (d.type == kTiffShort && d.count == 2);
    int64_t end = 0;
    if (!inEntry && (end = page_file_end(e)) < 0) return -1;
    return load_list(e, d, list, rebase, end);
}

namespace {

// tiff_load_strip_list with the file's end already known.
int load_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase, int64_t end) {
    const bool isOffsets = d.tag == 273 || d.tag == 324;
    if (d.type != kTiffShort && d.type != kTiffLong) return fail(TAV_EINVAL);
    if (d.count == 0) return fail(isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
    const uint32_t width = list_width(d.type);
    const bool inEntry = d.count == 1 || (d.type == kTiffShort && d.count == 2);
    const uint32_t base = tiff_base(e);
    if (!inEntry) {
        // A table that cannot lie in the file is never allocated.
        uint64_t bytes = uint64_t(d.count) * width;
        uint64_t at = uint64_t(d.value) + base;
        if (at > uint64_t(end) || bytes > uint64_t(end) - at)
            return fail(isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
    }
    if (list_prepare(list, d.type, d.count) < 0) return -1;
    StripList* l = *list;
    if (inEntry) {
        if (d.count == 1) {
            if (width == 2) static_cast<uint16_t*>(l->values)[0] = uint16_t(d.value);
            else static_cast<uint32_t*>(l->values)[0] = d.value;
        } else {
            static_cast<uint16_t*>(l->values)[0] = uint16_t(d.value & 0xFFFF);
            static_cast<uint16_t*>(l->values)[1] = uint16_t(d.value >> 16);
        }
    } else {
        errno = 0;
        if (tiff_read_typed(e, d.type, d.count, d.value, tiff_read_order(e), l->values,
                            d.count * width) < 0) {
            int code = errno ? errno : (isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
            strip_list_free(*list);
            return fail(code);
        }
    }
    if (rebase && base) {
        for (uint32_t i = 0; i < l->count; ++i) {
            if (width == 2) static_cast<uint16_t*>(l->values)[i] += uint16_t(base);
            else static_cast<uint32_t*>(l->values)[i] += base;
        }
    }
    return 0;
}

}  // namespace

uint32_t strip_list_get(const StripList* list, uint32_t i) {
    if (!list || !list->values || i >= list->count) return 0;
    if (list->type == kTiffShort) return static_cast<const uint16_t*>(list->values)[i];
    return static_cast<const uint32_t*>(list->values)[i];
}

void strip_list_free(StripList*& list) {
    if (!list) return;
    if (list->values) mem_free(list->values);
    mem_free(list);
    list = nullptr;
}

int strip_list_set(StripList* list, uint32_t i, uint32_t v) {
    if (!list || !list->values || i >= list->count) return 0;
    if (list->type == kTiffShort) {
        if (v <= 0xFFFF) {
            static_cast<uint16_t*>(list->values)[i] = uint16_t(v);
            return 0;
        }
        uint32_t* wide = static_cast<uint32_t*>(mem_calloc(list->count, 4));
        if (!wide) return fail(TAV_ENOMEM);
        for (uint32_t k = 0; k < list->count; ++k)
            wide[k] = static_cast<uint16_t*>(list->values)[k];
        mem_free(list->values);
        list->values = wide;
        list->type = kTiffLong;
    }
    static_cast<uint32_t*>(list->values)[i] = v;
    return 0;
}

int strip_list_copy_into(StripList** dst, const StripList* src) {
    if (!src || !src->count) {
        strip_list_free(*dst);
        return 0;
    }
    if (list_prepare(dst, src->type, src->count) < 0) return -1;
    if (src->values)
        std::memcpy((*dst)->values, src->values, size_t(src->count) * list_width(src->type));
    return 0;
}


int64_t page_file_end(FctEntry* e) {
    errno = 0;
    int32_t end = fio_lseek(int(e->fd), 0, 2);
    if (end < 0) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    return end;
}

int page_read_exact(FctEntry* e, uint32_t pos, void* buf, uint32_t n, int64_t fileEnd, int code) {
    if (n == 0) return 0;
    if (fileEnd < 0 || uint64_t(pos) > uint64_t(fileEnd) || n > uint64_t(fileEnd) - pos)
        return fail(code);
    errno = 0;
    if (fio_seek_to(int(e->fd), pos) < 0) return fail_read(code);
    uint8_t* p = static_cast<uint8_t*>(buf);
    uint32_t got = 0;
    while (got < n) {
        int32_t r = fio_read(int(e->fd), p + got, n - got);
        if (r <= 0) return fail_read(code);
        got += uint32_t(r);
    }
    return 0;
}
