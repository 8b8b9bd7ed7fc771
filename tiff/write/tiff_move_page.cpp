// Option 22: moving one page of a TIFF file open for update to an earlier
// place. Nothing is copied: the page's directory is unlinked from the chain
// and linked in again before the target page. The page order of the session
// (the page offset table work file) follows, and so does the file's page
// offset table when it has one, so that moves and appended pages compose in
// any order, in files with a table and without.
#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "tiff/tiff.h"
#include "tiff/write/tiff_writer.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

// Positioned reads and writes of the whole count on the handle's file.
int read_at(FctEntry* e, uint32_t pos, void* buf, uint32_t n) {
    return tiff_pread(int(e->fd), pos, buf, n);
}
int write_at(FctEntry* e, uint32_t pos, const void* buf, uint32_t n) {
    return tiff_pwrite(int(e->fd), pos, buf, n);
}

int read_u32(FctEntry* e, uint32_t pos, uint32_t* v) {
    uint8_t b[4];
    if (read_at(e, pos, b, 4) < 0) return -1;
    *v = tiff_get32(b, tiff_order(e));
    return 0;
}

// A u32 as the file stores it.
std::array<uint8_t, 4> file_u32(const FctEntry* e, uint32_t v) {
    std::array<uint8_t, 4> b;
    tiff_put32(b.data(), v, tiff_order(e));
    return b;
}

// One in-place change of a move: the bytes written at pos and the bytes
// they replace.
struct Patch {
    uint32_t pos;
    const uint8_t* now;
    const uint8_t* before;
    uint32_t n;
};

// Writes the patches in order. When one fails, it and every patch before
// it get their old bytes back (the last first), so a failed move leaves the
// file as it was whenever the file still takes writes.
int apply_patches(FctEntry* e, std::span<const Patch> patches) {
    for (size_t i = 0; i < patches.size(); ++i) {
        if (write_at(e, patches[i].pos, patches[i].now, patches[i].n) == 0) continue;
        KeepErrno keep;
        for (size_t j = i + 1; j-- > 0;) write_at(e, patches[j].pos, patches[j].before, patches[j].n);
        return -1;
    }
    return 0;
}

constexpr uint32_t kHeaderLink = 4;  // the header's first-IFD field

// Entries to .. from of a page table (16 header bytes, then 4 bytes a page)
// as they are, and as they become when the entry at `from` moves to `to`.
struct TableSpan {
    uint32_t at = 0;  // position of entry `to`
    std::vector<uint8_t> before, after;
};

int table_span(int fd, uint32_t table, uint32_t to, uint32_t from, std::span<const uint8_t, 4> moved,
               TableSpan* out) {
    uint32_t bytes = 4 * (from - to + 1);
    out->at = table + kPageTableHeader + 4 * to;
    out->before.resize(bytes);
    if (tiff_pread(fd, out->at, out->before.data(), bytes) < 0) return -1;
    out->after.assign(moved.begin(), moved.end());
    out->after.insert(out->after.end(), out->before.begin(), out->before.end() - 4);
    return 0;
}

// The table entry of the directory that comes to the front: as it lies in
// the file, and as it reads when it carries the file's table (slot -1: the
// directory has none, or the file has no table).
struct CarrierEntry {
    uint32_t pos = 0;
    int slot = -1;
    std::array<uint8_t, 12> now{}, before{};
};

// Checks the directory at ifd that comes to the front. A page index tag
// there would make readers take the file for a page index file: such a
// directory (damaged, as only a first directory has the tag) is refused
// with 297. When the file has a table, *out gets the table entry.
int front_directory(FctEntry* e, uint32_t ifd, CarrierEntry* out) {
    const TiffState& ts = tiff_of(e);
    TiffDir dir;
    if (tiff_read_raw_dir(int(e->fd), ifd, tiff_order(e), e->origSize, &dir) < 0) return -1;
    if (tiff_dir_find(dir, kTagPageIndex) >= 0) return fail(TAV_E_DIRECTORY);
    if (!ts.pageTableOffset || (out->slot = tiff_dir_find(dir, kTagPageTable)) < 0) return 0;
    out->pos = ifd + 2 + 12 * uint32_t(out->slot);
    if (read_at(e, out->pos, out->before.data(), 12) < 0) return -1;
    uint32_t words = e->pageCount + kPageTableExtraWords;
    tiff_encode_entry(out->now.data(), TiffDirEntry{kTagPageTable, kTiffLong, words, ts.pageTableOffset},
                      tiff_order(e));
    return 0;
}

