// Finishing a page's directory once its strips are known: annotation and
// strip entries, writing the directory into its slot (with the header for
// the first page of a new file), linking it into the chain, and the page
// offset table at close.
#include <cerrno>
#include <cstring>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

uint32_t list_value(const StripList* l, uint32_t i) {
    if (!l || !l->values || i >= l->count) return 0;
    return static_cast<const uint32_t*>(l->values)[i];
}

// Inserts an annotation entry, keeping the directory in tag order. Areas of
// four bytes or less lie in the entry itself, as TIFF wants them.
int insert_area(FctEntry* e, uint16_t tag, uint32_t length, uint32_t offset) {
    TiffDir* d = tiff_of(e).workDir;
    // A finish retried after a failure finds the entry already in place.
    if (tiff_dir_find(*d, tag) >= 0) return 0;
    if (d->entryCount >= kTiffMaxEntries) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    uint32_t value = offset;
    if (length <= 4) {
        uint8_t b[4] = {0, 0, 0, 0};
        if (tiff_pread(int(e->fd), offset, b, length) < 0) return -1;
        std::memcpy(&value, b, 4);
    }
    int i = d->entryCount;
    while (i > 0 && d->entries[i - 1].tag >= tag) {
        d->entries[i] = d->entries[i - 1];
        --i;
    }
    d->entries[i] = TiffDirEntry{tag, kTiffByte, length, value};
    ++d->entryCount;
    return 0;
}

// The next-IFD link of the directory written before this one: its position
// and the four bytes it holds. Within a session the handle remembers it;
// the first directory appended to an opened file finds the previous page's
// directory through the page offset table work file.
int previous_link(FctEntry* e, uint32_t* pos, uint32_t* raw) {
    TiffState& ts = tiff_of(e);
    if (ts.chainLinkPos) {
        *pos = ts.chainLinkPos;
        *raw = ts.chainLinkRaw;
        return 0;
    }
    if (e->curPage == 0) {
        errno = TAV_E_PAGE;
        return -1;
    }
    uint32_t prev = 0;
    if (tiff_work_entry(e, e->curPage - 1, &prev) < 0 || tiff_link_field(e, prev, pos) < 0) return -1;
    uint8_t b[4];
    if (tiff_pread(int(e->fd), *pos, b, 4) < 0) return -1;
    std::memcpy(raw, b, 4);
    return 0;
}

int link_previous(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    uint32_t pos = 0, raw = 0;
    if (previous_link(e, &pos, &raw) < 0) return -1;
    ts.prevLinkPos = pos;
    ts.prevLinkValue = raw;
    uint8_t b[4];
    tiff_put32(b, ts.firstIfdOffset, tiff_order(e));
    return tiff_pwrite(int(e->fd), pos, b, 4);
}

void remember_link(FctEntry* e, uint32_t slot) {
    TiffState& ts = tiff_of(e);
    const TiffDir* d = ts.workDir;
    ts.chainLinkPos = slot + 2 + 12 * d->entryCount;
    uint8_t b[4];
    tiff_put32(b, d->nextIfd, tiff_order(e));
    std::memcpy(&ts.chainLinkRaw, b, 4);
}

// The strip lists are kept until the directory is in the file, so that a
// finish retried after a failure (at the next page or at close) writes the
// same strip entries again.
void directory_done(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    tiff_free_strip_lists(e);
    std::memset(ts.workDir, 0, sizeof(TiffDir));
    ts.dirPending = 0;
    // The annotation areas belong to the finished directory.
    ts.aux1Len = ts.aux1Off = ts.aux2Len = ts.aux2Off = 0;
    e->editFlags &= uint8_t(~kEditStripOpen);
}

}  // namespace

