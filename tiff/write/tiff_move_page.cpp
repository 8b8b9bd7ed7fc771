// Option 22: moving one page of a TIFF file open for update to an earlier
// place. Nothing is copied: the page's directory is unlinked from the chain
// and linked in again before the target page, and the page offset table is
// updated to the same order.
#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
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

// Position of the page offset table's entry for page i (from 0).
uint32_t table_slot(const FctEntry* e, uint32_t i) {
    return tiff_of(e).pageTableOffset + kPageTableHeader + 4 * i;
}

// The next-IFD field of the directory at ifd.
int link_of(FctEntry* e, uint32_t ifd, uint32_t* link) {
    uint8_t b[2];
    if (read_at(e, ifd, b, 2) < 0) return -1;
    uint16_t n = tiff_get16(b, tiff_order(e));
    *link = ifd + 2 + 12 * uint32_t(n);
    return 0;
}

}  // namespace

int tiff_move_page(FctEntry* e, uint32_t to, uint32_t from) {
    TiffState& ts = tiff_of(e);
    if (to < 1 || to >= from || from > e->pageCount) return fail(TAV_E_PAGE);
    if (!e->can_write()) return fail(TAV_EACCES);

    if (to - 1 <= ts.tableIfdIndex) ts.tableFromChain = 1;
    ts.updateMode = kUpdateMoved;  // later pages are not linked to their predecessor

    // The pending directory is finished and the table written, so that the
    // file's chain and table hold every page.
    if (!(ts.closeFlags & kCloseDirectoryDone)) {
        e->editFlags |= kEditPageComplete;
        if (tiff_finish_dir(e, 1) < 0) return -1;
        ts.closeFlags |= kCloseDirectoryDone;
    }
    if (ts.rewriteNeeded && tiff_write_table(e) < 0) return -1;
    if (ts.pageTableOffset == 0) return fail(TAV_E_NOT_SUPPORTED);

    // M: the moved directory, N: its successor, T: the target's directory.
    uint32_t m = 0, t = 0, n = 0, linkM = 0, linkToTarget = 4, linkToM = 0;
    if (read_u32(e, table_slot(e, from - 1), &m) < 0) return -1;
    if (read_u32(e, table_slot(e, to - 1), &t) < 0) return -1;
    if (link_of(e, m, &linkM) < 0 || read_u32(e, linkM, &n) < 0) return -1;
    if (to > 1) {
        uint32_t before = 0;
        if (read_u32(e, table_slot(e, to - 2), &before) < 0 || link_of(e, before, &linkToTarget) < 0)
            return -1;
    }
    uint32_t prev = 0;
    if (read_u32(e, table_slot(e, from - 2), &prev) < 0 || link_of(e, prev, &linkToM) < 0)
        return -1;

    // Table: M at the target's place, the entries behind it move up by one.
    // `before` holds the entries to-1 .. from-1 as they are, `after` the same
    // places as they become.
    uint32_t span = from - to + 1;
    std::array<uint8_t, 2 * 64 * 4> small;
    uint8_t* before = small.data();
    MemBlock<uint8_t> big;
    if (span > 64) {
        big.reset(static_cast<uint8_t*>(mem_calloc(span, 2 * 4)));
        if (!big) return -1;
        before = big.get();
    }
    uint8_t* after = before + 4 * span;
    if (read_at(e, table_slot(e, to - 1), before, 4 * span) < 0) return -1;
    std::array<uint8_t, 4> mBytes = file_u32(e, m);
    std::memcpy(after, mBytes.data(), 4);
    std::memcpy(after + 4, before, 4 * (span - 1));

    // Chain: ... -> M -> T -> ... -> page from-2 -> N.
    std::array<uint8_t, 4> tBytes = file_u32(e, t), nBytes = file_u32(e, n);
    const Patch patches[] = {
        {linkToTarget, mBytes.data(), tBytes.data(), 4},
        {linkM, tBytes.data(), nBytes.data(), 4},
        {linkToM, nBytes.data(), mBytes.data(), 4},
        {table_slot(e, to - 1), after, before, 4 * span},
    };
    if (apply_patches(e, patches) < 0) return -1;
    return 0;
}
