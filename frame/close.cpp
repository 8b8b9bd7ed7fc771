// Close and abort: the format's finishing steps (close only),
// the blocks the entry holds, the descriptor (abort cuts an opened file back
// to its length at open) and the table entry.
//
// TIFF: close calls the writer's tiff_close_finish when the file was opened
// or created for writing and is not empty (the final directory, the page
// offset table, the link restore on failure); abort calls
// tiff_abort_restore (the first patched link goes back before the cut).
// In both cases the writer's state is then released (tiff_release_writer
// closes and deletes its work files: abort deletes them too, the safe
// choice) and the reader's (tiff_release_reader).
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "qvtav.h"
#include "tiff/tiff.h"

void fct_free_blocks(FctEntry* e) {
    if (!e) return;
    int saved = errno;
    if (e->fileType == FILETYPE_TIFF) {
        tiff_release_writer(e);
        tiff_release_reader(e);
    }
    mem_free_field(e->hdrBlock);
    e->hdrBlockLen = 0;
    mem_free_field(e->extraOffsets);
    mem_free_field(e->textTagOffsets);
    if (e->pageInfo.compression == TAV_COMP_JPEG_INFO && e->pageInfo.compressionInfo.jpeg) {
        // Blocks the library did not allocate (a caller's record given to
        // xtavputi) are not in the memory table and are left alone.
        JpegInfo* j = e->pageInfo.compressionInfo.jpeg;
        mem_free_field(j->header);
        mem_free(j);
        e->pageInfo.compressionInfo.jpeg = nullptr;
    }
    mem_free_field(e->dcxOffsets);
    strip_list_free(e->stripCounts);
    strip_list_free(e->stripOffsets);
    strip_list_free(e->storedCounts);
    errno = saved;
}

int tav_close(int handle, int flush) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    int failure = 0;
    auto note = [&](int fallback) { failure = errno ? errno : fallback; };
    bool open = e->fd > 0;

    // Step 2: finishing the format (close only).
    if (e->fileType == FILETYPE_TIFF && open) {
        if (flush) {
            if (e->openFlags & 3) {
                int32_t end = fio_lseek(int(e->fd), 0, 2);
                if (end < 0) {
                    note(TAV_E_SEEK);
                } else if (end > 0) {
                    errno = 0;
                    if (tiff_close_finish(e) < 0) note(TAV_E_NOT_SUPPORTED);
                }
            }
        } else {
            tiff_abort_restore(e);  // the writer knows whether it patched a link
        }
    }

    // Step 3: the blocks (with the TIFF reader and writer state).
    fct_free_blocks(e);

    // Step 4: the descriptor.
    if (open && e->fileType != FILETYPE_AWD) {
        errno = 0;
        int r;
        // A descriptor opened read only was never written: nothing to cut.
        bool writable = (e->openFlags & 3) || (e->openFlags & TAV_OPEN_UPDATE);
        if (flush || e->origSize == 0 || !writable)
            r = fio_close(int(e->fd));
        else
            r = fio_truncate_close(int(e->fd), e->origSize);
        if (r < 0) note(TAV_EBADF);
        e->fd = -1;
    }

    // Step 5: the entry.
    if (failure) e->lastError = failure;
    if (fct_release(handle) < 0) return -1;
    if (failure) {
        errno = failure;
        return -1;
    }
    return 0;
}
