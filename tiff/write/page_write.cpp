// xtavwrite: a page's data as the caller delivers it. TIFF data is stored as
// it comes and recorded as the page's strips; raw files take the bytes at
// the current position.
#include <cerrno>
#include <initializer_list>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/ops.h"
#include "tiff/write/tiff_writer.h"

namespace {

// Makes room for strip i in both strip lists.
int strip_room(FctEntry* e, uint32_t i) {
    for (StripList* l : {e->stripCounts, e->stripOffsets}) {
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

int32_t tiff_write_strip(FctEntry* e, const void* buffer, uint32_t n, uint16_t page, uint8_t flags) {
    if (page != e->curPage && !(e->editFlags & kEditPageComplete)) {
        errno = TAV_E_OTHER_PAGE;
        return -1;
    }
    int fd = int(e->fd);
    int32_t s = fio_lseek(fd, int32_t(e->tiffWritePos), 0);
    if (s < 0) return -1;
    int32_t w = fio_write(fd, buffer, n);
    if (w < 0) return -1;
    if (e->editFlags & kEditStripOpen) {
        static_cast<uint32_t*>(e->stripCounts->values)[e->stripIndex] += uint32_t(w);
    } else {
        if (strip_room(e, uint32_t(e->stripIndex + 1)) < 0) return -1;
        e->editFlags |= kEditStripOpen;
        ++e->stripIndex;
        static_cast<uint32_t*>(e->stripOffsets->values)[e->stripIndex] = uint32_t(s);
        static_cast<uint32_t*>(e->stripCounts->values)[e->stripIndex] = uint32_t(w);
    }
    if (e->optionFlags[kOptStripWrite]) {
        if (flags & 2) {
            e->editFlags &= uint8_t(~kEditStripOpen);
        } else if (flags & 1) {
            errno = TAV_E_WRITE_FLAG;
            return -1;
        }
    }
    e->tiffWritePos += uint32_t(w);
    if (flags & 1) {
        e->editFlags |= kEditPageComplete;
        e->editFlags &= uint8_t(~kEditStripOpen);
    }
    return w;
}

}  // namespace

int page_write(int handle, void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if ((e->openFlags & 3) == 0 || count == 0x7FFFFFFF) return fct_fail(e, TAV_EACCES);
    uint8_t& state = e->pageState();
    if (e->fileType != FILETYPE_RAW) {
        if (page == 0) return fct_fail(e, TAV_EINVAL);
        --page;
        if (!(state & 1)) return fct_fail(e, TAV_E_SEQUENCE);
        state |= 2;
    }
    if (count == 0 && e->fileType != FILETYPE_AWD) return fct_fail(e, TAV_E_COUNT);
    if (!buffer) return fct_fail(e, TAV_EINVAL);
    int32_t result = 0;
    switch (e->fileType) {
    case FILETYPE_RAW: {
        int32_t w = fio_write(int(e->fd), buffer, count);
        if (w < 0 || uint32_t(w) != count) {
            if (errno == 0) errno = TAV_EIO;
            return fct_fail_errno(e);
        }
        return w;
    }
    case FILETYPE_TIFF:
        result = tiff_write_strip(e, buffer, count, page, flag);
        if (result < 0) return fct_fail_errno(e);
        break;
    case FILETYPE_RESERVED4:
    case FILETYPE_RESERVED5:
    case FILETYPE_GIF:
        result = 0;
        break;
    default:
        return fct_fail(e, TAV_E_NOT_SUPPORTED);
    }
    if (e->editFlags & kEditPageComplete) state = 0;
    return result;
}
