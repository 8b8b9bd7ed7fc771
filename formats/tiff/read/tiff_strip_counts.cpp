// Options 12, 13 and 23 of a TIFF handle: the size of one strip byte-count
// entry, and the current page's strip byte counts, as the reader uses them
// (13) or exactly as the file stores them (23).
//
// Behaviour:
//  - Option 13 and 23 copy at most as many entries as the page has; the
//    rest of the caller's buffer is left alone. Entries have the size option
//    12 reports (2 for SHORT, else 4), whatever width the table has in
//    memory.
//  - Option 23 on a page whose file holds no byte counts (they were made
//    from the offsets) gives the counts the reader made.
//  - A missing value record or buffer is refused with TAV_E_OPTION.
#include <cerrno>
#include <cstring>

#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/tiff.h"
#include "frame/fct.h"

namespace {

uint32_t entry_size(const FctEntry* e) {
    const TiffState& ts = tiff_of(e);
    return (ts.stripCounts && ts.stripCounts->type == kTiffShort) ? 2 : 4;
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

int tiff_strip_counts(FctEntry* e, uint32_t option, uint32_t* value) {
    const TiffState& ts = tiff_of(e);
    if (option == kOptCountSize) {
        uint16_t size = uint16_t(entry_size(e));
        std::memcpy(value, &size, 2);
        return 0;
    }
    auto* rec = reinterpret_cast<TavStripCounts*>(value);
    if (!rec->buffer) {
        if (rec->count == 0) return 0;
        errno = TAV_E_OPTION;
        return -1;
    }
    // A page being written (the writer's lists have type 0) has no stored
    // counts but its own.
    const StripList* l = ts.stripCounts;
    if (option == kOptStoredCounts && ts.storedCounts && l && l->type != 0) l = ts.storedCounts;
    copy_counts(l, rec->count, rec->buffer, entry_size(e));
    return 0;
}
