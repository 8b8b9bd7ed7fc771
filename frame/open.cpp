// Open with format detection: flag checks, the documents kept in their own
// storage (found by path), the descriptor, detection and the format's
// set-up.
#include <cerrno>

#include "fileio/fio.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "qvtav.h"

namespace {

// A failure of the open: the code into lastError, the negated handle.
int open_fail(FctEntry* e, int handle, int code) {
    fct_free_blocks(e);
    fct_fail(e, code);
    return -handle;
}

// A failure with close: the descriptor is closed and fd becomes -1 first.
// What the format's set-up wrote before it failed is taken back: a refused
// open leaves the file as it found it.
int open_fail_close(FctEntry* e, int handle, int code) {
    bool ownStorage = e->format && (e->format->traits & kTraitOwnStorage);
    if (e->fd > 0 && !ownStorage) fio_journal_undo_close(int(e->fd));
    e->fd = -1;
    return open_fail(e, handle, code);
}

bool flags_valid(uint32_t flags) {
    uint32_t access = flags & TAV_OPEN_ACCESS_MASK;
    if (access == TAV_OPEN_ACCESS_MASK || (flags & TAV_OPEN_RESERVED_MASK)) return false;
    // Write access is given only together with the update flag.
    return access == TAV_OPEN_READ || (flags & TAV_OPEN_UPDATE);
}

// The access mode of the file layer for the flags.
uint32_t access_mode(uint32_t flags) {
    if ((flags & TAV_OPEN_WRITE) || (flags & TAV_OPEN_UPDATE)) return kFioModeReadWrite;
    return flags & ~TAV_OPEN_RAW;
}

// A document in storage of its own: the format opens it whole.
int open_own_storage(FctEntry* e, int h, const FormatOps* f, const FormatRequest& req) {
    // A handle of raw bytes over such a document has no meaning.
    if (e->openFlags & TAV_OPEN_RAW) return open_fail(e, h, TAV_E_FLAGS);
    e->format = f;
    e->fileType = f->fileType;
    e->origSize = 1;
    e->fd = -1;
    errno = 0;
    if (f->open(e, req) < 0) return open_fail_close(e, h, errno_or(TAV_E_NOT_SUPPORTED));
    return h;
}

// A file reached through a descriptor: its length, its type, its set-up.
int open_descriptor(FctEntry* e, int h, const FormatRequest& req) {
    errno = 0;
    int fd = fio_open(req.location, req.path, req.mode, 0);
    if (fd < 0) {
        e->fd = -1;
        return open_fail(e, h, errno_or(TAV_ENOENT));
    }
    e->fd = fd;
    int32_t end = fio_length(fd, TAV_E_SEEK);
    if (end < 0) return open_fail_close(e, h, errno);
    e->origSize = uint32_t(end);
    if (fio_lseek(fd, 0, kFioSeekSet) < 0) return open_fail_close(e, h, errno_or(TAV_E_SEEK));
    // A handle that may write keeps the bytes it replaces, from the format's
    // set-up on (a TIFF page index file is converted in place), so that a
    // refused open and an abort give the file back exactly.
    if (req.mode == kFioModeReadWrite && fio_journal_start(fd, e->origSize) < 0)
        return open_fail_close(e, h, errno_or(TAV_ENOMEM));

    e->pageCount = 0;
    e->subfileWanted = 0;
    if (e->openFlags & TAV_OPEN_RAW) {
        e->format = format_plain_bytes();
    } else if (tav_detect(e) < 0) {
        return open_fail_close(e, h, errno_or(TAV_ENOMEM));
    }
    e->fileType = e->format->fileType;
    errno = 0;
    if (e->format->open && e->format->open(e, req) < 0) {
        // Also TAV_E_INDEX_SIZE (a TIFF page index of more than 65535
        // entries): the handle would be left without a descriptor, so it is
        // a failure.
        return open_fail_close(e, h, errno_or(TAV_E_NOT_SUPPORTED));
    }
    return h;
}

}  // namespace

int tav_open(FileLocation* loc, char* path, uint32_t flags, uint32_t* fileType,
             uint32_t* pageCount, bool* noEntry) {
    errno = 0;
    int h = fct_take_entry(noEntry);
    if (h < 0) return -1;
    FctEntry* e = fct_entry_at(h);
    if (!flags_valid(flags)) return open_fail(e, h, TAV_E_FLAGS);
    e->openFlags = flags;
    FormatRequest req{loc, path, access_mode(flags)};

    bool local = !loc || loc->isRemote == 0;
    const FormatOps* storage = nullptr;
    if (local) {
        uint32_t status = 0;
        storage = tav_detect_storage(path, &status);
        if (status != 0) return open_fail(e, h, int(status));
    } else if (!path) {
        return open_fail(e, h, TAV_EINVAL);
    }
    int r = storage ? open_own_storage(e, h, storage, req) : open_descriptor(e, h, req);
    if (r < 0) return r;
    if (fileType) *fileType = e->fileType;
    if (pageCount) *pageCount = e->pageCount;
    return h;
}