// Where page i (from 0) stands once page `from` has moved before page `to`.
uint32_t index_after_move(uint32_t i, uint32_t to, uint32_t from) {
    if (i == from) return to;
    return (i >= to && i < from) ? i + 1 : i;
}

}  // namespace

int tiff_move_page(FctEntry* e, uint32_t to, uint32_t from) {
    TiffState& ts = tiff_of(e);
    // The page being written counts: it may be the one moved.
    const bool pendingPage = ts.dirPending && !(e->editFlags & kEditPageUnderWay);
    if (to < 1 || to >= from || from > e->pageCount + (pendingPage ? 1u : 0u)) return fail(TAV_E_PAGE);
    if (!e->can_write()) return fail(TAV_EACCES);
    if (!ts.temp2Open) return fail(TAV_E_WORKFILE);

    // The pending directory is finished, so that the chain and the work file
    // hold every page; a table the file needs for its new pages is written,
    // so that reading in this session finds them.
    if (!(ts.closeFlags & kCloseDirectoryDone)) {
        e->editFlags |= kEditPageComplete;
        if (tiff_finish_dir(e, 1) < 0) return -1;
        ts.closeFlags |= kCloseDirectoryDone;
    }
    if (ts.rewriteNeeded && tiff_write_table(e) < 0) return -1;
    const uint32_t t = to - 1, f = from - 1;  // from 0

    // M: the moved directory, N: its successor, T: the target's directory.
    // Every link to be written is checked first: in a damaged file it may
    // lie inside another page's directory.
    uint32_t m = 0, target = 0, n = 0, linkM = 0, linkToTarget = kHeaderLink, linkToM = 0;
    uint32_t before = 0, prev = 0;
    if (tiff_work_entry(e, f, &m) < 0 || tiff_work_entry(e, t, &target) < 0) return -1;
    if (tiff_link_field(e, m, &linkM) < 0 || read_u32(e, linkM, &n) < 0) return -1;
    if (t > 0 ? tiff_work_entry(e, t - 1, &before) < 0 || tiff_link_field(e, before, &linkToTarget) < 0
              : tiff_check_link(e, kNoDirectory, kHeaderLink) < 0)
        return -1;
    if (tiff_work_entry(e, f - 1, &prev) < 0 || tiff_link_field(e, prev, &linkToM) < 0) return -1;

    // The work file takes the new order first; then the chain: ... -> M ->
    // T -> ... -> page from-2 -> N, and the file's table, when it has one.
    // A failure gives back what was written (the work file too).
    std::array<uint8_t, 4> mBytes = file_u32(e, m), tBytes = file_u32(e, target), nBytes = file_u32(e, n);
    std::vector<Patch> patches = {
        {linkToTarget, mBytes.data(), tBytes.data(), 4},
        {linkM, tBytes.data(), nBytes.data(), 4},
        {linkToM, nBytes.data(), mBytes.data(), 4},
    };
    TableSpan table, work;
    if (ts.pageTableOffset) {
        if (table_span(int(e->fd), ts.pageTableOffset, t, f, mBytes, &table) < 0) return -1;
        patches.push_back({table.at, table.after.data(), table.before.data(), uint32_t(table.after.size())});
    }
    // A page that comes to the front carries the table when it has a table
    // entry: readers look there first, and then trust the table.
    CarrierEntry carrier;
    if (t == 0 && front_directory(e, m, &carrier) < 0) return -1;
    if (carrier.slot >= 0) patches.push_back({carrier.pos, carrier.now.data(), carrier.before.data(), 12});
    std::array<uint8_t, 4> mHost;
    std::memcpy(mHost.data(), &m, 4);
    if (table_span(ts.temp2Desc, 0, t, f, mHost, &work) < 0) return -1;
    const uint32_t workBytes = uint32_t(work.after.size());
    if (tiff_pwrite(ts.temp2Desc, work.at, work.after.data(), workBytes) < 0 || apply_patches(e, patches) < 0) {
        KeepErrno keep;
        tiff_pwrite(ts.temp2Desc, work.at, work.before.data(), workBytes);
        return -1;
    }

    // Pages counted by index follow their directories. The chain's links
    // changed: the reader's memo of it is void, and the next page appended
    // finds its predecessor through the work file.
    ts.tableIfdIndex = carrier.slot >= 0 ? 0 : index_after_move(ts.tableIfdIndex, t, f);
    if (ts.firstNewPage != kNoPage) ts.firstNewPage = index_after_move(ts.firstNewPage, t, f);
    if (t == 0) ts.realFirstIfd = m;
    ts.ifdMemoCount = 0;
    ts.chainLinkPos = 0;
    return 0;
}
