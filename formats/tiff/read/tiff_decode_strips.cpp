// The decoder's strip rules: the strip count from RowsPerStrip, the sizes
// from the byte counts, the single-strip rule, byte counts made from the
// offsets, and the first strip moved by the JPEG repair.
#include <cerrno>

#include "fileio/fio.h"
#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/read/tiff_decode_internal.h"

namespace {

// The byte counts available for the strips: those held, no more than the
// offsets when those are known.
uint32_t counts_available(const Decode& d) {
    uint32_t n = d.ts->stripCounts ? d.ts->stripCounts->count : 0;
    if (d.offsetsSeen && d.ts->stripOffsets && d.ts->stripOffsets->count < n)
        n = d.ts->stripOffsets->count;
    return n;
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

}  // namespace

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

// The strip count from RowsPerStrip, cut to the byte counts held.
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
    int64_t end = fio_length(int(d.e->fd));
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
