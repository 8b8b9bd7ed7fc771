// Small pieces the TIFF writer is built from: byte order, directory images,
// positioned reads and writes, the page offset table work file.
#include <cerrno>
#include <initializer_list>
#include <cstring>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/write/tiff_writer.h"

uint16_t tiff_file_order(const FctEntry* e) {
    if (e->detectWord == kByteOrderII || e->detectWord == kByteOrderMM) return e->detectWord;
    return e->byteOrder == kByteOrderMM ? kByteOrderMM : kByteOrderII;
}

uint32_t tiff_type_size(uint16_t type) {
    switch (type) {
    case kTiffByte: case kTiffAscii: case kTiffSByte: case kTiffUndefined: return 1;
    case kTiffShort: case 8: return 2;
    case kTiffLong: case 9: case 11: return 4;
    case kTiffRational: case 10: case 12: return 8;
    default: return 0;
    }
}

void tiff_put16(uint8_t* p, uint16_t v, uint16_t order) {
    if (order == kByteOrderMM) v = bswap16(v);
    std::memcpy(p, &v, 2);
}
void tiff_put32(uint8_t* p, uint32_t v, uint16_t order) {
    if (order == kByteOrderMM) v = bswap32(v);
    std::memcpy(p, &v, 4);
}
uint16_t tiff_get16(const uint8_t* p, uint16_t order) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return order == kByteOrderMM ? bswap16(v) : v;
}
uint32_t tiff_get32(const uint8_t* p, uint16_t order) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return order == kByteOrderMM ? bswap32(v) : v;
}

