// TIFF header, one IFD, typed values: read, normalised to host
// order, sorted by tag, and the subfile selection of single-page files.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "tiff/read/tiff_read_internal.h"
#include "tiff/tiff.h"

namespace {

constexpr uint32_t kWindowCap = 64 * 1024;
constexpr uint32_t kWindowMin = 4096;
constexpr uint64_t kMaxOffset = 0x7FFFFFFFu;  // fio_seek_to refuses 2^31 and more

// Sets errno and fails. Reads that come up short name the structure that
// was cut off (the file layer itself sets no code for the end of a file).
int fail_code(int code) {
    errno = code;
    return -1;
}

void normalise_entry(TiffDirEntry& d) {
    d.tag = bswap16(d.tag);
    d.type = bswap16(d.type);
    d.count = bswap32(d.count);
    if (d.type == kTiffShort && (d.count == 1 || d.count == 2)) {
        // Two u16 values in place: the first stays in the low half.
        uint16_t lo = bswap16(uint16_t(d.value & 0xFFFFu));
        uint16_t hi = bswap16(uint16_t(d.value >> 16));
        d.value = uint32_t(lo) | (uint32_t(hi) << 16);
    } else {
        d.value = bswap32(d.value);
    }
}

uint32_t subfile_of(const TiffDir& dir) {
    for (uint16_t i = 0; i < dir.entryCount; ++i)
        if (dir.entries[i].tag == 254) return tiff_entry_value(dir.entries[i]);
    return 0;
}

uint32_t type_size(uint16_t type) {
    switch (type) {
    case kTiffByte:
    case kTiffAscii:
    case kTiffSByte:
    case kTiffUndefined:
        return 1;
    case kTiffShort:
        return 2;
    case kTiffLong:
        return 4;
    case kTiffRational:
        return 8;
    default:
        return 0;  // types 8 and above (and 0) read nothing
    }
}

}  // namespace

// ---- raw reads ----

int32_t tiff_read_at(int fd, uint32_t pos, void* buf, uint32_t n) {
    if (fio_seek_to(fd, pos) < 0) return -1;
    auto* p = static_cast<uint8_t*>(buf);
    uint32_t got = 0;
    while (got < n) {
        int32_t r = fio_read(fd, p + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += uint32_t(r);
    }
    return int32_t(got);
}

IfdSource::~IfdSource() { mem_free_field(buf_); }

void IfdSource::use_window() {
    if (buf_) return;
    buf_ = static_cast<uint8_t*>(mem_calloc(kWindowCap, 1));
    if (buf_) cap_ = kWindowCap;
    // Without memory the reads simply go to the descriptor.
}

int32_t IfdSource::read(uint32_t pos, uint8_t* dst, uint32_t n) {
    if (!buf_) return tiff_read_at(fd_, pos, dst, n);
    if (len_ && pos >= start_ && pos - start_ < len_) {
        uint32_t avail = len_ - (pos - start_);
        if (avail >= n || atEnd_) {
            uint32_t k = std::min(avail, n);
            std::memcpy(dst, buf_ + (pos - start_), k);
            return int32_t(k);
        }
    }
    // Refill at pos. Directories that follow one another closely make the
    // window grow; a jump far away starts small again, so a chain of large
    // pages does not read the image data between its directories.
    bool near = len_ && pos >= start_ && uint64_t(pos) - start_ <= uint64_t(len_) + want_;
    want_ = near ? std::min(cap_, want_ * 2) : kWindowMin;
    uint32_t ask = std::max(want_, n);
    int32_t got = tiff_read_at(fd_, pos, buf_, ask);
    if (got < 0) {
        len_ = 0;
        return -1;
    }
    start_ = pos;
    len_ = uint32_t(got);
    atEnd_ = uint32_t(got) < ask;
    uint32_t k = std::min(len_, n);
    std::memcpy(dst, buf_, k);
    return int32_t(k);
}

// ---- header ----

int tiff_read_header(FctEntry* e, uint32_t base, TiffHeader* out) {
    uint8_t raw[8];
    int32_t got = tiff_read_at(int(e->fd), base, raw, 8);
    if (got < 0) return -1;
    if (got < 8) return fail_code(TAV_E_NOT_TIFF);
    uint16_t mark = get_le16(raw);
    uint16_t magic = get_le16(raw + 2);
    uint32_t first = get_le32(raw + 4);
    if (magic != 42 && magic != 0x2A00) return fail_code(TAV_E_NOT_TIFF);
    if (mark != kByteOrderII) {
        magic = bswap16(magic);
        first = bswap32(first);
    }
    if (out) {
        out->byteOrder = mark;
        out->magic = magic;
        out->firstIfd = first;
    }
    return 0;
}

// ---- one IFD ----

int tiff_read_one_ifd(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                      uint32_t ifdOffset, TiffDir* out) {
    uint64_t pos64 = uint64_t(base) + ifdOffset;
    if (pos64 > kMaxOffset) {
        errno = TAV_E_SEEK;
        return -1;
    }
    uint32_t pos = uint32_t(pos64);
    uint8_t raw[kIfdReadSize];
    int32_t got = src.read(pos, raw, kIfdReadSize);
    if (got < 0) return -1;
    uint32_t have = uint32_t(got);
    if (have < 2) return fail_code(TAV_E_DIRECTORY);
    bool swap = tiff_swaps(byteOrder);
    uint16_t count = get_le16(raw);
    if (swap) count = bswap16(count);
    if (count > kTiffMaxEntries) return fail_code(TAV_E_DIRECTORY);
    uint32_t need = 2 + 12u * count;
    if (have < need) return fail_code(TAV_E_DIRECTORY);

    out->entryCount = count;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* p = raw + 2 + 12u * i;
        TiffDirEntry& d = out->entries[i];
        d.tag = get_le16(p);
        d.type = get_le16(p + 2);
        d.count = get_le32(p + 4);
        d.value = get_le32(p + 8);
        if (swap) normalise_entry(d);
    }
    uint32_t next;
    if (have >= need + 4) {
        next = get_le32(raw + need);
        if (swap) next = bswap32(next);
    } else if (uint64_t(pos) + have == e->origSize) {
        next = 0;  // the last IFD, its next-IFD offset cut off by the file's end
    } else {
        return fail_code(TAV_E_DIRECTORY);
    }
    if (uint64_t(next) + 4 > e->origSize) next = 0;  // past the end: end of the chain
    out->nextIfd = next;

    std::stable_sort(out->entries, out->entries + count,
                     [](const TiffDirEntry& a, const TiffDirEntry& b) { return a.tag < b.tag; });
    return 0;
}

