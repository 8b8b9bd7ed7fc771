// Page data of a TIFF page, stored as the caller delivers it and recorded as
// the page's strips. Data that would leave no room for what close writes
// behind it (strip tables, page offset table) within the length limit is
// refused before any byte is written (TAV_E_SEEK); such a refusal, and a write
// that fails, leave the page broken: it can take no more data and never
// enters the file.
#include <cerrno>
#include <initializer_list>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"
#include "frame/format.h"

namespace {

// Makes room for strip i in both strip lists.
int strip_room(FctEntry* e, uint32_t i) {
    TiffState& ts = tiff_of(e);
    for (StripList* l : {ts.stripCounts, ts.stripOffsets}) {
        if (!l) {
            errno = TAV_ENOMEM;
            return -1;
        }
        if (i < l->count && l->values) continue;
        uint32_t want = i == 0 ? (e->pageInfo.stripCount ? e->pageInfo.stripCount : 1) : i + 1;
        if (want > 0x3FFFFFFF) {
            errno = TAV_ENOMEM;
            return -1;
        }
        void* grown = l->values ? mem_realloc(l->values, want * 4) : mem_calloc(want, 4);
        if (!grown) {
            errno = TAV_ENOMEM;
            return -1;
        }
        l->values = grown;
        l->count = want;
        l->type = 0;
    }
    return 0;
}

}  // namespace

int32_t tiff_write_strip(FctEntry* e, const void* buffer, uint32_t n, uint16_t page,
                         uint8_t flags) {
    TiffState& ts = tiff_of(e);
    if (page != e->curPage && !(e->editFlags & kEditPageComplete)) {
        errno = TAV_E_OTHER_PAGE;
        return -1;
    }
    if (ts.pageBroken) {
        errno = ts.pageBroken;
        return -1;
    }
    const bool newStrip = !(e->editFlags & kEditStripOpen);
    const uint32_t strips = uint32_t(ts.stripIndex + 1) + (newStrip ? 1u : 0u);
    errno = 0;
    if (tiff_check_room(e, uint64_t(ts.tiffWritePos) + n, strips) < 0) return tiff_break_page(e);
    int fd = int(e->fd);
    int32_t s = fio_lseek(fd, int32_t(ts.tiffWritePos), kFioSeekSet);
    if (s < 0) return tiff_break_page(e);
    int32_t w = fio_write(fd, buffer, n);
    if (w < 0 || uint32_t(w) != n) return tiff_break_page(e);
    if (!newStrip) {
        static_cast<uint32_t*>(ts.stripCounts->values)[ts.stripIndex] += uint32_t(w);
    } else {
        if (strip_room(e, uint32_t(ts.stripIndex + 1)) < 0) return tiff_break_page(e);
        e->editFlags |= kEditStripOpen;
        ++ts.stripIndex;
        static_cast<uint32_t*>(ts.stripOffsets->values)[ts.stripIndex] = uint32_t(s);
        static_cast<uint32_t*>(ts.stripCounts->values)[ts.stripIndex] = uint32_t(w);
    }
    if (e->optionFlags[kOptStripWrite]) {
        if (flags & kWriteEndOfStrip) {
            e->editFlags &= uint8_t(~kEditStripOpen);
        } else if (flags & kWriteLastData) {
            errno = TAV_E_WRITE_FLAG;
            return -1;
        }
    }
    ts.tiffWritePos += uint32_t(w);
    if (flags & kWriteLastData) {
        e->editFlags |= kEditPageComplete;
        e->editFlags &= uint8_t(~kEditStripOpen);
    }
    return w;
}
