// TIFF page location: the open-time set-up that finds the
// page-location scheme and counts the pages, and the lookup of a page's IFD
// through the page index (with its 10-entry window), the page offset table
// or the plain chain.
//
// The plain chain remembers the IFD offsets it has found (FctEntry ifdMemo:
// page i at ifdMemo[i]), filled while counting at open and while walking, so
// pages 1..N looked up in order cost O(N) directory reads in all. The memo
// only ever holds offsets the walk itself reached, in chain order, with no
// repeats: a chain that comes back to an IFD already visited ends there.
// Whoever rewrites an existing next-IFD link of an open file (moving a page)
// must set ifdMemoCount to 0; appending behind the last IFD needs nothing.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/tiff/read/tiff_read_internal.h"
#include "formats/tiff/tiff.h"
#include "frame/fct.h"

namespace {

constexpr uint32_t kWindowEntries = 10;  // page index entries held at a time
constexpr uint32_t kMemoLimit = kMaxPages + 1;

int fail(int code) {
    errno = code;
    return -1;
}

// Turns u32 words read from the file into host order, in place.
void host_words(uint8_t* p, uint32_t words, uint16_t order) {
    tiff_swap_items(p, 4 * words, kTiffLong, order);
}

// ---- the chain memo ----

void memo_clear(FctEntry* e) { tiff_of(e).ifdMemoCount = 0; }

// Appends an offset; without memory the memo simply stops growing (every
// result stays that of the walk, only slower).
void memo_push(FctEntry* e, uint32_t off) {
    TiffState& ts = tiff_of(e);
    if (ts.ifdMemoCount >= kMemoLimit) return;
    if (ts.ifdMemoCount == ts.ifdMemoCap) {
        KeepErrno keep;
        uint32_t cap = ts.ifdMemoCap ? std::min(ts.ifdMemoCap * 2, kMemoLimit) : 64;
        void* p = ts.ifdMemo ? mem_realloc(ts.ifdMemo, cap * 4u) : mem_calloc(cap, 4);
        if (!p) return;
        ts.ifdMemo = static_cast<uint32_t*>(p);
        ts.ifdMemoCap = cap;
    }
    ts.ifdMemo[ts.ifdMemoCount++] = off;
}

// Whether an offset is among the memo's, knowing the largest of them: the
// common chain, whose IFDs come one after another in the file, never needs
// the search.
class VisitSet {
public:
    explicit VisitSet(const FctEntry* e) : e_(e) {
        for (uint32_t i = 0; i < tiff_of(e).ifdMemoCount; ++i) max_ = std::max(max_, tiff_of(e).ifdMemo[i]);
    }
    bool contains(uint32_t off) {
        if (tiff_of(e_).ifdMemoCount == 0 || off > max_) return false;
        if (!built_) {
            set_.insert(tiff_of(e_).ifdMemo, tiff_of(e_).ifdMemo + tiff_of(e_).ifdMemoCount);
            built_ = true;
        }
        return set_.count(off) != 0;
    }
    void add(uint32_t off) {
        max_ = std::max(max_, off);
        if (built_) set_.insert(off);
    }

private:
    const FctEntry* e_;
    uint32_t max_ = 0;
    bool built_ = false;
    std::unordered_set<uint32_t> set_;
};

// ---- shared set-up steps ----

int finish_setup(FctEntry* e) {
    if (tiff_alloc_work(e) < 0) return -1;
    if (tiff_of(e).updateMode) return tiff_prepare_update(e);
    return 0;
}

// ---- page index ----

// One 8-byte page entry of the index, in host order.
void take_entry(PageIndexCache* c, uint32_t slot, const uint8_t* raw) {
    c->entries[slot][0] = get_le32(raw);
    c->entries[slot][1] = get_le32(raw + 4);
}

// Reads n page entries at pos into the window from slot `first` on.
int read_entries(FctEntry* e, uint32_t pos, uint32_t first, uint32_t n) {
    PageIndexCache* c = tiff_of(e).indexCache;
    uint8_t raw[kIndexEntrySize * kWindowEntries];
    if (fio_read_exact_at(int(e->fd), pos, raw, n * kIndexEntrySize, TAV_E_DIRECTORY) < 0)
        return -1;
    host_words(raw, 2 * n, tiff_order(e));
    for (uint32_t i = 0; i < n; ++i) take_entry(c, first + i, raw + kIndexEntrySize * i);
    return 0;
}

// The chunk list behind the index header: it must lie inside the file
// before anything is allocated.
int read_chunk_list(FctEntry* e, uint32_t chunkCount) {
    TiffState& ts = tiff_of(e);
    PageIndexCache* c = ts.indexCache;
    uint64_t listPos = uint64_t(ts.pageIndexOffset) + kIndexHeaderSize;
    uint64_t room = e->origSize > listPos ? e->origSize - listPos : 0;
    if (uint64_t(chunkCount) * kIndexEntrySize > room) return fail(TAV_E_INDEX_SIZE);
    c->chunkCount = chunkCount;
    if (!chunkCount) return 0;
    c->chunks = static_cast<uint8_t*>(mem_calloc(chunkCount, kIndexEntrySize));
    if (!c->chunks) return -1;
    if (fio_read_exact_at(int(e->fd), uint32_t(listPos), c->chunks, chunkCount * kIndexEntrySize,
                          TAV_E_DIRECTORY) < 0)
        return -1;
    host_words(c->chunks, chunkCount * 2, tiff_order(e));
    return 0;
}

// The first window: up to 10 entries from the chunks in list order.
int first_window(FctEntry* e, uint32_t pages) {
    PageIndexCache* c = tiff_of(e).indexCache;
    uint32_t want = std::min(pages, kWindowEntries);
    uint32_t held = 0;
    for (uint32_t k = 0; k < c->chunkCount && held < want; ++k) {
        uint32_t off = get_le32(c->chunks + kIndexEntrySize * k);
        uint32_t n = get_le32(c->chunks + kIndexEntrySize * k + 4);
        uint32_t take = std::min(n, want - held);
        if (!take) continue;
        if (read_entries(e, off, held, take) < 0) return -1;
        held += take;
    }
    c->windowFirst = 0;
    c->windowCount = uint16_t(held);
    return 0;
}

int load_index(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (ts.pageIndexOffset == 0) {
        // An empty index.
        e->curPage = 0;
        ts.tiffBase = 0;
        e->pageCount = 1;
        return 0;
    }
    uint8_t h[kIndexHeaderSize];
    if (fio_read_exact_at(int(e->fd), ts.pageIndexOffset, h, kIndexHeaderSize,
                          TAV_E_DIRECTORY) < 0)
        return -1;
    uint16_t order = tiff_order(e);
    if (tiff_get32(h, order) != kIndexVersion) return fail(TAV_E_INDEX_VERSION);
    ts.hasPrivateIndex = 1;
    uint32_t pages = tiff_get32(h + kIndexPagesAt, order);
    uint32_t chunkCount = tiff_get32(h + kIndexChunksAt, order);
    uint32_t kind = tiff_get32(h + kIndexKindAt, order);
    // Each page has an 8-byte entry in the file: a count the file cannot
    // hold is as wrong as one above 65535.
    bool tooMany = pages > kMaxPages || uint64_t(pages) * kIndexEntrySize > e->origSize;
    e->pageCount = uint16_t(pages);
    if (kind != kIndexKind) return fail(TAV_E_INDEX_KIND);
    if (read_chunk_list(e, chunkCount) < 0 || first_window(e, pages) < 0) return -1;
    if (tooMany) return fail(TAV_E_INDEX_SIZE);  // after completing; the open refuses it
    return 0;
}

int setup_index(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    auto* c = static_cast<PageIndexCache*>(mem_calloc(1, sizeof(PageIndexCache)));
    if (!c) return -1;
    ts.indexCache = c;
    c->entriesPerChunk = kWindowEntries;
    if (tiff_alloc_work(e) < 0) return -1;
    if (load_index(e) < 0) return -1;
    if (ts.updateMode) return tiff_prepare_update(e);
    return 0;
}

// The file position of page `page`'s entry and how many entries from it on
// lie in its chunk, or -1 (TAV_E_PAGE_RANGE) when no chunk holds it.
int locate_entry(const PageIndexCache* c, uint32_t page, uint64_t* pos, uint32_t* n) {
    uint64_t sum = 0;
    for (uint32_t k = 0; k < c->chunkCount; ++k) {
        uint32_t off = get_le32(c->chunks + kIndexEntrySize * k);
        uint32_t cnt = get_le32(c->chunks + kIndexEntrySize * k + 4);
        if (page < sum + cnt) {
            uint64_t idx = page - sum;
            *n = uint32_t(std::min<uint64_t>(kWindowEntries, cnt - idx));
            *pos = off + idx * kIndexEntrySize;
            return 0;
        }
        sum += cnt;
    }
    return fail(TAV_E_PAGE_RANGE);
}

// Refills the window at `page` and gives its entry.
int index_entry(FctEntry* e, uint32_t page, uint32_t* base, uint32_t* rel) {
    PageIndexCache* c = tiff_of(e).indexCache;
    if (!c) return fail(TAV_E_INDEX_KIND);
    if (page > kMaxPages) return fail(TAV_E_PAGE_RANGE);
    if (page < c->windowFirst || page - c->windowFirst >= c->windowCount) {
        uint64_t pos = 0;
        uint32_t n = 0;
        if (locate_entry(c, page, &pos, &n) < 0) return -1;
        if (pos > kFioMaxOffset) return fail(TAV_E_SEEK);
        if (read_entries(e, uint32_t(pos), 0, n) < 0) return -1;
        c->windowFirst = uint16_t(page);
        c->windowCount = uint16_t(n);
    }
    uint32_t i = page - c->windowFirst;
    *base = c->entries[i][0];
    if (rel) *rel = c->entries[i][1];
    return 0;
}

// ---- page offset table and plain chain ----

// Checks the table whose tag value is `at`; true when it is valid.
bool table_valid(FctEntry* e, IfdSource& src, uint32_t at, uint32_t* pages) {
    uint8_t raw[kPageTableHeader];
    KeepErrno keep;  // an unreadable table is only a stale one
    if (src.read(at, raw, kPageTableHeader) != int32_t(kPageTableHeader)) return false;
    uint16_t order = tiff_order(e);
    uint32_t magic = tiff_get32(raw, order);
    uint32_t version = tiff_get32(raw + 4, order);
    uint32_t count = tiff_get32(raw + kPageTableCount, order);
    uint32_t length = tiff_get32(raw + kPageTableLength, order);
    if (magic != kPageTableMagic || version != kPageTableVersion || length != e->origSize)
        return false;
    // Its entries must lie inside the file, and the pages fit a u16.
    if (count > kMaxPages || uint64_t(at) + kPageTableHeader + uint64_t(count) * 4 > e->origSize)
        return false;
    *pages = count;
    return true;
}

int scan_chain(FctEntry* e, IfdSource& src, uint32_t firstIfd, TiffDir& dir) {
    TiffState& ts = tiff_of(e);
    uint16_t order = tiff_order(e);
    ts.pageIndexOffset = 0;
    ts.pageTableOffset = 0;
    ts.privateTagSlot = 0;
    ts.tableCarrier = 0;
    memo_clear(e);
    VisitSet visited(e);
    uint32_t off = firstIfd;
    uint32_t walked = 0;
    bool looking = true;
    // `dir` holds the first IFD already.
    for (;;) {
        memo_push(e, off);
        visited.add(off);
        if (looking) {
            for (int i = int(dir.entryCount) - 1; i >= 0; --i) {
                const TiffDirEntry& d = dir.entries[i];
                if (d.tag < kTagPageTable) break;
                if (d.tag != kTagPageTable) continue;
                uint32_t at = tiff_entry_value(d);
                if (at != 0) {
                    uint32_t pages = 0;
                    if (table_valid(e, src, at, &pages)) {
                        ts.pageTableOffset = at;
                        ts.privateTagSlot = uint32_t(i);
                        e->pageCount = uint16_t(pages);
                        ts.tableCarrier = off;
                        return finish_setup(e);
                    }
                    looking = false;  // a stale table: count the chain
                } else if (walked == 0 && dir.nextIfd == 0) {
                    e->pageCount = 1;  // table scheme without a table yet
                    return finish_setup(e);
                } else {
                    looking = false;
                }
                break;
            }
        }
        ++walked;
        uint32_t next = dir.nextIfd;
        if (next == 0 || walked >= kMaxPages || visited.contains(next)) break;
        off = next;
        if (tiff_read_one_ifd(e, src, order, 0, off, &dir) < 0) return -1;
    }
    e->pageCount = uint16_t(walked);
    return finish_setup(e);
}

}  // namespace

