// Format detection: the file type from the first 1024 bytes, the
// XIFF marks and the DCX page table.
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/lifecycle.h"
#include "qvtav.h"

namespace {

constexpr uint32_t kDetectSize = 1024;
constexpr uint32_t kDcxMagic = 0x3ADE68B1u;  // 987654321
constexpr uint32_t kDcxTableSize = 4096;
constexpr uint32_t kDcxMaxPages = 1024;

// Reads up to n bytes from the current position: bytes read or -1.
int32_t read_some(int fd, uint8_t* buf, uint32_t n) {
    uint32_t got = 0;
    while (got < n) {
        int32_t r = fio_read(fd, buf + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += uint32_t(r);
    }
    return int32_t(got);
}

// Rule 4: the DCX page table behind the magic.
int read_dcx_table(FctEntry* e) {
    int fd = int(e->fd);
    MemBlock<uint8_t> table(kDcxTableSize, 1);
    if (!table) {
        errno = TAV_ENOMEM;
        return -1;
    }
    int32_t length = fio_lseek(fd, 0, 2);
    if (length < 0) return -1;
    if (fio_seek_to(fd, 4) < 0) return -1;
    uint32_t want = uint32_t(length) < kDcxTableSize ? uint32_t(length) : kDcxTableSize;
    int32_t got = read_some(fd, table.get(), want);
    if (got < 0) return -1;
    if (got == 0) {
        e->fileType = FILETYPE_RAW;
        return 0;
    }
    // Entries up to the first 0, at most 1024; the buffer is zero-filled
    // past what the file holds, so the count never exceeds the file.
    uint32_t pages = 0;
    while (pages < kDcxMaxPages && get_le32(table.get() + 4 * pages) != 0) ++pages;
    e->fileType = FILETYPE_DCX;
    e->pageCount = uint16_t(pages);
    if (pages) {
        auto* offsets = static_cast<uint32_t*>(mem_calloc(pages, 4));
        if (!offsets) {
            errno = TAV_ENOMEM;
            return -1;
        }
        for (uint32_t i = 0; i < pages; ++i) offsets[i] = get_le32(table.get() + 4 * i);
        e->dcxOffsets = offsets;
    }
    return 0;
}

}  // namespace

int xiff_test(const uint8_t* b, uint32_t len, int* isXiff) {
    *isXiff = 0;
    if (len >= 20 && std::memcmp(b + 8, "XEROX DIFF", 10) == 0) {
        uint8_t version = b[18];
        if (version == 0 || version == 1 || (version == 2 && b[19] == 0)) {
            *isXiff = 1;
            return 0;
        }
        return TAV_E_NOT_SUPPORTED;
    }
    if (len >= 17 && std::memcmp(b + 8, " eXtended", 9) == 0) *isXiff = 1;
    return 0;
}

int tav_detect(FctEntry* e) {
    MemBlock<uint8_t> buf(kDetectSize, 1);
    if (!buf) {
        errno = TAV_ENOMEM;
        return -1;
    }
    int32_t got = read_some(int(e->fd), buf.get(), kDetectSize);
    if (got < 0) return -1;
    if (got == 0) {
        e->fileType = FILETYPE_RAW;
        return 0;
    }
    // Bytes past the end of a short file read as zeros.
    const uint8_t* b = buf.get();
    uint16_t w0 = get_le16(b);
    uint16_t w1 = get_le16(b + 2);
    uint16_t w2 = get_le16(b + 4);

    if (w0 == 0x8045 || w0 == 0x4580) {  // rule 2
        e->fileType = FILETYPE_BLOCK;
        return 0;
    }
    if ((w0 == 0x4D4D || w0 == 0x4949) && (w1 == 42 || w1 == 0x2A00)) {  // rule 3
        int isXiff = 0;
        // The whole buffer is handed over: the marks lie inside it whatever
        // the file's length (zeros past the end).
        int code = xiff_test(b, kDetectSize, &isXiff);
        if (code) {
            errno = code;
            return -1;
        }
        if (isXiff) {
            e->fileType = FILETYPE_XIFF;
        } else {
            e->fileType = FILETYPE_TIFF;
            e->detectWord = w0;
        }
        return 0;
    }
    if (get_le32(b) == kDcxMagic) return read_dcx_table(e);  // rule 4

    // Rules 5 to 10. A PCX, GIF or BMP candidate whose further bytes do not
    // match goes on with rule 8.
    if (w0 == 0x000A || w0 == 0x020A || w0 == 0x030A || w0 == 0x050A) {
        if (b[2] == 1) {
            e->fileType = FILETYPE_PCX;
            return 0;
        }
    } else if (w0 == 0x4947) {
        if (w1 == 0x3846 && (w2 == 0x6137 || w2 == 0x6139)) {
            e->fileType = FILETYPE_GIF;
            return 0;
        }
    } else if (w0 == 0x4D42) {
        e->fileType = FILETYPE_BMP;
        return 0;
    }
    if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
        e->fileType = FILETYPE_JPEG;
        return 0;
    }
    switch (b[2]) {
    case 1: case 2: case 3: case 9: case 10: case 11:
        e->fileType = FILETYPE_TGA;
        return 0;
    default:
        e->fileType = FILETYPE_RAW;
        return 0;
    }
}
