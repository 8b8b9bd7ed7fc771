// Create: a new, empty file of a creatable type, ready for page writing. A
// create that fails after the file was made deletes it again, so a failed
// create leaves no file behind.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "frame/page_values.h"
#include "qvtav.h"

namespace {

int create_fail(FctEntry* e, int handle, int code) {
    fct_free_blocks(e);
    fct_fail(e, code);
    return -handle;
}

// A failure after the file was created: close it, delete it, fail.
int create_fail_remove(FctEntry* e, int handle, int code, const FormatRequest& req) {
    {
        KeepErrno keep;
        fct_free_blocks(e);
        if (e->fd > 0) {
            fio_close(int(e->fd));
            fio_remove(req.location, req.path);
        }
        e->fd = -1;
    }
    return create_fail(e, handle, code);
}

}  // namespace

int tav_create(FileLocation* loc, char* path, uint32_t* fileType, bool* noEntry) {
    errno = 0;
    int h = fct_take_entry(noEntry);
    if (h < 0) return -1;
    FctEntry* e = fct_entry_at(h);
    bool local = !loc || loc->isRemote == 0;

    const FormatOps* f = fileType ? format_of(*fileType) : nullptr;
    if (!f || !f->can_create || !f->can_create(local)) return create_fail(e, h, TAV_EINVAL);
    e->format = f;
    e->fileType = f->fileType;
    e->pageCount = 0;
    e->openFlags |= kCreatedFlag;
    e->byteOrder = kByteOrderII;
    e->origSize = 0;
    FormatRequest req{loc, path, kFioModeReadWrite};
    if (f->traits & kTraitOwnStorage) {
        // The format makes its document itself.
        errno = 0;
        if (f->create(e, req) < 0) return create_fail(e, h, errno_or(TAV_E_NOT_SUPPORTED));
        return h;
    }

    errno = 0;
    int fd = fio_creat(loc, path, 0);
    if (fd < 0) {
        e->fd = -1;
        return create_fail(e, h, errno_or(TAV_EEXIST));
    }
    e->fd = fd;
    errno = 0;
    if (f->create && f->create(e, req) < 0)
        return create_fail_remove(e, h, errno_or(TAV_E_NOT_SUPPORTED), req);
    return h;
}