namespace {

bool is_byte_type(uint16_t type) {
    return type == kTiffByte || type == kTiffAscii || type == kTiffSByte || type == kTiffUndefined;
}

// The value field of an entry. Short values lie in the field as the file
// stores them: one or two SHORTs each in the file's order, up to four bytes
// as they are; everything else is one u32.
void put_value(uint8_t* p, const TiffDirEntry& d, uint16_t order) {
    if (d.type == kTiffShort && d.count == 1) {
        tiff_put16(p, uint16_t(d.value), order);
        p[2] = p[3] = 0;
    } else if (d.type == kTiffShort && d.count == 2) {
        tiff_put16(p, uint16_t(d.value), order);
        tiff_put16(p + 2, uint16_t(d.value >> 16), order);
    } else if (is_byte_type(d.type) && d.count <= 4) {
        std::memcpy(p, &d.value, 4);
    } else {
        tiff_put32(p, d.value, order);
    }
}

uint32_t get_value(const uint8_t* p, uint16_t type, uint32_t count, uint16_t order) {
    if (type == kTiffShort && count == 1) return tiff_get16(p, order);
    if (type == kTiffShort && count == 2)
        return uint32_t(tiff_get16(p, order)) | (uint32_t(tiff_get16(p + 2, order)) << 16);
    if (is_byte_type(type) && count <= 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    return tiff_get32(p, order);
}

}  // namespace

uint32_t tiff_encode_dir(const TiffDir& dir, uint16_t order, uint8_t* out) {
    uint32_t n = dir.entryCount;
    tiff_put16(out, uint16_t(n), order);
    uint8_t* p = out + 2;
    for (uint32_t i = 0; i < n; ++i, p += 12) {
        const TiffDirEntry& d = dir.entries[i];
        tiff_put16(p, d.tag, order);
        tiff_put16(p + 2, d.type, order);
        tiff_put32(p + 4, d.count, order);
        put_value(p + 8, d, order);
    }
    tiff_put32(p, dir.nextIfd, order);
    return 6 + 12 * n;
}

int tiff_pread(int fd, uint32_t pos, void* buf, uint32_t count) {
    if (pos > 0x7FFFFFFFu) {
        errno = TAV_E_SEEK;
        return -1;
    }
    if (fio_lseek(fd, int32_t(pos), 0) != int32_t(pos)) {
        if (errno == 0) errno = TAV_E_DIRECTORY;
        return -1;
    }
    if (count == 0) return 0;
    int32_t got = fio_read(fd, buf, count);
    if (got < 0) return -1;
    if (uint32_t(got) != count) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    return 0;
}

int tiff_pwrite(int fd, uint32_t pos, const void* buf, uint32_t count) {
    if (pos > 0x7FFFFFFFu) {
        errno = TAV_E_SEEK;
        return -1;
    }
    if (fio_lseek(fd, int32_t(pos), 0) != int32_t(pos)) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    if (count == 0) return 0;
    int32_t put = fio_write(fd, buf, count);
    if (put < 0 || uint32_t(put) != count) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    return 0;
}

int tiff_read_raw_dir(int fd, uint32_t offset, uint16_t order, uint32_t limit, TiffDir* out) {
    uint8_t head[2];
    if (offset < 8 || uint64_t(offset) + 2 > limit) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    if (tiff_pread(fd, offset, head, 2) < 0) return -1;
    uint32_t n = tiff_get16(head, order);
    if (n > uint32_t(kTiffMaxEntries) || uint64_t(offset) + 2 + 12 * n > limit) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    uint8_t body[12 * 55 + 4];
    uint32_t want = 12 * n + 4;
    // The next link may be missing when the directory ends with the file.
    if (uint64_t(offset) + 2 + want > limit) want -= 4;
    if (tiff_pread(fd, offset + 2, body, want) < 0) return -1;
    std::memset(out, 0, sizeof(*out));
    out->entryCount = uint16_t(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = body + 12 * i;
        TiffDirEntry& d = out->entries[i];
        d.tag = tiff_get16(p, order);
        d.type = tiff_get16(p + 2, order);
        d.count = tiff_get32(p + 4, order);
        d.value = get_value(p + 8, d.type, d.count, order);
    }
    out->nextIfd = want == 12 * n + 4 ? tiff_get32(body + 12 * n, order) : 0;
    return 0;
}

int32_t tiff_align_end(int fd, uint32_t offset) {
    int32_t pos = offset ? fio_lseek(fd, int32_t(offset), 0) : fio_lseek(fd, 0, 2);
    if (pos < 0) return -1;
    uint32_t aligned = (uint32_t(pos) + 3u) & ~3u;
    if (aligned > 0x7FFFFFFFu) {
        errno = TAV_E_SEEK;
        return -1;
    }
    return int32_t(aligned);
}

int32_t tiff_write_swapped(int fd, const void* buffer, uint32_t byteCount, uint32_t itemCount,
                           uint16_t type, uint16_t byteOrder) {
    uint32_t size = tiff_type_size(type);
    if (byteOrder != kByteOrderMM || size <= 1) return fio_write(fd, buffer, byteCount);
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(buffer),
                              static_cast<const uint8_t*>(buffer) + byteCount);
    // RATIONAL and other 8-byte types are two u32 each.
    uint32_t unit = size == 8 ? 4 : size;
    uint64_t units = uint64_t(itemCount) * (size / unit);
    for (uint64_t i = 0; i < units && (i + 1) * unit <= byteCount; ++i) {
        uint8_t* p = copy.data() + i * unit;
        if (unit == 2) {
            std::swap(p[0], p[1]);
        } else {
            std::swap(p[0], p[3]);
            std::swap(p[1], p[2]);
        }
    }
    return fio_write(fd, copy.data(), byteCount);
}

int tiff_work_entry(FctEntry* e, uint32_t page, uint32_t* ifdOffset) {
    TiffState& ts = tiff_of(e);
    if (!ts.temp2Open || page >= e->pageCount) {
        errno = TAV_E_PAGE_RANGE;
        return -1;
    }
    uint8_t b[4];
    if (tiff_pread(ts.temp2Desc, 16 + 4 * page, b, 4) < 0) return -1;
    std::memcpy(ifdOffset, b, 4);
    return 0;
}

void tiff_free_strip_lists(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    for (StripList** l : {&ts.stripCounts, &ts.stripOffsets}) {
        if (*l) {
            mem_free_field((*l)->values);
            mem_free(*l);
            *l = nullptr;
        }
    }
}