int tiff_setup_pages(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    IfdSource src(int(e->fd));
    src.use_window();
    memo_clear(e);
    ts.hasPrivateIndex = 0;
    TiffHeader h;
    if (tiff_read_header(e, 0, &h) < 0) return -1;
    ts.firstIfdOffset = h.firstIfd;
    TiffDir dir;
    if (tiff_read_one_ifd(e, src, tiff_order(e), 0, h.firstIfd, &dir) < 0) return -1;
    for (int i = int(dir.entryCount) - 1; i >= 0; --i) {
        const TiffDirEntry& d = dir.entries[i];
        if (d.tag < kTagPageIndex) break;
        if (d.tag == kTagPageIndex) {
            ts.privateTagSlot = uint32_t(i);
            ts.pageIndexOffset = tiff_entry_value(d);
            return setup_index(e);
        }
    }
    return scan_chain(e, src, h.firstIfd, dir);
}

int tiff_walk_to_page(FctEntry* e, uint32_t page, uint32_t* ifdOffset, TiffHeader* header) {
    TiffState& ts = tiff_of(e);
    if (header || ts.ifdMemoCount == 0) {
        TiffHeader h;
        if (tiff_read_header(e, 0, &h) < 0) return -1;
        if (header) *header = h;
        // The memo starts at the header's first IFD; a different one means
        // the chain was rebuilt.
        if (ts.ifdMemoCount && ts.ifdMemo[0] != h.firstIfd) memo_clear(e);
        if (ts.ifdMemoCount == 0) {
            memo_push(e, h.firstIfd);
            if (ts.ifdMemoCount == 0) {
                // No memory for the memo: the plain walk.
                uint32_t off = h.firstIfd;
                TiffDir dir;
                IfdSource src(int(e->fd));
                for (uint32_t i = 0; i < page; ++i) {
                    if (tiff_read_one_ifd(e, src, tiff_order(e), 0, off, &dir) < 0) return -1;
                    if (dir.nextIfd == 0) return fail(TAV_E_PAGE_RANGE);
                    off = dir.nextIfd;
                }
                *ifdOffset = off;
                return 0;
            }
        }
    }
    if (page < ts.ifdMemoCount) {
        *ifdOffset = ts.ifdMemo[page];
        return 0;
    }
    if (page >= kMemoLimit) return fail(TAV_E_PAGE_RANGE);
    // Walk on from the last IFD the memo knows.
    VisitSet visited(e);
    uint32_t idx = ts.ifdMemoCount - 1;
    uint32_t off = ts.ifdMemo[idx];
    TiffDir dir;
    IfdSource src(int(e->fd));
    while (idx < page) {
        if (tiff_read_one_ifd(e, src, tiff_order(e), 0, off, &dir) < 0) return -1;
        uint32_t next = dir.nextIfd;
        if (next == 0 || visited.contains(next)) return fail(TAV_E_PAGE_RANGE);
        off = next;
        ++idx;
        visited.add(off);
        if (ts.ifdMemoCount == idx) memo_push(e, off);
    }
    *ifdOffset = off;
    return 0;
}

