// Bringing an existing TIFF file into the writer's state for appending: the
// page offset table work file from the file's table or its IFD chain, and
// the conversion of page index files into one chain with a table.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

// The page offset table work file: a new owner-only file under a fresh
// name in the temporary directory. The names are predictable, so anything
// found at one (a file, a link) is never opened: the create is exclusive
// and moves on to the next name, up to 99 of them.
int open_work_file(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (ts.temp2Open) return 0;
    if (!ts.tempName || !fio_star_in_tempdir(ts.tempName)) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    int fd = fio_creat(nullptr, ts.tempName, kFioPrivate);
    if (fd < 0) return -1;
    ts.temp2Desc = fd;
    ts.temp2Open = 1;
    return 0;
}

void ready_for_append(FctEntry* e) {
    e->editFlags = kEditPageComplete;
    tiff_of(e).closeFlags = kCloseDirectoryDone;
}

// ---- page index conversion ----

struct IndexPage {
    uint32_t base;
    uint32_t ifd;  // relative to base
};

// Tags whose values are file offsets, inline or not.
bool is_offset_tag(uint16_t tag) {
    switch (tag) {
    case kTagStripOffsets:
    case kTagFreeOffsets:
    case kTagTileOffsets:
    case kTagJpegInterchangeFormat:
    case kTagJpegQTables:
    case kTagJpegDCTables:
    case kTagJpegACTables:
        return true;
    default:
        return false;
    }
}

int read_index(FctEntry* e, uint16_t order, std::vector<IndexPage>& pages, uint32_t* chunkCount) {
    TiffState& ts = tiff_of(e);
    int fd = int(e->fd);
    uint32_t limit = e->origSize;
    uint8_t head[kIndexHeaderSize];
    if (uint64_t(ts.pageIndexOffset) + kIndexHeaderSize > limit ||
        tiff_pread(fd, ts.pageIndexOffset, head, kIndexHeaderSize) < 0) {
        errno = TAV_E_INDEX_KIND;
        return -1;
    }
    if (tiff_get32(head, order) != 1) {
        errno = TAV_E_INDEX_VERSION;
        return -1;
    }
    uint32_t count = tiff_get32(head + 36, order);
    uint32_t chunks = tiff_get32(head + 40, order);
    if (count == 0 || count > 0xFFFF || tiff_get32(head + 44, order) != 32 ||
        uint64_t(ts.pageIndexOffset) + kIndexHeaderSize + uint64_t(chunks) * kIndexEntrySize > limit) {
        errno = TAV_E_INDEX_KIND;
        return -1;
    }
    std::vector<uint8_t> list(size_t(chunks) * 8);
    if (chunks && tiff_pread(fd, ts.pageIndexOffset + kIndexHeaderSize, list.data(),
                             chunks * kIndexEntrySize) < 0)
        return -1;
    for (uint32_t c = 0; c < chunks && pages.size() < count; ++c) {
        uint32_t at = tiff_get32(&list[8 * c], order);
        uint32_t n = tiff_get32(&list[8 * c + 4], order);
        n = std::min<uint32_t>(n, count - uint32_t(pages.size()));
        if (uint64_t(at) + uint64_t(n) * 8 > limit) {
            errno = TAV_E_INDEX_KIND;
            return -1;
        }
        std::vector<uint8_t> entries(size_t(n) * 8);
        if (n && tiff_pread(fd, at, entries.data(), n * 8) < 0) return -1;
        for (uint32_t i = 0; i < n; ++i) {
            IndexPage p{tiff_get32(&entries[8 * i], order), 0};
            // The IFD offset is the one of the TIFF header at the page's base.
            uint8_t h[kTiffHeaderSize];
            if (uint64_t(p.base) + kTiffHeaderSize > limit ||
                tiff_pread(fd, p.base, h, kTiffHeaderSize) < 0) {
                errno = TAV_E_NOT_TIFF;
                return -1;
            }
            p.ifd = tiff_get32(h + 4, order);
            if (uint64_t(p.base) + p.ifd + 2 > limit) {
                errno = TAV_E_DIRECTORY;
                return -1;
            }
            pages.push_back(p);
        }
    }
    if (pages.size() != count) {
        errno = TAV_E_PAGE_RANGE;
        return -1;
    }
    *chunkCount = chunks;
    return 0;
}

// Appends bytes at the aligned end of the file; their offset, or -1.
int64_t append_aligned(int fd, const void* data, uint32_t bytes) {
    int32_t at = tiff_align_end(fd, 0);
    if (at < 0 || tiff_pwrite(fd, uint32_t(at), data, bytes) < 0) return -1;
    return at;
}

