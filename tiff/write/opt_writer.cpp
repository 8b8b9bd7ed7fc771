// Options of the page writer and of the annotation areas: the page index
// chunk size (9), the image length of the page being written (11), and the
// two annotation areas of TIFF pages (15 to 17: tag 32932; 19 to 21: tag
// 32931).
#include <algorithm>
#include <cerrno>

#include "fileio/fio.h"
#include "frame/ops.h"
#include "tiff/write/tiff_writer.h"

namespace {

struct Area {
    uint32_t& length;
    uint32_t& offset;
};

Area area_of(FctEntry* e, uint32_t option) {
    if (option <= 17) return Area{e->aux1Len, e->aux1Off};
    return Area{e->aux2Len, e->aux2Off};
}

uint32_t file_offset(const FctEntry* e, uint32_t offset) {
    return e->hasPrivateIndex == 1 ? offset + e->tiffBase : offset;
}

int area_info(FctEntry* e, Area a, uint32_t* value) {
    auto* out = reinterpret_cast<TavAreaInfo*>(value);
    out->length = a.length;
    out->offset = file_offset(e, a.offset);
    return 0;
}

int area_read(FctEntry* e, Area a, uint32_t* value) {
    auto* req = reinterpret_cast<TavAreaRead*>(value);
    uint32_t offset = std::min(req->offset, a.length);
    uint32_t count = std::min(req->count, a.length - offset);
    if (count == 0) {
        req->count = 0;
        return 0;
    }
    if (!req->buffer) return fct_fail(e, TAV_EINVAL);
    uint64_t at = uint64_t(file_offset(e, a.offset)) + offset;
    if (at > 0x7FFFFFFFu) return fct_fail(e, TAV_E_SEEK);
    if (fio_seek_to(int(e->fd), uint32_t(at)) < 0) return fct_fail_errno(e);
    int32_t got = fio_read(int(e->fd), req->buffer, count);
    if (got < 1) {
        if (errno == 0) errno = TAV_EIO;
        return fct_fail_errno(e);
    }
    req->count = uint32_t(got);
    return 0;
}

int area_append(FctEntry* e, Area a, uint32_t* value) {
    auto* req = reinterpret_cast<TavAreaAppend*>(value);
    if (req->count == 0) return 0;
    if (!req->buffer) return fct_fail(e, TAV_EINVAL);
    if (a.length == 0) {
        e->tiffWritePos = (e->tiffWritePos + 3u) & ~3u;
        a.offset = e->tiffWritePos;
    }
    if (uint64_t(e->tiffWritePos) + req->count > 0x7FFFFFFFu) return fct_fail(e, TAV_E_SEEK);
    if (fio_lseek(int(e->fd), int32_t(e->tiffWritePos), 0) < 0) return fct_fail_errno(e);
    int32_t w = fio_write(int(e->fd), req->buffer, req->count);
    if (w < 0 || uint32_t(w) != req->count) {
        if (errno == 0) errno = TAV_EIO;
        if (w > 0) e->tiffWritePos += uint32_t(w);
        return fct_fail_errno(e);
    }
    e->tiffWritePos += uint32_t(w);
    a.length += req->count;
    return 0;
}

int image_length(FctEntry* e, uint32_t* value) {
    if (!value) return fct_fail(e, TAV_E_OPTION);
    uint32_t rows = *value;
    if (rows == 0) return fct_fail(e, TAV_EINVAL);
    if (!(e->pageState() & 1)) return 0;
    if (e->fileType != FILETYPE_TIFF || !e->workDir || !e->dirPending) return 0;
    TiffDir* d = e->workDir;
    for (int i = d->entryCount - 1; i >= 0; --i) {
        if (d->entries[i].tag == 257) {
            d->entries[i].value = rows;
            if (rows >= 65536) d->entries[i].type = kTiffLong;
            break;
        }
    }
    return 0;
}

int index_window(FctEntry* e, uint32_t* value) {
    uint32_t n = uint32_t(reinterpret_cast<uintptr_t>(value));
    if (n == 0) return fct_fail(e, TAV_E_OPTION);
    // Only a handle that reads a page index has a chunk size to set.
    if (!e->indexCache) return fct_fail(e, TAV_E_INDEX_KIND);
    e->optionFlags[kOptIndexWindow] = 1;
    e->indexCache->entriesPerChunk = n;
    return 0;
}

}  // namespace

int opt_writer(FctEntry* e, uint32_t option, uint32_t* value) {
    switch (option) {
    case 9:
        return index_window(e, value);
    case 11:
        return image_length(e, value);
    default:
        break;
    }
    if (!value) return fct_fail(e, TAV_E_OPTION);
    switch (option) {
    case 15:
    case 19:
        return area_info(e, area_of(e, option), value);
    case 16:
    case 20:
        return area_read(e, area_of(e, option), value);
    case 17:
    case 21:
        return area_append(e, area_of(e, option), value);
    default:
        return fct_fail(e, TAV_E_OPTION);
    }
}
