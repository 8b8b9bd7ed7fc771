// The TIFF writer at close and abort: finishing the last directory and the
// page offset table, putting back the original link after an abort, and
// releasing the writer's state and work file.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/write/tiff_writer.h"

int tiff_close_finish(FctEntry* e) {
    if (!(e->openFlags & 3) || e->fd <= 0) return 0;
    int32_t end = fio_lseek(int(e->fd), 0, 2);
    if (end <= 0) return 0;
    int rc = 0;
    e->editFlags |= kEditPageComplete;
    if (!(e->closeFlags & 1) && e->dirPending && tiff_finish_dir(e, 1) < 0) rc = -1;
    e->editFlags &= uint8_t(~kEditPageComplete);
    if (rc == 0 && e->rewriteNeeded && tiff_write_table(e) < 0) {
        rc = -1;
        // The chain ends again where it ended before the last page.
        if (!(e->closeFlags & 1) && e->prevLinkPos) {
            int kept = errno;
            if (fio_lseek(int(e->fd), int32_t(e->prevLinkPos), 0) == int32_t(e->prevLinkPos))
                fio_write(int(e->fd), &e->prevLinkValue, 4);
            errno = kept;
        }
    }
    if (rc < 0) e->lastError = errno;
    return rc;
}

void tiff_abort_restore(FctEntry* e) {
    // Appending wrote nothing inside the original file but the first link it
    // patched; putting that back makes the cut file the original again.
    if (!e->firstLinkSaved || e->origSize == 0 || !(e->openFlags & 3) || e->fd <= 0) return;
    if (e->firstLinkPos + 4 > e->origSize) return;
    int kept = errno;
    tiff_pwrite(int(e->fd), e->firstLinkPos, &e->firstLinkValue, 4);
    e->firstLinkSaved = 0;
    errno = kept;
}

void tiff_release_writer(FctEntry* e) {
    int kept = errno;
    if (e->temp2Open) {
        fio_close(e->temp2Desc);
        if (e->tempName) fio_remove(nullptr, e->tempName);
        e->temp2Open = 0;
        e->temp2Desc = 0;
    }
    tiff_free_strip_lists(e);
    mem_free_field(e->tempName);
    mem_free_field(e->workDir);
    e->dirPending = 0;
    errno = kept;
}
