// TIFF header, the directory of a page with the subfile selection of
// single-page files, and typed values read from the file in host order.
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "formats/tiff/read/tiff_read_internal.h"
#include "formats/tiff/tiff.h"

namespace {

int fail_code(int code) {
    errno = code;
    return -1;
}

uint32_t subfile_of(const TiffDir& dir) {
    for (uint16_t i = 0; i < dir.entryCount; ++i)
        if (dir.entries[i].tag == kTagNewSubfileType) return tiff_entry_value(dir.entries[i]);
    return 0;
}

constexpr uint32_t kSubfileReduced = 2;  // answers a request for the full image

}  // namespace

int tiff_read_header(FctEntry* e, uint32_t base, TiffHeader* out) {
    uint8_t raw[kTiffHeaderSize];
    int32_t got = fio_read_full_at(int(e->fd), base, raw, kTiffHeaderSize);
    if (got < 0) return -1;
    if (got < int32_t(kTiffHeaderSize)) return fail_code(TAV_E_NOT_TIFF);
    uint16_t mark = get_le16(raw);
    // 42 is taken in either byte order, as detection takes it.
    uint16_t stored = get_le16(raw + 2);
    if (stored != kTiffMagic && stored != bswap16(kTiffMagic)) return fail_code(TAV_E_NOT_TIFF);
    uint16_t order = tiff_order_of_mark(mark);
    uint16_t magic = tiff_get16(raw + 2, order);
    if (out) {
        out->byteOrder = mark;
        out->magic = magic;
        out->firstIfd = tiff_get32(raw + 4, order);
    }
    return 0;
}

int tiff_read_one_ifd(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                      uint32_t ifdOffset, TiffDir* out) {
    uint64_t pos = uint64_t(base) + ifdOffset;
    if (pos > kFioMaxOffset) return fail_code(TAV_E_SEEK);
    return tiff_read_ifd(src, byteOrder, uint32_t(pos), e->origSize,
                         kIfdSorted, out);
}

int tiff_read_dir_from(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                       uint32_t ifdOffset, uint32_t wantedSubfile, TiffDir* out, int anyPage) {
    std::unordered_set<uint32_t> seen;
    uint32_t off = ifdOffset;
    for (;;) {
        if (tiff_read_one_ifd(e, src, byteOrder, base, off, out) < 0) return -1;
        if (anyPage) return 0;
        uint32_t t = subfile_of(*out);
        if (t == wantedSubfile || (wantedSubfile == 0 && t == kSubfileReduced)) return 0;
        // Not this one: the next IFD of the chain, relative to the same base.
        // A chain that comes back to an IFD already tested ends there.
        seen.insert(off);
        off = out->nextIfd;
        if (off == 0 || seen.count(off)) return fail_code(TAV_E_NO_SUBFILE);
    }
}

int tiff_read_dir(FctEntry* e, uint16_t byteOrder, uint32_t base, uint32_t ifdOffset,
                  uint32_t wantedSubfile, TiffDir* out, int anyPage) {
    if (!e || !out) return fail_code(TAV_EINVAL);
    IfdSource src(int(e->fd));
    return tiff_read_dir_from(e, src, byteOrder, base, ifdOffset, wantedSubfile, out, anyPage);
}

int tiff_read_typed(FctEntry* e, uint16_t type, uint32_t count, uint32_t offset,
                    uint16_t byteOrder, void* buffer, uint32_t bufferSize) {
    uint32_t size = tiff_type_size(type);
    if (size == 0 || count == 0) return 0;
    uint64_t total = uint64_t(size) * count;
    if (total > bufferSize || !buffer) return fail_code(TAV_EINVAL);
    const TiffState& ts = tiff_of(e);
    uint64_t pos = uint64_t(offset) + (ts.hasPrivateIndex == 1 ? ts.tiffBase : 0);
    if (pos > kFioMaxOffset) return fail_code(TAV_E_SEEK);
    auto* p = static_cast<uint8_t*>(buffer);
    if (fio_read_exact_at(int(e->fd), uint32_t(pos), p, uint32_t(total), TAV_E_DIRECTORY) < 0)
        return -1;
    tiff_swap_items(p, uint32_t(total), type, byteOrder);
    return 0;
}
