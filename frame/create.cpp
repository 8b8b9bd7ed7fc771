// Create: a new, empty file of a creatable type, ready for page
// writing. A create that fails after the file was made deletes it again, so
// a failed create leaves no file behind.
#include <cerrno>

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

constexpr uint32_t kDcxMagic = 0x3ADE68B1u;  // 987654321
constexpr uint32_t kDcxHeaderSize = 4 + 4 * 1024;

int create_fail(FctEntry* e, int handle, int code) {
    fct_free_blocks(e);
    fct_fail(e, code);
    return -handle;
}

// A failure after the file was created: close it, delete it, fail.
int create_fail_remove(FctEntry* e, int handle, int code, FileLocation* loc, const char* path) {
    int saved = errno;
    if (e->fd > 0) {
        fio_close(int(e->fd));
        fio_remove(loc, path);
    }
    e->fd = -1;
    errno = saved;
    return create_fail(e, handle, code);
}

int code_or(int fallback) { return errno ? errno : fallback; }

bool creatable(uint32_t type, bool local) {
    switch (type) {
    case FILETYPE_RAW:
    case FILETYPE_BLOCK:
    case FILETYPE_TIFF:
    case FILETYPE_RESERVED5:
    case FILETYPE_GIF:
    case FILETYPE_PCX:
    case FILETYPE_BMP:
    case FILETYPE_DCX:
        return true;
    case FILETYPE_AWD:
        return local && awd_supported();
    default:
        return false;  // 4, 10, 11, 13 and anything outside 1..13
    }
}

int write_dcx_header(int fd) {
    MemBlock<uint8_t> buf(kDcxHeaderSize, 1);
    if (!buf) {
        errno = TAV_ENOMEM;
        return -1;
    }
    put_le32(buf.get(), kDcxMagic);
    if (fio_seek_to(fd, 0) < 0) return -1;
    int32_t n = fio_write(fd, buf.get(), kDcxHeaderSize);
    if (n != int32_t(kDcxHeaderSize)) return -1;
    return 0;
}

}  // namespace

int tav_create(FileLocation* loc, char* path, uint32_t* fileType, bool* noEntry) {
    errno = 0;
    int h = fct_take_entry(noEntry);
    if (h < 0) return -1;
    FctEntry* e = fct_entry_at(h);
    bool local = !loc || loc->isRemote == 0;

    // Step 2: the type.
    if (!fileType || !creatable(*fileType, local)) return create_fail(e, h, TAV_EINVAL);
    uint32_t type = *fileType;
    if (type == FILETYPE_AWD) {
        // The AWD document is created by the encoder binding,
        // which comes with the AWD issues.
        return create_fail(e, h, TAV_E_NOT_SUPPORTED);
    }

    // Step 3: the file.
    errno = 0;
    int fd = fio_creat(loc, path, 0);
    if (fd < 0) {
        e->fd = -1;
        return create_fail(e, h, code_or(TAV_EEXIST));
    }
    e->fd = fd;

    // Step 4.
    e->fileType = type;
    e->pageCount = 0;
    e->openFlags |= 2;
    e->byteOrder = 0x4949;
    e->origSize = 0;

    switch (type) {
    case FILETYPE_BLOCK:
        // Step 5: the block file's header is not built yet.
        return create_fail_remove(e, h, TAV_E_NOT_SUPPORTED, loc, path);
    case FILETYPE_TIFF:
        // Step 6.
        e->pageIndexOffset = 0;
        e->pageTableOffset = 0;
        e->tiffBase = 0;
        e->firstIfdOffset = 8;
        errno = 0;
        if (tiff_create_setup(e) < 0)
            return create_fail_remove(e, h, code_or(TAV_E_WORKFILE), loc, path);
        break;
    case FILETYPE_DCX:
        // Step 7.
        errno = 0;
        if (write_dcx_header(fd) < 0)
            return create_fail_remove(e, h, code_or(TAV_ENOMEM), loc, path);
        break;
    default:
        break;
    }
    return h;
}
