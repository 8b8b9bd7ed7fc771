// The TIFF writer at close: finishing the last directory and the page offset
// table; and, at close and abort, releasing the writer's state and work
// file. (What an aborted update changed inside the file is put back by the
// descriptor's journal.)
//
// A last page whose data did not all reach the file is dropped: the file
// keeps the pages before it, linked as before, and is cut behind them (and
// their page offset table, written where the dropped page began); close
// then fails with the code of the write that broke the page.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"

int tiff_close_finish(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (!e->can_write()) return 0;
    int32_t end = fio_length(int(e->fd), TAV_E_SEEK);
    if (end < 0) return -1;
    if (end == 0) return 0;  // an empty file has nothing to finish
    const int broken = ts.pageBroken;
    const uint32_t kept = ts.pageStart;
    if (broken && tiff_drop_page(e) < 0) return -1;
    int rc = 0;
    e->editFlags |= kEditPageComplete;
    if (!(ts.closeFlags & kCloseDirectoryDone) && ts.dirPending && tiff_finish_dir(e, 1) < 0) rc = -1;
    e->editFlags &= uint8_t(~kEditPageComplete);
    const bool table = rc == 0 && ts.rewriteNeeded;
    if (table && tiff_write_table(e, broken ? kept : 0) < 0) {
        rc = -1;
        // The chain ends again where it ended before the last page.
        if (!(ts.closeFlags & kCloseDirectoryDone) && ts.prevLinkPos) {
            KeepErrno keep;
            fio_write_at(int(e->fd), ts.prevLinkPos, &ts.prevLinkValue, 4);
        }
    }
    if (broken) {
        // A table written now ends the file; without one the kept pages do.
        fct_cut_at_close(e, table && rc == 0 ? ts.pageTableOffset + kPageTableHeader + 4u * e->pageCount : kept);
        if (rc == 0) errno = broken;
        rc = -1;
    }
    return rc;
}

void tiff_drop_work_file(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (!ts.temp2Open) return;
    KeepErrno keep;
    fio_close(ts.temp2Desc);
    if (ts.tempName) fio_remove(nullptr, ts.tempName);
    ts.temp2Open = 0;
    ts.temp2Desc = 0;
}

void tiff_release_writer(FctEntry* e) {
    KeepErrno keep;
    TiffState& ts = tiff_of(e);
    tiff_drop_work_file(e);
    tiff_free_strip_lists(e);
    mem_free_field(ts.tempName);
    mem_free_field(ts.workDir);
    ts.dirPending = 0;
}