int tiff_write_strip_tables(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    TiffDir* d = ts.workDir;
    uint32_t n = ts.stripIndex < 0 ? 0 : uint32_t(ts.stripIndex) + 1;
    TiffDirEntry& offs = d->entries[ts.stripOffsetsSlot];
    TiffDirEntry& counts = d->entries[ts.stripCountsSlot];
    if (n == 1) {
        offs.value = list_value(ts.stripOffsets, 0);
        counts.value = list_value(ts.stripCounts, 0);
    } else {
        int32_t at = tiff_align_end(int(e->fd), 0);
        if (at < 0) return -1;
        uint16_t order = tiff_order(e);
        std::vector<uint8_t> buf(size_t(n) * 8);
        for (uint32_t i = 0; i < n; ++i) {
            tiff_put32(&buf[4 * i], list_value(ts.stripCounts, i), order);
            tiff_put32(&buf[4 * (n + i)], list_value(ts.stripOffsets, i), order);
        }
        if (tiff_pwrite(int(e->fd), uint32_t(at), buf.data(), uint32_t(buf.size())) < 0) return -1;
        counts.value = uint32_t(at);
        offs.value = uint32_t(at) + 4 * n;
        ts.tiffWritePos = uint32_t(at) + 8 * n;
    }
    offs.type = counts.type = kTiffLong;
    offs.count = counts.count = n;
    return 0;
}

int tiff_write_first_dir(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    uint16_t order = tiff_order(e);
    uint32_t slot = ts.firstIfdOffset;
    std::vector<uint8_t> image(size_t(slot) + kTiffSlotSize, 0);
    put_le16(&image[0], order);  // the mark is its own byte order
    tiff_put16(&image[2], kTiffMagic, order);
    tiff_put32(&image[4], slot, order);
    if (slot > kTiffHeaderSize) {
        // The property block behind the header.
        if (!ts.hdrBlock || uint64_t(ts.hdrBlockLen) + kPropertyText != slot) {
            errno = TAV_E_INCONSISTENT;
            return -1;
        }
        tiff_property_header(&image[kPropertyHeaderOffset], ts.hdrBlockLen);
        std::memcpy(&image[kPropertyText], ts.hdrBlock, ts.hdrBlockLen);
    }
    tiff_encode_dir(*ts.workDir, order, &image[slot]);
    if (tiff_pwrite(int(e->fd), 0, image.data(), uint32_t(image.size())) < 0) return -1;
    uint32_t entry0 = slot;
    if (!ts.temp2Open || tiff_pwrite(ts.temp2Desc, kPageTableHeader, &entry0, 4) < 0) {
        if (!ts.temp2Open) errno = TAV_E_WORKFILE;
        return -1;
    }
    remember_link(e, slot);
    ts.realFirstIfd = slot;
    e->editFlags |= kEditPageUnderWay;
    e->pageCount = 1;
    directory_done(e);
    return 0;
}

int tiff_finish_dir(FctEntry* e, int newPage) {
    TiffState& ts = tiff_of(e);
    if (!ts.workDir) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    if (!ts.dirPending) return 0;  // nothing built since the last directory
    if (ts.pageBroken) {
        // Its data did not all reach the file: it never becomes a page.
        errno = ts.pageBroken;
        return -1;
    }
    if (ts.aux2Len && insert_area(e, kTagAnnotation2, ts.aux2Len, ts.aux2Off) < 0) return -1;
    if (ts.aux1Len && insert_area(e, kTagAnnotation1, ts.aux1Len, ts.aux1Off) < 0) return -1;
    if (tiff_write_strip_tables(e) < 0) return -1;
    TiffDir* d = ts.workDir;
    if (newPage) {
        d->nextIfd = 0;
    } else {
        // Another directory of the same page follows at the aligned end.
        int32_t next = tiff_align_end(int(e->fd), 0);
        if (next < 0) return -1;
        d->nextIfd = uint32_t(next);
    }
    if (e->pageCount == 0) return tiff_write_first_dir(e);
    bool firstOfPage = !(e->editFlags & kEditPageUnderWay);
    uint16_t order = tiff_order(e);
    uint8_t image[kIfdReadSize];
    uint32_t bytes = tiff_encode_dir(*d, order, image);
    if (tiff_pwrite(int(e->fd), ts.firstIfdOffset, image, bytes) < 0) return -1;
    if (link_previous(e) < 0) return -1;
    // The page enters the table before the directory counts as done, so a
    // failure here leaves it pending and a retry inserts it.
    if (firstOfPage && tiff_table_insert(e, e->curPage, ts.firstIfdOffset) < 0) return -1;
    remember_link(e, ts.firstIfdOffset);
    directory_done(e);
    if (!firstOfPage) return 0;
    e->editFlags |= kEditPageUnderWay;
    return 0;
}

