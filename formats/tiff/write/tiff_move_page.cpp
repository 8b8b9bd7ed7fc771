// Option 22: moving one page of a TIFF file open for update to an earlier
// place. Nothing is copied: the page's directory is unlinked from the chain
// and linked in again before the target page. The page order of the session
// (the page offset table work file) follows, and so does the file's page
// offset table when it has one, so that moves and appended pages compose in
// any order, in files with a table and without.
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

int read_u32(FctEntry* e, uint32_t pos, uint32_t* v) {
    uint8_t b[4];
    if (tiff_pread(int(e->fd), pos, b, 4) < 0) return -1;
    *v = tiff_get32(b, tiff_order(e));
    return 0;
}

// Writes each offset into its link field, in the file's byte order.
int relink(FctEntry* e, TiffPatchLog& log, std::initializer_list<uint32_t> links,
           std::initializer_list<uint32_t> offsets) {
    const uint32_t* value = offsets.begin();
    for (uint32_t link : links) {
        uint8_t b[4];
        tiff_put32(b, *value++, tiff_order(e));
        if (log.write(link, b, 4) < 0) return -1;
    }
    return 0;
}

constexpr uint32_t kHeaderLink = 4;  // the header's first-IFD field

// Entries to .. from of the page offset table work file (16 header bytes,
// then a host-order u32 a page) as they are, and as they become when the
// entry at `from` (the directory m) moves to `to`.
struct WorkSpan {
    uint32_t at = 0;  // position of entry `to`
    std::vector<uint32_t> before, after;
    uint32_t bytes() const { return uint32_t(4 * after.size()); }
};

int work_span(FctEntry* e, uint32_t to, uint32_t from, uint32_t m, WorkSpan* out) {
    out->at = kPageTableHeader + 4 * to;
    out->before.resize(from - to + 1);
    if (tiff_pread(tiff_of(e).temp2Desc, out->at, out->before.data(), 4 * (from - to + 1)) < 0) return -1;
    out->after = {m};
    out->after.insert(out->after.end(), out->before.begin(), out->before.end() - 1);
    return 0;
}

// The file's table follows the move: its entries from `to` on become the
// work file's. (Not moved about in the file: readers take page 1 from the
// header, whatever the table's first entry says, and so does the work file.)
int move_table_entries(FctEntry* e, TiffPatchLog& log, const WorkSpan& span) {
    std::vector<uint8_t> entries(span.bytes());
    for (size_t i = 0; i < span.after.size(); ++i) tiff_put32(&entries[4 * i], span.after[i], tiff_order(e));
    return log.write(tiff_of(e).pageTableOffset + span.at, entries.data(), span.bytes());
}

// A directory that names a page index must not come to the front: readers
// would take the file for a page index file. Only a first directory has
// the tag, so one elsewhere is damaged (TAV_E_DIRECTORY).
int check_front(FctEntry* e, uint32_t ifd) {
    TiffDir dir;
    if (tiff_read_raw_dir(int(e->fd), ifd, tiff_order(e), e->origSize, &dir) < 0) return -1;
    return tiff_dir_find(dir, kTagPageIndex) >= 0 ? fail(TAV_E_DIRECTORY) : 0;
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

    if (t == 0 && check_front(e, m) < 0) return -1;

    // The work file takes the new order first; then the chain: ... -> M ->
    // T -> ... -> page from-2 -> N; then, when the file has a table, the
    // directory readers now meet first names it, and the table follows the
    // move. A failure gives back what was written (the work file too). The
    // table's entries go last: every write before them is of single words,
    // so even a failed write that reaches the disk by halves is undone
    // whole.
    WorkSpan work;
    if (work_span(e, t, f, m, &work) < 0) return -1;
    TiffPatchLog log(int(e->fd));
    uint32_t carrier = 0;
    if (tiff_pwrite(ts.temp2Desc, work.at, work.after.data(), work.bytes()) < 0 ||
        relink(e, log, {linkToTarget, linkM, linkToM}, {m, target, n}) < 0 ||
        (ts.pageTableOffset && (tiff_find_carrier(e, &carrier) < 0 ||
                                tiff_name_table(e, carrier, ts.pageTableOffset, log) < 0 ||
                                move_table_entries(e, log, work) < 0))) {
        KeepErrno keep;
        log.undo();
        tiff_pwrite(ts.temp2Desc, work.at, work.before.data(), work.bytes());
        return -1;
    }
    log.keep();

    // The chain's links changed: the reader's memo of it is void, and the
    // next page appended finds its predecessor through the work file.
    if (ts.pageTableOffset) ts.tableCarrier = carrier;
    if (t == 0) ts.realFirstIfd = m;
    ts.ifdMemoCount = 0;
    ts.chainLinkPos = 0;
    return 0;
}
