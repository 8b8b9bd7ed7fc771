// Frees the TIFF reader's page-location state (released at close): the page index cache with its header image and chunk list,
// the TiffDir work buffer, the temporary file name and the chain memo.
// The writer's release (tiff_release_writer) runs first: it closes the work
// files the cache and the name refer to.
#include <cerrno>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "tiff/tiff.h"

void tiff_release_reader(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (!e) return;
    int saved = errno;
    if (PageIndexCache* c = ts.indexCache) {
        mem_free_field(c->header);
        mem_free_field(c->chunks);
        mem_free(c);
        ts.indexCache = nullptr;
    }
    mem_free_field(ts.workDir);
    mem_free_field(ts.tempName);
    mem_free_field(ts.ifdMemo);
    ts.ifdMemoCount = 0;
    ts.ifdMemoCap = 0;
    errno = saved;
}
