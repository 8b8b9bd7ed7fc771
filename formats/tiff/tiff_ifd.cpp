// Reading one IFD: the bytes through a source (a descriptor, or a window of
// the file during a set-up), then the one parser every reader uses.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/tiff_entry.h"
#include "formats/tiff/tiff_layout.h"

namespace {

constexpr uint32_t kWindowCap = 64 * 1024;
constexpr uint32_t kWindowMin = 4096;

int fail(int code) {
    errno = code;
    return -1;
}

}  // namespace

IfdSource::~IfdSource() { mem_free_field(buf_); }

void IfdSource::use_window() {
    if (buf_) return;
    buf_ = static_cast<uint8_t*>(mem_calloc(kWindowCap, 1));
    if (buf_) cap_ = kWindowCap;
    // Without memory the reads simply go to the descriptor.
}

int32_t IfdSource::read(uint32_t pos, uint8_t* dst, uint32_t n) {
    if (!buf_) return fio_read_full_at(fd_, pos, dst, n);
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
    int32_t got = fio_read_full_at(fd_, pos, buf_, ask);
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

int tiff_read_ifd(IfdSource& src, uint16_t order, uint32_t pos, uint32_t limit, uint32_t flags,
                  TiffDir* out) {
    if (pos > kFioMaxOffset) return fail(TAV_E_SEEK);
    if (pos < kTiffHeaderSize) return fail(TAV_E_DIRECTORY);  // inside the header
    uint8_t raw[kIfdReadSize];
    int32_t got = src.read(pos, raw, kIfdReadSize);
    if (got < 0) return -1;
    uint32_t have = uint32_t(got);
    if (have < 2) return fail(TAV_E_DIRECTORY);
    uint16_t count = tiff_get16(raw, order);
    if (count > kTiffMaxEntries) return fail(TAV_E_DIRECTORY);
    uint32_t need = 2 + 12u * count;
    if (have < need) return fail(TAV_E_DIRECTORY);

    out->entryCount = count;
    for (uint16_t i = 0; i < count; ++i) out->entries[i] = tiff_decode_entry(raw + 2 + 12u * i, order);
    uint32_t next = 0;
    if (have >= need + 4) {
        next = tiff_get32(raw + need, order);
        if (uint64_t(next) + 4 > limit) next = 0;  // beyond the end: the chain ends
    } else if (uint64_t(pos) + have < limit) {
        return fail(TAV_E_DIRECTORY);  // cut off before the end
    }
    out->nextIfd = next;
    // TIFF writers keep their entries in tag order; only a directory that
    // is not is sorted.
    auto byTag = [](const TiffDirEntry& x, const TiffDirEntry& y) { return x.tag < y.tag; };
    if ((flags & kIfdSorted) && !std::is_sorted(out->entries, out->entries + count, byTag))
        std::stable_sort(out->entries, out->entries + count, byTag);
    return 0;
}