int tiff_read_dir_from(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                       uint32_t ifdOffset, uint32_t wantedSubfile, TiffDir* out, int anyPage) {
    std::unordered_set<uint32_t> seen;
    uint32_t off = ifdOffset;
    for (;;) {
        if (tiff_read_one_ifd(e, src, byteOrder, base, off, out) < 0) return -1;
        if (anyPage) return 0;
        uint32_t t = subfile_of(*out);
        if (t == wantedSubfile || (wantedSubfile == 0 && t == 2)) return 0;
        // Not this one: the next IFD of the chain, relative to the same base.
        // A chain that comes back to an IFD already tested ends there.
        seen.insert(off);
        off = out->nextIfd;
        if (off == 0 || seen.count(off)) {
            errno = TAV_E_NO_SUBFILE;
            return -1;
        }
    }
}

int tiff_read_dir(FctEntry* e, uint16_t byteOrder, uint32_t base, uint32_t ifdOffset,
                  uint32_t wantedSubfile, TiffDir* out, int anyPage) {
    if (!e || !out) {
        errno = TAV_EINVAL;
        return -1;
    }
    IfdSource src(int(e->fd));
    return tiff_read_dir_from(e, src, byteOrder, base, ifdOffset, wantedSubfile, out, anyPage);
}

// ---- typed values ----

int tiff_read_typed(FctEntry* e, uint16_t type, uint32_t count, uint32_t offset,
                    uint16_t byteOrder, void* buffer, uint32_t bufferSize) {
    uint32_t size = type_size(type);
    if (size == 0 || count == 0) return 0;
    uint64_t total = uint64_t(size) * count;
    if (total > bufferSize || !buffer) {
        errno = TAV_EINVAL;
        return -1;
    }
    uint64_t pos = uint64_t(offset) + (tiff_of(e).hasPrivateIndex == 1 ? tiff_of(e).tiffBase : 0);
    if (pos > kMaxOffset) {
        errno = TAV_E_SEEK;
        return -1;
    }
    int32_t got = tiff_read_at(int(e->fd), uint32_t(pos), buffer, uint32_t(total));
    if (got < 0) return -1;
    if (uint32_t(got) != total) return fail_code(TAV_E_DIRECTORY);
    if (!tiff_swaps(byteOrder)) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    switch (type) {
    case kTiffShort:
        for (uint32_t i = 0; i < count; ++i) std::swap(p[2 * i], p[2 * i + 1]);
        break;
    case kTiffLong:
    case kTiffRational: {
        uint32_t words = uint32_t(total / 4);
        for (uint32_t i = 0; i < words; ++i) {
            uint32_t v;
            std::memcpy(&v, p + 4 * i, 4);
            v = bswap32(v);
            std::memcpy(p + 4 * i, &v, 4);
        }
        break;
    }
    default:
        break;  // single bytes are never swapped
    }
    return 0;
}
