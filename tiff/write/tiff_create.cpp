// Writer set-up of a new TIFF file: the work directory, the name of the page
// offset table work file, and the work file primed with the first entry.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/write/tiff_writer.h"

int tiff_create_setup(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    ts.pageIndexOffset = 0;
    ts.pageTableOffset = 0;
    ts.tiffBase = 0;
    ts.firstIfdOffset = 8;
    ts.realFirstIfd = 8;
    ts.firstNewPage = kNoPage;
    ts.chainLinkPos = 0;
    ts.dirPending = 0;
    if (!ts.workDir) {
        ts.workDir = static_cast<TiffDir*>(mem_calloc(1, sizeof(TiffDir)));
        if (!ts.workDir) {
            errno = TAV_ENOMEM;
            return -1;
        }
    }
    if (!ts.tempName) {
        ts.tempName = static_cast<char*>(mem_calloc(TAV_PATH_SIZE, 1));
        if (!ts.tempName) {
            errno = TAV_ENOMEM;
            return -1;
        }
        if (!tmp_name_in_tempdir(ts.tempName)) {
            mem_free_field(ts.tempName);
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