// Offset arrays rebased during one conversion. Directories that share an
// array (several index entries may lead to one page stream) get one rebased
// copy of it. Arrays of distinct pages lie in distinct bytes of the file, so
// all of them together cannot claim more bytes than the file holds: a file
// whose pages' arrays overlap under different bases would grow with the
// square of its size, and is refused.
class RebasedArrays {
public:
    // The offset of the copy already made for this array, or 0.
    uint32_t find(uint32_t base, const TiffDirEntry& d) const {
        auto it = placed_.find(key(base, d));
        return it == placed_.end() ? 0 : it->second;
    }
    // Counts an array about to be copied: -1 (TAV_E_DIRECTORY) when the copies would
    // claim more bytes than the file holds.
    int claim(uint64_t bytes, uint32_t fileSize) {
        sourceBytes_ += bytes;
        if (sourceBytes_ <= fileSize) return 0;
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    void remember(uint32_t base, const TiffDirEntry& d, uint32_t at) { placed_[key(base, d)] = at; }

private:
    using Key = std::tuple<uint32_t, uint32_t, uint32_t, uint16_t>;
    static Key key(uint32_t base, const TiffDirEntry& d) { return {base, d.value, d.count, d.type}; }
    std::map<Key, uint32_t> placed_;
    uint64_t sourceBytes_ = 0;
};

// Rebases one offset array (StripOffsets, the JPEG tables) of the page at
// base: a LONG copy at the end of the file, made once per array.
int rebase_array(FctEntry* e, TiffDirEntry& d, uint32_t base, RebasedArrays& arrays) {
    int fd = int(e->fd);
    uint16_t order = tiff_order(e);
    uint32_t size = tiff_type_size(d.type);
    uint64_t bytes = uint64_t(size) * d.count;
    if (uint32_t copy = arrays.find(base, d)) {
        d.type = kTiffLong;
        d.value = copy;
        return 0;
    }
    if (bytes > e->origSize || uint64_t(base) + d.value + bytes > e->origSize) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    if (arrays.claim(bytes, e->origSize) < 0) return -1;
    std::vector<uint8_t> raw(bytes);
    if (tiff_pread(fd, base + d.value, raw.data(), uint32_t(bytes)) < 0) return -1;
    std::vector<uint8_t> out(size_t(d.count) * 4);
    for (uint32_t k = 0; k < d.count; ++k) {
        uint32_t v = d.type == kTiffShort ? tiff_get16(&raw[2 * k], order) : tiff_get32(&raw[4 * k], order);
        tiff_put32(&out[4 * k], v + base, order);
    }
    int64_t at = append_aligned(fd, out.data(), uint32_t(out.size()));
    if (at < 0) return -1;
    arrays.remember(base, d, uint32_t(at));
    d.type = kTiffLong;
    d.value = uint32_t(at);
    return 0;
}

// Rewrites one page's directory with absolute offsets and the table tag, at
// the aligned end of the file: the original bytes stay as they are, so a
// directory that several index entries share is read unchanged each time,
// and every page gets a directory (and next-IFD field) of its own. Returns
// the directory's new offset.
int64_t tiff_rebase_dir(FctEntry* e, TiffDir* dir, uint32_t base, uint32_t next, RebasedArrays& arrays) {
    for (int i = 0; i < dir->entryCount; ++i) {
        TiffDirEntry& d = dir->entries[i];
        uint64_t bytes = uint64_t(tiff_type_size(d.type)) * d.count;
        if (is_offset_tag(d.tag) && (d.type == kTiffShort || d.type == kTiffLong)) {
            if (d.count == 1) {
                d.value += base;
                d.type = kTiffLong;
            } else if (rebase_array(e, d, base, arrays) < 0) {
                return -1;
            }
        } else if (bytes > 4) {
            d.value += base;
        }
    }
    int last = dir->entryCount - 1;
    if (last >= 0 && dir->entries[last].tag == kTagPageIndex) {
        dir->entries[last].tag = kTagPageTable;
    } else {
        if (dir->entryCount >= kTiffMaxEntries) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
        int i = dir->entryCount;
        while (i > 0 && dir->entries[i - 1].tag > kTagPageTable) {
            dir->entries[i] = dir->entries[i - 1];
            --i;
        }
        dir->entries[i] = TiffDirEntry{kTagPageTable, kTiffLong, 1, 0};
        ++dir->entryCount;
    }
    dir->nextIfd = next;
    uint8_t image[kIfdReadSize];
    uint32_t n = tiff_encode_dir(*dir, tiff_order(e), image);
    return append_aligned(int(e->fd), image, n);
}

// The entry of the page index tag in a directory as the file holds it. A
// directory that carries the tag twice is damaged (TAV_E_DIRECTORY): only one entry
// could become the table tag, and readers would go on finding the other.
int index_tag_slot(const TiffDir& dir) {
    int slot = tiff_dir_find(dir, kTagPageIndex);
    if (slot < 0) {
        errno = TAV_E_INDEX_KIND;
        return -1;
    }
    for (int i = 0; i < slot; ++i) {
        if (dir.entries[i].tag == kTagPageIndex) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
    }
    return slot;
}

// An empty page index (tag 32935 with value 0) stands for a file of one
// page. Before pages are appended it becomes what the writer makes of a
// first page: the table tag (no table yet) in a directory that ends the
// chain, which the appended pages then extend. Readers would otherwise keep
// seeing the empty index, and one page.
int convert_empty_index(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    int fd = int(e->fd);
    uint16_t order = tiff_order(e);
    TiffDir first;
    if (tiff_read_raw_dir(fd, ts.firstIfdOffset, order, e->origSize, &first) < 0) return -1;
    int slot = index_tag_slot(first);
    if (slot < 0) return -1;
    uint8_t tag[2], end[4];
    tiff_put16(tag, kTagPageTable, order);
    tiff_put32(end, 0, order);
    if (tiff_pwrite(fd, ts.firstIfdOffset + 2 + 12 * uint32_t(slot), tag, 2) < 0 ||
        tiff_pwrite(fd, ts.firstIfdOffset + 2 + 12 * uint32_t(first.entryCount), end, 4) < 0)
        return -1;
    ts.privateTagSlot = uint32_t(slot);
    return 0;
}

}  // namespace

