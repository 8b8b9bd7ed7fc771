// Page data of a TIFF page: its strips, concatenated, or one strip in
// strip-wise reading.
//
// Behaviour:
//  - In strip-wise reading (option 3) a strip number beyond the page's strips
//    is refused with TAV_E_PAGE_RANGE (as a page beyond the page count), and a start at or
//    beyond the end of the named strip with TAV_E_OFFSET.
//  - Robustness: a strip that begins inside the 8-byte TIFF header, or whose
//    bytes cannot all be read (beyond the end of the file), fails with TAV_E_NO_SUBFILE
//    (a strip read returned nothing); nothing is read outside the caller's
//    buffer or the page's strips.
//  - When the page's first strip count is 0, the counts summed to find the
//    strip that holds the start are the estimate plus the strip's index.
#include <cerrno>

#include "fileio/fio.h"
#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/tiff.h"
#include "frame/fct.h"

namespace {

constexpr uint32_t kMaxPartialReads = 26;
constexpr uint32_t kTiffHeaderBytes = 8;

int fail(int code) {
    errno = code;
    return -1;
}

bool list_ok(const StripList* l) {
    return l && l->values && (l->type == kTiffShort || l->type == kTiffLong || l->type == 0);
}

// The strip byte counts of the current page as the reader uses them.
struct Strips {
    FctEntry* e;
    uint32_t n;  // strips of the page

    uint32_t offset(uint32_t i) const { return strip_list_get(tiff_of(e).stripOffsets, i); }

    // The count as held; a page of one strip runs to the end of the file.
    uint32_t stored(uint32_t i) const {
        if (n == 1) {
            uint32_t off = offset(0);
            return e->origSize > off ? e->origSize - off : 0;
        }
        return strip_list_get(tiff_of(e).stripCounts, i);
    }

    // A zero count replaced by the estimate plus the index.
    int64_t estimated(uint32_t i) const {
        int64_t est = strip_size_estimate(e, i, n);
        if (est < 0) return -1;
        uint64_t v = uint64_t(est) + i;
        return int64_t(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : v);
    }

    int64_t read_size(uint32_t i) const {
        uint32_t s = stored(i);
        return s ? int64_t(s) : estimated(i);
    }
};

// Reads want bytes of a strip at the file position pos into dst.
int read_piece(FctEntry* e, uint32_t pos, uint8_t* dst, uint32_t want) {
    if (want == 0) return 0;
    if (pos < kTiffHeaderBytes) return fail(TAV_E_NO_SUBFILE);
    if (uint64_t(pos) + want > 0xFFFFFFFFu) return fail(TAV_E_NO_SUBFILE);
    errno = 0;
    if (fio_seek_to(int(e->fd), pos) < 0) {
        if (errno == 0) errno = TAV_E_NO_SUBFILE;
        return -1;
    }
    uint32_t got = 0;
    for (uint32_t reads = 0; got < want; ++reads) {
        if (reads == kMaxPartialReads) return fail(TAV_EIO);
        int32_t r = fio_read(int(e->fd), dst + got, want - got);
        if (r <= 0) return fail(TAV_E_NO_SUBFILE);
        got += uint32_t(r);
    }
    return 0;
}

uint32_t left_after(const FctEntry* e, uint64_t end) {
    return end >= e->pageDataSize ? 0 : uint32_t(e->pageDataSize - end);
}

}  // namespace

uint32_t tiff_strip_total(const FctEntry* e) {
    const TiffState& ts = tiff_of(e);
    if (!ts.stripOffsets || !ts.stripCounts) return 0;
    uint32_t n = e->pageInfo.stripCount;
    if (n > ts.stripOffsets->count) n = ts.stripOffsets->count;
    if (n > ts.stripCounts->count) n = ts.stripCounts->count;
    if (n == 0 && ts.stripOffsets->count && ts.stripCounts->count) n = 1;
    return n;
}

int64_t strip_size_estimate(const FctEntry* e, uint32_t i, uint32_t n) {
    const PageInfo& pi = e->pageInfo;
    uint64_t rowBytes = uint64_t(pi.imageWidth / 8) * pi.bitsPerSample[0] * pi.samplesPerPixel;
    uint64_t v;
    if (n <= 1) {
        v = rowBytes * pi.imageLength;
    } else {
        uint64_t rps = pi.rowsPerStrip;
        if (rps == 0) return fail(TAV_E_ROWS_PER_STRIP);
        if (i == n - 1) {
            uint64_t before = rps * (n - 1);
            v = pi.imageLength > before ? rowBytes * (pi.imageLength - before) : 0;
        } else {
            v = rowBytes * rps;
        }
    }
    return int64_t(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : v);
}

// The TIFF case of page_read: page is 0-based (a strip in by-strip mode).
int tiff_read_strips(FctEntry* e, uint8_t* out, uint32_t start, uint32_t length,
                     uint32_t* remaining, uint32_t page) {
    if (!tiff_of(e).stripOffsets || !tiff_of(e).stripCounts) return fail(TAV_E_COUNT);
    if (!list_ok(tiff_of(e).stripOffsets) || !list_ok(tiff_of(e).stripCounts)) return fail(TAV_E_FIELD_TYPE);
    Strips st{e, tiff_strip_total(e)};
    if (st.n == 0) return fail(TAV_E_COUNT);

    if (e->optionFlags[kOptStripRead]) {
        if (page >= st.n) return fail(TAV_E_PAGE_RANGE);
        int64_t size = st.read_size(page);
        if (size < 0) return -1;
        if (start >= size) return fail(TAV_E_OFFSET);
        uint32_t avail = uint32_t(size) - start;
        uint32_t want = avail < length ? avail : length;
        if (read_piece(e, st.offset(page) + start, out, want) < 0) return -1;
        *remaining = avail - want;
        return int(want);
    }

    // The strip that holds start, and where in it.
    const bool estimate = st.stored(0) == 0;
    uint64_t sum = 0;
    uint32_t first = st.n;
    uint32_t within = 0;
    for (uint32_t i = 0; i < st.n; ++i) {
        int64_t size = estimate ? st.estimated(i) : int64_t(st.stored(i));
        if (size < 0) return -1;
        if (start < sum + uint64_t(size)) {
            first = i;
            within = uint32_t(start - sum);
            break;
        }
        sum += uint64_t(size);
    }
    if (first == st.n) return fail(TAV_E_OFFSET);

    // The strips from that one on, until the caller's length is full.
    uint32_t delivered = 0;
    for (uint32_t i = first; i < st.n; ++i) {
        int64_t size = st.read_size(i);
        if (size < 0) return -1;
        uint32_t skip = i == first ? within : 0;
        uint32_t avail = uint64_t(size) > skip ? uint32_t(size) - skip : 0;
        *remaining = avail;
        uint32_t room = length - delivered;
        uint32_t want = avail < room ? avail : room;
        if (read_piece(e, st.offset(i) + skip, out + delivered, want) < 0) return -1;
        delivered += want;
        if (delivered == length) {
            *remaining = left_after(e, uint64_t(start) + delivered);
            return int(delivered);
        }
    }
    // The strips ran out first.
    *remaining = left_after(e, uint64_t(start) + delivered);
    if (st.n == 1) return int(delivered);
    return fail(TAV_E_SHORT_STRIPS);
}

