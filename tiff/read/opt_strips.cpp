// Options 12, 13 and 23: the size of
// one strip byte-count entry, and the current page's strip byte counts, as
// the reader uses them (13) or exactly as the file stores them (23).
//
// Choices:
//  - Option 13 and 23 copy at most as many entries as the page has; the
//    rest of the caller's buffer is left alone. Entries have the size option
//    12 reports (2 for SHORT, else 4), whatever width the table has in
//    memory.
//  - Option 23 on a page whose file holds no byte counts (they were made
//    from the offsets) gives the counts the reader made; on a block file it
//    answers as option 13.
//  - A missing value record or buffer is refused with 272.
#include <cerrno>
#include <cstring>

#include "frame/fct.h"
#include "frame/ops.h"
#include "tiff/read/page_internal.h"

namespace {

uint32_t entry_size(const FctEntry* e) {
    return (e->stripCounts && e->stripCounts->type == kTiffShort) ? 2 : 4;
}

void copy_counts(const StripList* l, uint32_t want, void* buffer, uint32_t width) {
    if (!l) return;
    uint32_t n = want < l->count ? want : l->count;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t v = strip_list_get(l, i);
        if (width == 2) {
            uint16_t s = uint16_t(v);
            std::memcpy(out + 2 * i, &s, 2);
        } else {
            std::memcpy(out + 4 * i, &v, 4);
        }
    }
}

}  // namespace

int opt_strip_counts(FctEntry* e, uint32_t option, uint32_t* value) {
    if (!value) return fct_fail(e, TAV_E_OPTION);
    const bool tiff = e->fileType == FILETYPE_TIFF;
    const bool block = e->fileType == FILETYPE_BLOCK;
    if (option == 12) {
        uint16_t size;
        if (block) size = 4;
        else if (tiff) size = uint16_t(entry_size(e));
        else return 0;  // the cell is left as it was
        std::memcpy(value, &size, 2);
        return 0;
    }
    TavStripCounts* rec = reinterpret_cast<TavStripCounts*>(value);
    if (!tiff && !block) return 0;
    if (!rec->buffer) return (tiff && rec->count == 0) ? 0 : fct_fail(e, TAV_E_OPTION);
    if (block) {
        const PageInfo& pi = e->pageInfo;
        uint32_t v = pi.imageLength * (pi.imageWidth / 8);
        std::memcpy(rec->buffer, &v, 4);
        return 0;
    }
    // A page being written (the writer's lists have type 0) has no stored
    // counts but its own.
    const StripList* l = e->stripCounts;
    if (option == 23 && e->storedCounts && l && l->type != 0) l = e->storedCounts;
    copy_counts(l, rec->count, rec->buffer, entry_size(e));
    return 0;
}