int tiff_table_copy(FctEntry* e, int newFile) {
    TiffState& ts = tiff_of(e);
    if (open_work_file(e) < 0) return -1;
    if (ts.pageTableOffset) {
        uint32_t bytes = kPageTableHeader + 4 * uint32_t(e->pageCount);
        std::vector<uint8_t> table(bytes);
        if (uint64_t(ts.pageTableOffset) + bytes > e->origSize ||
            tiff_pread(int(e->fd), ts.pageTableOffset, table.data(), bytes) < 0) {
            if (errno == 0 || uint64_t(ts.pageTableOffset) + bytes > e->origSize)
                errno = TAV_E_DIRECTORY;
            tiff_drop_work_file(e);
            return -1;
        }
        uint16_t order = tiff_order(e);
        for (uint32_t i = 0; i < bytes; i += 4) {
            uint32_t v = tiff_get32(&table[i], order);
            std::memcpy(&table[i], &v, 4);
        }
        // Readers take page 1 from the header, whatever the table's first
        // entry says: so does the writer.
        std::memcpy(&table[kPageTableHeader], &ts.firstIfdOffset, 4);
        if (tiff_pwrite(ts.temp2Desc, 0, table.data(), bytes) < 0) {
            tiff_drop_work_file(e);
            return -1;
        }
    } else {
        uint32_t head[5] = {kPageTableMagic, kPageTableVersion, e->pageCount, 0, ts.firstIfdOffset};
        if (tiff_pwrite(ts.temp2Desc, 0, head, sizeof head) < 0) {
            tiff_drop_work_file(e);
            return -1;
        }
    }
    if (!newFile) ready_for_append(e);
    return 0;
}

int tiff_chain_to_table(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (open_work_file(e) < 0) return -1;
    int fd = int(e->fd);
    uint16_t order = tiff_order(e);
    uint32_t pages = e->pageCount;
    std::vector<uint32_t> table(4 + size_t(pages));
    uint8_t h[kTiffHeaderSize];
    if (pages == 0 || tiff_pread(fd, ts.tiffBase, h, kTiffHeaderSize) < 0) {
        if (pages == 0) errno = TAV_E_DIRECTORY;
        tiff_drop_work_file(e);
        return -1;
    }
    uint32_t ifd = tiff_get32(h + 4, order);
    table[4] = ifd;
    for (uint32_t p = 1; p < pages; ++p) {
        // Every page must have a directory: a page whose link is missing
        // would make the next append patch the header.
        uint8_t c[2], l[4];
        if (ifd < kTiffHeaderSize || uint64_t(ifd) + 2 > e->origSize || tiff_pread(fd, ifd, c, 2) < 0) {
            errno = TAV_E_DIRECTORY;
            tiff_drop_work_file(e);
            return -1;
        }
        uint64_t link = uint64_t(ifd) + 2 + 12u * tiff_get16(c, order);
        if (link + 4 > e->origSize || tiff_pread(fd, uint32_t(link), l, 4) < 0) {
            errno = TAV_E_DIRECTORY;
            tiff_drop_work_file(e);
            return -1;
        }
        ifd = tiff_get32(l, order);
        table[4 + p] = ifd;
    }
    if (ifd < kTiffHeaderSize || uint64_t(ifd) + 2 > e->origSize) {
        errno = TAV_E_DIRECTORY;
        tiff_drop_work_file(e);
        return -1;
    }
    int32_t length = fio_length(fd);
    table[0] = kPageTableMagic;
    table[1] = kPageTableVersion;
    table[2] = pages;
    table[3] = length < 0 ? 0 : uint32_t(length);
    if (tiff_pwrite(ts.temp2Desc, 0, table.data(), uint32_t(table.size() * 4)) < 0) {
        tiff_drop_work_file(e);
        return -1;
    }
    ready_for_append(e);
    return 0;
}

