// Small pieces the TIFF writer is built from: the byte order it writes, the
// aligned end of the file, typed arrays written in the file's order, and the
// page offset table work file.
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"

int32_t tiff_align_end(int fd, uint32_t offset) {
    int32_t pos = offset ? fio_lseek(fd, int32_t(offset), kFioSeekSet) : fio_lseek(fd, 0, kFioSeekEnd);
    if (pos < 0) return -1;
    uint32_t aligned = (uint32_t(pos) + 3u) & ~3u;
    if (aligned > kFioMaxOffset) {
        errno = TAV_E_SEEK;
        return -1;
    }
    return int32_t(aligned);
}

int tiff_check_room(FctEntry* e, uint64_t dataEnd, uint32_t strips) {
    auto align4 = [](uint64_t v) { return (v + 3) & ~uint64_t(3); };
    uint64_t end = dataEnd;
    if (strips > 1) end = align4(end) + 8ull * strips;  // byte counts, then offsets
    end = align4(end) + kPageTableHeader + 4ull * (e->pageCount + 1u);
    return fio_length_fits(end) ? 0 : -1;
}

int32_t tiff_write_swapped(int fd, const void* buffer, uint32_t byteCount, uint32_t itemCount,
                           uint16_t type, uint16_t byteOrder) {
    uint32_t size = tiff_type_size(type);
    if (byteOrder != kByteOrderMM || size <= 1) return fio_write(fd, buffer, byteCount);
    // SHORTs are swapped as u16, everything wider as u32 (a RATIONAL is two).
    const SwapPair layout[] = {{itemCount * (size == 2 ? 1 : size / 4),
                                size == 2 ? uint32_t(kSwapShort) : uint32_t(kSwapLong)}};
    return write_swapped(fd, byteCount, buffer, layout, 1, 1);
}

int tiff_write_items_at(int fd, uint32_t pos, const void* buffer, uint32_t itemCount,
                        uint16_t type, uint16_t byteOrder) {
    uint32_t bytes = itemCount * tiff_type_size(type);
    if (fio_write_at(fd, pos, nullptr, 0) < 0) return -1;  // positions the file
    int32_t w = tiff_write_swapped(fd, buffer, bytes, itemCount, type, byteOrder);
    if (w < 0 || uint32_t(w) != bytes) {
        errno = errno_or(TAV_EIO);
        return -1;
    }
    return 0;
}

int tiff_write_table_header(int fd, uint32_t at, uint32_t pages, uint32_t fileLength,
                            uint16_t order) {
    const uint32_t header[4] = {kPageTableMagic, kPageTableVersion, pages, fileLength};
    return tiff_write_items_at(fd, at, header, 4, kTiffLong, order);
}

int tiff_write_table_entry(int fd, uint32_t ifd, uint32_t slot, uint32_t pages, uint32_t tableAt,
                           uint16_t order) {
    uint8_t entry[12];
    tiff_encode_entry(entry, TiffDirEntry{kTagPageTable, kTiffLong, pages + kPageTableExtraWords, tableAt},
                      order);
    return tiff_pwrite(fd, ifd + 2 + 12 * slot, entry, sizeof entry);
}

int tiff_alloc_work(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (!ts.workDir) {
        ts.workDir = static_cast<TiffDir*>(mem_calloc(1, sizeof(TiffDir)));
        if (!ts.workDir) return -1;
    }
    // The work file's name buffer; the name itself is made when the file is
    // created.
    if (!ts.tempName) {
        ts.tempName = static_cast<char*>(mem_calloc(TAV_PATH_SIZE, 1));
        if (!ts.tempName) return -1;
    }
    return 0;
}

int tiff_work_entry(FctEntry* e, uint32_t page, uint32_t* ifdOffset) {
    const TiffState& ts = tiff_of(e);
    if (!ts.temp2Open || page >= e->pageCount) {
        errno = TAV_E_PAGE_RANGE;
        return -1;
    }
    uint8_t b[4];
    if (tiff_pread(ts.temp2Desc, kPageTableHeader + 4 * page, b, 4) < 0) return -1;
    std::memcpy(ifdOffset, b, 4);
    return 0;
}

int tiff_check_link(FctEntry* e, uint32_t owner, uint32_t link) {
    // The most a directory of a readable page can span: its count, the
    // entries the reader takes, its link. (A page whose directory is larger
    // is refused when it is read, so no write can damage it further.)
    constexpr uint64_t kMaxDirSpan = kIfdReadSize;
    const TiffState& ts = tiff_of(e);
    // Nor inside the header or the property block's place behind it: a
    // write there could give the file a property block, or change its
    // length. (A page directory that has its link there holds one entry at
    // most: no page can be read from it.)
    if (owner != kNoDirectory && link < uint64_t(kPropertyText) + ts.hdrBlockLen) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    // Nor inside the file's page offset table, whose entries are the pages.
    const uint16_t order = tiff_order(e);
    if (ts.pageTableOffset) {
        uint8_t count[4];
        if (tiff_pread(int(e->fd), ts.pageTableOffset + kPageTableCount, count, 4) < 0) return -1;
        const uint64_t end = uint64_t(ts.pageTableOffset) + kPageTableHeader + 4ull * tiff_get32(count, order);
        if (uint64_t(link) + 4 > ts.pageTableOffset && link < end) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
    }
    std::vector<uint32_t> dirs(e->pageCount);
    if (!dirs.empty() && tiff_pread(ts.temp2Desc, kPageTableHeader, dirs.data(), uint32_t(4 * dirs.size())) < 0)
        return -1;
    // The directory that names the table need not be a page's.
    if (ts.tableCarrier) dirs.push_back(ts.tableCarrier);
    for (uint32_t d : dirs) {
        if (d == owner || d > uint64_t(link) + 3 || uint64_t(d) + kMaxDirSpan <= link) continue;
        uint8_t c[2];
        if (tiff_pread(int(e->fd), d, c, 2) < 0) return -1;
        if (uint64_t(d) + 2 + 12ull * tiff_get16(c, order) + 4 > link) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
    }
    return 0;
}

int tiff_link_field(FctEntry* e, uint32_t ifd, uint32_t* link) {
    uint8_t c[2];
    if (ifd < kTiffHeaderSize || tiff_pread(int(e->fd), ifd, c, 2) < 0) {
        if (errno == 0 || ifd < kTiffHeaderSize) errno = TAV_E_DIRECTORY;
        return -1;
    }
    const uint64_t at = uint64_t(ifd) + 2 + 12 * uint64_t(tiff_get16(c, tiff_order(e)));
    if (at + 4 > UINT32_MAX) {
        errno = TAV_E_DIRECTORY;
        return -1;
    }
    *link = uint32_t(at);
    // The link must be in the file: a directory whose count runs past the
    // end would have its link written far beyond it, growing the file.
    uint8_t held[4];
    if (tiff_pread(int(e->fd), *link, held, 4) < 0) return -1;
    return tiff_check_link(e, ifd, *link);
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
