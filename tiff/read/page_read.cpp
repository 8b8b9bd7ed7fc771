// Page data reading: xtavread for raw files, types 4 and 5 and
// TIFF; the other formats' readers come with their own work and fail with
// 293 until then.
//
// Choices where the reading rules leave the matter open:
//  - In by-strip mode (option 3) a strip number beyond the page's strips is
//    refused with 298 (as a page beyond the page count), and a start at or
//    beyond the end of the named strip with 292.
//  - "Write-only" means the access bits of the open flags are 1 (flags 9).
//  - A null buffer is refused with 22; a null remaining cell is allowed.
//  - Robustness: a strip that begins inside the 8-byte TIFF header, or whose
//    bytes cannot all be read (beyond the end of the file), fails with 268
//    (a strip read returned nothing); nothing is read outside the caller's
//    buffer or the page's strips.
//  - The strip counts that step 2 sums when the first count is 0 are the
//    estimate plus the strip's index.
#include <cerrno>

#include "fileio/fio.h"
#include "frame/fct.h"
#include "frame/ops.h"
#include "tiff/read/page_internal.h"
#include "tiff/tiff.h"

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

    uint32_t offset(uint32_t i) const { return strip_list_get(e->stripOffsets, i); }

    // The count as held; a page of one strip runs to the end of the file.
    uint32_t stored(uint32_t i) const {
        if (n == 1) {
            uint32_t off = offset(0);
            return e->origSize > off ? e->origSize - off : 0;
        }
        return strip_list_get(e->stripCounts, i);
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
    if (!e->stripOffsets || !e->stripCounts) return 0;
    uint32_t n = e->pageInfo.stripCount;
    if (n > e->stripOffsets->count) n = e->stripOffsets->count;
    if (n > e->stripCounts->count) n = e->stripCounts->count;
    if (n == 0 && e->stripOffsets->count && e->stripCounts->count) n = 1;
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
int tiff_read_strips(FctEntry* e, void* buffer, uint32_t start, uint32_t length,
                     uint32_t* remaining, uint32_t page) {
    if (!e->stripOffsets || !e->stripCounts) return fail(TAV_E_COUNT);
    if (!list_ok(e->stripOffsets) || !list_ok(e->stripCounts)) return fail(TAV_E_FIELD_TYPE);
    Strips st{e, tiff_strip_total(e)};
    if (st.n == 0) return fail(TAV_E_COUNT);
    uint8_t* out = static_cast<uint8_t*>(buffer);

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

    // Step 2: the strip that holds start.
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

    // Step 3: from that strip on.
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
    // Step 4: the strips ran out first.
    *remaining = left_after(e, uint64_t(start) + delivered);
    if (st.n == 1) return int(delivered);
    return fail(TAV_E_SHORT_STRIPS);
}

namespace {

// Raw data: the file's bytes as they stand.
int raw_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
             uint32_t* remaining) {
    const int fd = int(e->fd);
    errno = 0;
    int32_t end = fio_lseek(fd, 0, 2);
    if (end < 0) return fail(errno ? errno : TAV_EIO);
    errno = 0;
    if (fio_seek_to(fd, start) != int32_t(start)) {
        if (errno == 0 || start >= 0x80000000u) errno = TAV_E_OFFSET;
        return -1;
    }
    uint32_t got = 0;
    while (got < length) {
        int32_t r = fio_read(fd, buffer + got, length - got);
        if (r < 0) return fail(errno ? errno : TAV_E_COUNT);
        if (r == 0) break;
        got += uint32_t(r);
    }
    if (got < length) return fail(TAV_E_COUNT);
    uint64_t used = uint64_t(start) + got;
    *remaining = used >= uint64_t(end) ? 0 : uint32_t(uint64_t(end) - used);
    return int(got);
}

}  // namespace

int page_read(int handle, void* buffer, uint32_t start, uint32_t length, uint32_t* remaining,
              uint16_t page) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if ((e->openFlags & TAV_OPEN_ACCESS_MASK) == TAV_OPEN_WRITE) return fct_fail(e, TAV_EACCES);
    if (length >= 0x80000000u) return fct_fail(e, TAV_E2BIG);
    if (!buffer) return fct_fail(e, TAV_EINVAL);
    uint32_t ignored = 0;
    if (!remaining) remaining = &ignored;

    uint32_t p = page;
    if (e->fileType != FILETYPE_RAW && e->fileType != FILETYPE_XIFF) {
        if (page == 0) return fct_fail(e, TAV_EINVAL);
        p = uint32_t(page) - 1;
        if (!e->optionFlags[kOptStripRead] && p != e->curPage) return fct_fail(e, TAV_E_PAGE);
        if (start > e->pageDataSize) return fct_fail(e, TAV_E_OFFSET);
        if (length == 0 || length > e->pageDataSize) return fct_fail(e, TAV_E_COUNT);
    }

    int r;
    switch (e->fileType) {
    case FILETYPE_RAW:
        r = raw_read(e, static_cast<uint8_t*>(buffer), start, length, remaining);
        break;
    case FILETYPE_TIFF:
        r = tiff_read_strips(e, buffer, start, length, remaining, p);
        break;
    case FILETYPE_RESERVED4:
    case FILETYPE_RESERVED5:
        *remaining = 0;
        r = 0;
        break;
    case FILETYPE_BLOCK:
    case FILETYPE_GIF:    // read at the format view's data offset
    case FILETYPE_PCX:
    case FILETYPE_DCX:
    case FILETYPE_BMP:
    case FILETYPE_TGA:
    case FILETYPE_JPEG:
    case FILETYPE_AWD:
    case FILETYPE_XIFF:
    default:
        r = fail(TAV_E_NOT_SUPPORTED);
        break;
    }
    if (r < 0) return fct_fail(e, errno ? errno : TAV_EIO);
    return r;
}
