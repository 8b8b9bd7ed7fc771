// Frees the TIFF reader's page-location state (at close and abort): the page
// index window with its chunk list, the directory work buffer, the work-file
// name and the chain memo. The writer's release (tiff_release_writer) runs
// first: it closes the work file the name refers to.
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/tiff/tiff.h"

void tiff_release_reader(FctEntry* e) {
    KeepErrno keep;
    TiffState& ts = tiff_of(e);
    if (PageIndexCache* c = ts.indexCache) {
        mem_free_field(c->chunks);
        mem_free(c);
        ts.indexCache = nullptr;
    }
    mem_free_field(ts.workDir);
    mem_free_field(ts.tempName);
    mem_free_field(ts.ifdMemo);
    ts.ifdMemoCount = 0;
    ts.ifdMemoCap = 0;
}
