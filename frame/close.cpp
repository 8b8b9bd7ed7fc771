// Close and abort: the format's finishing writes (close) or its undoing
// (abort), the blocks the entry holds, the descriptor (abort cuts an opened
// file back to its length at open) and the table entry.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "qvtav.h"

void fct_free_blocks(FctEntry* e) {
    if (!e) return;
    KeepErrno keep;
    if (e->format && e->format->release) e->format->release(e);
    mem_free_field(e->extraOffsets);
    mem_free_field(e->textTagOffsets);
    jpeg_info_free(e->readerJpeg);
}

namespace {

// The descriptor at the end of a handle: closed; cut to the length its
// complete pages need when the format dropped a page; or after an abort of
// a handle that could write, the file given back as it was at open (the
// bytes the handle replaced, also by the format's set-up, and its length).
int close_descriptor(FctEntry* e, int flush) {
    errno = 0;
    bool writable = e->can_write() || (e->openFlags & TAV_OPEN_UPDATE);
    int r;
    if (flush && e->cutAtClose)
        r = fio_truncate_close(int(e->fd), e->keepLength);
    else if (flush || e->origSize == 0 || !writable)
        r = fio_close(int(e->fd));
    else
        r = fio_journal_undo_close(int(e->fd));
    e->fd = -1;
    return r;
}

}  // namespace

int tav_close(int handle, int flush) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    int failure = 0;
    auto note = [&](int fallback) { failure = errno_or(fallback); };
    const bool open = e->fd > 0;
    const FormatOps* f = e->format;

    if (open && f) {
        errno = 0;
        if (flush) {
            if (f->finish && f->finish(e) < 0) note(TAV_E_NOT_SUPPORTED);
        } else if (f->abort) {
            f->abort(e);
        }
    }
    fct_free_blocks(e);
    if (open && !(f && (f->traits & kTraitOwnStorage)) && close_descriptor(e, flush) < 0)
        note(TAV_EBADF);
    e->fd = -1;

    if (failure) e->lastError = failure;
    if (fct_release(handle) < 0) return -1;
    if (failure) {
        errno = failure;
        return -1;
    }
    return 0;
}