int tiff_break_page(FctEntry* e) {
    if (errno == 0) errno = TAV_EIO;
    tiff_of(e).pageBroken = errno;
    return -1;
}

int tiff_drop_page(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    // A directory of the same page written before this one links to where
    // this one was expected.
    const bool pageInFile = (e->editFlags & kEditPageUnderWay) != 0;
    if (pageInFile && ts.chainLinkPos) {
        const uint8_t end[4] = {0, 0, 0, 0};
        if (tiff_pwrite(int(e->fd), ts.chainLinkPos, end, 4) < 0) return -1;
        ts.chainLinkRaw = 0;
    }
    if (ts.workDir) directory_done(e);
    ts.dirPending = 0;
    ts.pageBroken = 0;
    // As after the directory before it: the page it belongs to is complete,
    // or the next page is to come.
    e->editFlags = pageInFile ? uint8_t(kEditPageUnderWay | kEditPageComplete) : 0;
    return 0;
}

int tiff_table_insert(FctEntry* e, uint32_t page, uint32_t ifdOffset) {
    TiffState& ts = tiff_of(e);
    if (!ts.temp2Open) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    if (page > e->pageCount || e->pageCount >= 0xFFFF) {
        errno = TAV_E_PAGE_RANGE;
        return -1;
    }
    uint32_t tail = e->pageCount - page;
    std::vector<uint32_t> entries(size_t(tail) + 1);
    entries[0] = ifdOffset;
    uint32_t at = kPageTableHeader + 4 * page;
    if (tail && tiff_pread(ts.temp2Desc, at, &entries[1], 4 * tail) < 0) return -1;
    if (tiff_pwrite(ts.temp2Desc, at, entries.data(), 4 * (tail + 1)) < 0) return -1;
    ++e->pageCount;
    ts.rewriteNeeded = 1;
    return 0;
}

int tiff_write_table(FctEntry* e, uint32_t keep) {
    TiffState& ts = tiff_of(e);
    int fd = int(e->fd);
    uint16_t order = tiff_order(e);
    uint32_t pages = e->pageCount;
    int32_t at = tiff_align_end(fd, keep);
    if (at < 1) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    uint32_t t = uint32_t(at);
    std::vector<uint32_t> entries(pages);
    if (!ts.temp2Open || tiff_pread(ts.temp2Desc, kPageTableHeader, entries.data(), 4 * pages) < 0) {
        if (!ts.temp2Open) errno = TAV_E_WORKFILE;
        return -1;
    }
    if (tiff_write_items_at(fd, t + kPageTableHeader, entries.data(), pages, kTiffLong, order) < 0)
        return -1;

    // The carrier is looked for with the table's bytes in the file, which
    // end the file as readers will see it. (Our own pages all have a table
    // entry, so it is usually the first directory; in a file of another
    // program's pages, the first page appended.)
    uint32_t carrier = 0;
    if (tiff_find_carrier(e, &carrier) < 0) return -1;
    TiffPatchLog log(fd);
    int32_t end = keep ? int32_t(t + kPageTableHeader + 4 * pages) : fio_length(fd);
    if (end < 0 || tiff_name_table(e, carrier, t, log) < 0 ||
        tiff_write_table_header(fd, t, pages, uint32_t(end), order) < 0)
        return -1;
    log.keep();
    ts.tableCarrier = carrier;
    ts.pageTableOffset = t;
    ts.rewriteNeeded = 0;
    return 0;
}
