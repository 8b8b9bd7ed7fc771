// Options of a TIFF handle: the page index window (9), the image length of
// the page being written (11), and the two annotation areas of TIFF pages
// (15 to 17: tag 32932; 19 to 21: tag 32931).
#include <algorithm>
#include <cerrno>

#include "fileio/fio.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

struct Area {
    uint32_t& length;
    uint32_t& offset;
};

Area area_of(TiffState& ts, uint32_t option) {
    if (option <= kOptArea1Append) return Area{ts.aux1Len, ts.aux1Off};
    return Area{ts.aux2Len, ts.aux2Off};
}

// Offsets handed to callers are file offsets (the page's base added in the
// page index scheme).
uint32_t file_offset(const TiffState& ts, uint32_t offset) {
    return ts.hasPrivateIndex == 1 ? offset + ts.tiffBase : offset;
}

int area_info(const TiffState& ts, Area a, uint32_t* value) {
    auto* out = reinterpret_cast<TavAreaInfo*>(value);
    out->length = a.length;
    out->offset = file_offset(ts, a.offset);
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
    if (!req->buffer) return fail(TAV_EINVAL);
    uint64_t at = uint64_t(file_offset(tiff_of(e), a.offset)) + offset;
    if (at > kFioMaxOffset) return fail(TAV_E_SEEK);
    if (fio_seek_to(int(e->fd), uint32_t(at)) < 0) return -1;
    int32_t got = fio_read(int(e->fd), req->buffer, count);
    if (got < 1) return fail(errno_or(TAV_EIO));
    req->count = uint32_t(got);
    return 0;
}

// Appends at the write position; the first bytes of an empty area start on
// a multiple of 4. An area belongs to the directory being written: without
// one (before the first xtavputi of a session, or on a handle that only
// reads) there is no write position, and the bytes would land on whatever
// the file holds there, its header first of all.
int area_append(FctEntry* e, Area a, uint32_t* value) {
    TiffState& ts = tiff_of(e);
    auto* req = reinterpret_cast<TavAreaAppend*>(value);
    if (!ts.dirPending || ts.tiffWritePos < kTiffHeaderSize) return fail(TAV_EACCES);
    if (req->count == 0) return 0;
    if (!req->buffer) return fail(TAV_EINVAL);
    if (a.length == 0) {
        ts.tiffWritePos = (ts.tiffWritePos + 3u) & ~3u;
        a.offset = ts.tiffWritePos;
    }
    // Room for the area and for what close writes behind the page (TAV_E_SEEK).
    if (tiff_check_room(e, uint64_t(ts.tiffWritePos) + req->count, uint32_t(ts.stripIndex + 1)) < 0) return -1;
    if (fio_lseek(int(e->fd), int32_t(ts.tiffWritePos), kFioSeekSet) < 0) return -1;
    int32_t w = fio_write(int(e->fd), req->buffer, req->count);
    if (w < 0 || uint32_t(w) != req->count) {
        int code = errno_or(TAV_EIO);
        if (w > 0) ts.tiffWritePos += uint32_t(w);
        return fail(code);
    }
    ts.tiffWritePos += uint32_t(w);
    a.length += req->count;
    return 0;
}

}  // namespace

int tiff_annotation_area(FctEntry* e, uint32_t option, uint32_t* value) {
    Area a = area_of(tiff_of(e), option);
    switch (option) {
    case kOptArea1Info:
    case kOptArea2Info:
        return area_info(tiff_of(e), a, value);
    case kOptArea1Read:
    case kOptArea2Read:
        return area_read(e, a, value);
    default:
        return area_append(e, a, value);
    }
}

// The image-length entry of the directory being written, searched from the
// last entry back.
int tiff_image_length(FctEntry* e, uint32_t rows) {
    TiffState& ts = tiff_of(e);
    if (!ts.workDir || !ts.dirPending) return 0;
    TiffDir* d = ts.workDir;
    for (int i = d->entryCount - 1; i >= 0; --i) {
        if (d->entries[i].tag == kTagImageLength) {
            d->entries[i].value = rows;
            if (rows > 0xFFFF) d->entries[i].type = kTiffLong;
            break;
        }
    }
    return 0;
}

int tiff_index_window(FctEntry* e, uint32_t entries) {
    TiffState& ts = tiff_of(e);
    // Only a handle that reads a page index has a window to size.
    if (!ts.indexCache) return fail(TAV_E_INDEX_KIND);
    ts.indexCache->entriesPerChunk = entries;
    return 0;
}