int tiff_convert_index(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    int fd = int(e->fd);
    uint16_t order = tiff_order(e);
    ts.tiffBase = 0;
    std::vector<IndexPage> pages;
    uint32_t chunks = 0;
    if (read_index(e, order, pages, &chunks) < 0) return -1;
    // Page 0 is the file's own TIFF stream.
    if (pages[0].base != 0) {
        errno = TAV_E_INDEX_KIND;
        return -1;
    }
    uint32_t count = uint32_t(pages.size());
    std::vector<uint32_t> absolute(count);
    absolute[0] = pages[0].ifd;
    // The first directory is read before anything is written, so that a
    // damaged one leaves the file as it was.
    TiffDir first;
    if (tiff_read_raw_dir(fd, absolute[0], order, e->origSize, &first) < 0) return -1;
    int slot = index_tag_slot(first);
    if (slot < 0) return -1;
    // From the last page back, so each directory learns where the next one
    // finally lies.
    uint32_t next = 0;
    RebasedArrays arrays;
    for (uint32_t k = count - 1; k >= 1; --k) {
        TiffDir dir;
        uint32_t at = pages[k].base + pages[k].ifd;
        if (tiff_read_raw_dir(fd, at, order, e->origSize, &dir) < 0) return -1;
        int64_t placed = tiff_rebase_dir(e, &dir, pages[k].base, next, arrays);
        if (placed < 0) return -1;
        absolute[k] = uint32_t(placed);
        next = uint32_t(placed);
    }
    // The table stands where the index stood when it fits there.
    uint32_t tableBytes = kPageTableHeader + 4 * count;
    uint32_t t = ts.pageIndexOffset;
    if (uint64_t(tableBytes) > kIndexHeaderSize + uint64_t(chunks) * kIndexEntrySize) {
        int32_t end = tiff_align_end(fd, 0);
        if (end < 0) return -1;
        t = uint32_t(end);
    }
    if (tiff_write_items_at(fd, t + kPageTableHeader, absolute.data(), count, kTiffLong, order) < 0)
        return -1;
    if (tiff_write_table_entry(fd, absolute[0], uint32_t(slot), count, t, order) < 0) return -1;
    uint8_t link[4];
    tiff_put32(link, count > 1 ? absolute[1] : 0, order);
    if (tiff_pwrite(fd, absolute[0] + 2 + 12 * uint32_t(first.entryCount), link, 4) < 0)
        return -1;
    int32_t length = fio_length(fd);
    if (length < 0) return -1;
    if (tiff_write_table_header(fd, t, count, uint32_t(length), order) < 0) return -1;
    ts.pageTableOffset = t;
    ts.pageIndexOffset = 0;
    ts.tableCarrier = absolute[0];
    ts.privateTagSlot = uint32_t(slot);
    ts.hasPrivateIndex = 0;
    e->pageCount = uint16_t(count);
    ts.firstIfdOffset = absolute[0];
    // Directories are read up to the converted file's end from now on. The
    // original bytes stay in the descriptor's journal: a refused open or an
    // abort gives them back, a close keeps the conversion.
    e->origSize = uint32_t(length);
    return 0;
}

int tiff_prepare_update(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (tiff_alloc_work(e) < 0) return -1;
    ts.dirPending = 0;
    ts.chainLinkPos = 0;
    ts.rewriteNeeded = 0;
    int rc;
    if (ts.pageIndexOffset != 0) {
        rc = tiff_convert_index(e);
        if (rc == 0) rc = tiff_table_copy(e, 0);
    } else if (ts.indexCache) {
        rc = convert_empty_index(e);
        if (rc == 0) rc = tiff_table_copy(e, 0);
    } else if (ts.pageTableOffset != 0) {
        rc = tiff_table_copy(e, 0);
    } else {
        rc = tiff_chain_to_table(e);
    }
    if (rc < 0) return -1;
    ts.realFirstIfd = ts.firstIfdOffset;
    // A page appended is linked behind the last page: a link that cannot be
    // rewritten safely refuses the update before anything is written.
    uint32_t last = 0, link = 0;
    if (e->pageCount == 0) return 0;
    if (tiff_work_entry(e, e->pageCount - 1u, &last) < 0) return -1;
    return tiff_link_field(e, last, &link);
}
