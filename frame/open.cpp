// Open with format detection: flag checks, the AWD test, the
// descriptor, detection and the per-type set-up.
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "frame/startup.h"
#include "qvtav.h"
#include "tiff/tiff.h"

namespace {

constexpr uint32_t kPropMagicLen = 10;
constexpr char kPropMagic[] = "TEXO TIFF ";
constexpr uint32_t kPropHeader = 16;  // magic, version, length at offset 8
constexpr uint32_t kPropBody = 24;    // file offset of the property text

// A failure of the open: the code into lastError, the negated handle.
int open_fail(FctEntry* e, int handle, int code) {
    fct_free_blocks(e);
    fct_fail(e, code);
    return -handle;
}

// A failure with close: the descriptor is closed and fd becomes -1 first.
int open_fail_close(FctEntry* e, int handle, int code) {
    if (e->fd > 0 && e->fileType != FILETYPE_AWD) fio_close(int(e->fd));
    e->fd = -1;
    return open_fail(e, handle, code);
}

int code_or(int fallback) { return errno ? errno : fallback; }

// The property block behind the TIFF header.
int read_property_block(FctEntry* e) {
    int fd = int(e->fd);
    if (fio_seek_to(fd, 8) < 0) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    uint8_t head[kPropHeader];
    uint32_t got = 0;
    while (got < kPropHeader) {
        int32_t r = fio_read(fd, head + got, kPropHeader - got);
        if (r <= 0) break;
        got += uint32_t(r);
    }
    if (got < kPropHeader) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    if (std::memcmp(head, kPropMagic, kPropMagicLen) != 0) return 0;
    // Version and length are little-endian whatever the TIFF byte order.
    uint16_t version = get_le16(head + 10);
    uint32_t length = get_le32(head + 12);
    if (version != 1 || length == 0) return 0;
    // A length the file cannot hold is cut off like a short read, before
    // anything is allocated.
    if (uint64_t(length) + kPropBody > e->origSize) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    MemBlock<uint8_t> body(length, 1);
    if (!body) return -1;
    got = 0;
    while (got < length) {
        int32_t r = fio_read(fd, body.get() + got, length - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += uint32_t(r);
    }
    if (got < length) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    e->hdrBlock = body.release();
    e->hdrBlockLen = length;
    return 0;
}

// TIFF set-up after detection.
int setup_tiff(FctEntry* e) {
    e->pageIndexOffset = 0;
    e->pageTableOffset = 0;
    e->tiffBase = 0;
    e->hdrBlock = nullptr;
    e->hdrBlockLen = 0;
    if (read_property_block(e) < 0) return -1;
    if (e->openFlags & TAV_OPEN_UPDATE) e->updateMode = 1;
    return tiff_setup_pages(e);
}

// The AWD document's root storage: not built yet.
int awd_open_document(FctEntry*, const char*, uint32_t) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}

}  // namespace

int tav_open(FileLocation* loc, char* path, uint32_t flags, uint32_t* fileType,
             uint32_t* pageCount, bool* noEntry) {
    errno = 0;
    int h = fct_take_entry(noEntry);
    if (h < 0) return -1;
    FctEntry* e = fct_entry_at(h);

    // Step 2: flags.
    uint32_t access = flags & TAV_OPEN_ACCESS_MASK;
    if (access == 3 || (flags & TAV_OPEN_RESERVED_MASK) ||
        (access != 0 && !(flags & TAV_OPEN_UPDATE)))
        return open_fail(e, h, TAV_E_FLAGS);

    // Step 3: the flags and the access mode.
    e->openFlags = flags;
    uint32_t mode = ((flags & 1) || (flags & TAV_OPEN_UPDATE)) ? kFioModeReadWrite
                                                               : (flags & ~TAV_OPEN_RAW);
    bool local = !loc || loc->isRemote == 0;

    // Steps 4 and 5: the AWD test, then the descriptor.
    uint32_t isAwd = 0;
    if (local) {
        uint32_t status = awd_is_awd_file(path, &isAwd);
        if (status != 0) return open_fail(e, h, int(status));
    } else if (!path) {
        return open_fail(e, h, TAV_EINVAL);
    }
    if (isAwd) {
        if (!awd_supported()) return open_fail(e, h, TAV_E_NOT_SUPPORTED);
        // A handle of type 1 over an AWD document has no meaning: refused.
        if (flags & TAV_OPEN_RAW) return open_fail(e, h, TAV_E_FLAGS);
        e->fileType = FILETYPE_AWD;
        if (awd_open_document(e, path, mode) < 0) {
            e->fd = -1;
            return open_fail(e, h, code_or(TAV_E_NOT_SUPPORTED));
        }
    } else {
        errno = 0;
        int fd = fio_open(loc, path, mode, 0);
        // Step 6.
        if (fd < 0) {
            e->fd = -1;
            return open_fail(e, h, code_or(TAV_ENOENT));
        }
        e->fd = fd;
    }

    // Step 7: the length at open.
    if (e->fileType != FILETYPE_AWD) {
        int32_t end = fio_lseek(int(e->fd), 0, 2);
        if (end < 0) return open_fail_close(e, h, code_or(TAV_E_SEEK));
        e->origSize = uint32_t(end);
        if (fio_lseek(int(e->fd), 0, 0) < 0) return open_fail_close(e, h, code_or(TAV_E_SEEK));
    } else {
        e->origSize = 1;
    }

    // Steps 8 to 10.
    e->pageCount = 0;
    e->subfileWanted = 0;
    if (e->fileType != FILETYPE_AWD) {
        if (flags & TAV_OPEN_RAW) {
            e->fileType = FILETYPE_RAW;
        } else if (tav_detect(e) < 0) {
            return open_fail_close(e, h, code_or(TAV_ENOMEM));
        }
    }
    e->byteOrder = e->detectWord;

    // Step 11: per type.
    switch (e->fileType) {
    case FILETYPE_BLOCK:
        // The block file's set-up is not built yet.
        return open_fail_close(e, h, TAV_E_NOT_SUPPORTED);
    case FILETYPE_TIFF:
        if (setup_tiff(e) < 0) {
            // Also code 391 (a page index of more than 65535 entries): the
            // handle would be left without a descriptor, so it is a failure.
            return open_fail_close(e, h, code_or(TAV_E_NOT_SUPPORTED));
        }
        break;
    case FILETYPE_GIF:
    case FILETYPE_PCX:
    case FILETYPE_BMP:
    case FILETYPE_TGA:
    case FILETYPE_JPEG:
        e->pageCount = 1;
        break;
    case FILETYPE_DCX:
        break;  // detection has read the page table
    case FILETYPE_AWD:
        return open_fail(e, h, TAV_E_NOT_SUPPORTED);  // the AWD document table is not built yet
    case FILETYPE_XIFF:
        // The outside XIFF reader is not bound yet: it fails to load.
        return open_fail_close(e, h, TAV_EPERM);
    default:
        break;  // 1, 4, 5: nothing
    }

    // Step 12.
    if (fileType) *fileType = e->fileType;
    if (pageCount) *pageCount = e->pageCount;
    return h;
}
