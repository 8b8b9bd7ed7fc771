// Writer set-up of a new TIFF file: the work directory, the name of the page
// offset table work file, and the work file primed with the first entry.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/write/tiff_writer.h"

int tiff_create_setup(FctEntry* e) {
    e->pageIndexOffset = 0;
    e->pageTableOffset = 0;
    e->tiffBase = 0;
    e->firstIfdOffset = 8;
    e->realFirstIfd = 8;
    e->firstNewPage = kNoPage;
    e->chainLinkPos = 0;
    e->dirPending = 0;
    if (!e->workDir) {
        e->workDir = static_cast<TiffDir*>(mem_calloc(1, sizeof(TiffDir)));
        if (!e->workDir) {
            errno = TAV_ENOMEM;
            return -1;
        }
    }
    if (!e->tempName) {
        e->tempName = static_cast<char*>(mem_calloc(TAV_PATH_SIZE, 1));
        if (!e->tempName) {
            errno = TAV_ENOMEM;
            return -1;
        }
        if (!tmp_name_in_tempdir(e->tempName)) {
            mem_free_field(e->tempName);
            errno = TAV_E_WORKFILE;
            return -1;
        }
    }
    if (tiff_table_copy(e, 1) < 0) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    return 0;
}