int tiff_page_ifd_offset(FctEntry* e, uint32_t page, uint32_t* ifdOffset) {
    TiffState& ts = tiff_of(e);
    if (ts.pageIndexOffset) {
        uint32_t base = 0;
        if (index_entry(e, page, &base, nullptr) < 0) return -1;
        ts.tiffBase = base;
        TiffHeader h;
        if (tiff_read_header(e, base, &h) < 0) return -1;
        *ifdOffset = h.firstIfd;
        return 0;
    }
    if (page == 0) {
        // While a handle writes, firstIfdOffset holds the slot of the page
        // being written; the file's own first directory is kept apart.
        *ifdOffset = ts.realFirstIfd ? ts.realFirstIfd : ts.firstIfdOffset;
        return 0;
    }
    if (ts.pageTableOffset) {
        uint64_t pos = uint64_t(ts.pageTableOffset) + kPageTableHeader + uint64_t(page) * 4;
        if (pos > kFioMaxOffset) return fail(TAV_E_SEEK);
        uint8_t raw[4];
        int32_t got = fio_read_full_at(int(e->fd), uint32_t(pos), raw, 4);
        if (got < 0) return -1;
        if (got != 4) return fail(TAV_E_PAGE_RANGE);
        *ifdOffset = tiff_get32(raw, tiff_order(e));
        return 0;
    }
    return tiff_walk_to_page(e, page, ifdOffset, nullptr);
}

int tiff_page_dir(FctEntry* e, uint32_t page, TiffDir* dir) {
    if (!e || !dir) return fail(TAV_EINVAL);
    int anyPage = e->pageCount > 1 ? 1 : 0;
    uint32_t off = 0;
    if (tiff_page_ifd_offset(e, page, &off) < 0) return -1;
    return tiff_read_dir(e, tiff_order(e), tiff_of(e).tiffBase, off, e->subfileWanted, dir, anyPage);
}
