// Writer set-up of a new TIFF file: the work directory, the name of the page
// offset table work file, and the work file primed with the first entry.
#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"

int tiff_create_setup(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    ts.pageIndexOffset = 0;
    ts.pageTableOffset = 0;
    ts.tiffBase = 0;
    ts.firstIfdOffset = kTiffHeaderSize;
    ts.realFirstIfd = kTiffHeaderSize;
    ts.chainLinkPos = 0;
    ts.dirPending = 0;
    if (tiff_alloc_work(e) < 0) return -1;
    if (tiff_table_copy(e, 1) < 0) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    return 0;
}
