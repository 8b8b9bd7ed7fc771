// Byte order: one table-driven routine converts any file structure in place.
#include "fileio/byteorder.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "qvtav.h"

void swap_fields(void* buf, size_t bufSize, const SwapPair* tmpl, int pairs, int repeat) {
    auto* p = static_cast<uint8_t*>(buf);
    size_t pos = 0;
    for (int r = 0; r < repeat; ++r) {
        for (int i = 0; i < pairs; ++i) {
            uint32_t n = tmpl[i].count;
            switch (tmpl[i].kind) {
            case kSwapSkip:
                pos += n;
                break;
            case kSwapShort:
                for (uint32_t k = 0; k < n && pos + 2 <= bufSize; ++k, pos += 2)
                    std::swap(p[pos], p[pos + 1]);
                break;
            case kSwapLong:
            case kSwapLong4:
                for (uint32_t k = 0; k < n && pos + 4 <= bufSize; ++k, pos += 4) {
                    std::swap(p[pos], p[pos + 3]);
                    std::swap(p[pos + 1], p[pos + 2]);
                }
                break;
            default:
                break;  // unknown kinds are passed over without moving
            }
            if (pos >= bufSize) return;
        }
    }
}

int32_t write_swapped(int fd, uint32_t count, const void* src, const SwapPair* tmpl, int pairs,
                      int repeat) {
    MemBlock<uint8_t> copy(count ? count : 1, 1);
    if (!copy) {
        errno = TAV_ENOMEM;
        return -1;
    }
    if (count) std::memcpy(copy.get(), src, count);
    swap_fields(copy.get(), count, tmpl, pairs, repeat);
    int32_t n = fio_write(fd, copy.get(), count);
    return n < 1 ? -1 : n;
}

namespace {
constexpr SwapPair kBlockHeader[] = {{6, kSwapShort}, {1, kSwapLong4}};
constexpr SwapPair kDirBlockHead[] = {{2, kSwapShort}, {1, kSwapLong4}};
constexpr SwapPair kDirEntries[] = {{2, kSwapLong4}};
constexpr SwapPair kPageRecord[] = {{2, kSwapShort}, {1, kSwapLong4}, {9, kSwapShort}};
constexpr SwapPair kPageRecordTail[] = {{2, kSwapShort}, {2, kSwapLong4}, {2, kSwapShort}};
constexpr SwapPair kStripEntries[] = {{3, kSwapLong4}, {4, kSwapShort}, {1, kSwapLong4}};
constexpr SwapPair kOneLong[] = {{1, kSwapLong4}};
}  // namespace

void swap_block_header(void* buf) { swap_fields(buf, 16, kBlockHeader, 2, 1); }
void swap_dir_block_head(void* buf) { swap_fields(buf, 8, kDirBlockHead, 2, 1); }
void swap_dir_entries(void* buf, int repeat) {
    swap_fields(buf, size_t(8) * (repeat > 0 ? repeat : 0), kDirEntries, 1, repeat);
}
void swap_page_record(void* buf) { swap_fields(buf, 26, kPageRecord, 3, 1); }
void swap_page_record_tail(void* buf) { swap_fields(buf, 16, kPageRecordTail, 3, 1); }
void swap_strip_entries(void* buf, int repeat) {
    swap_fields(buf, size_t(24) * (repeat > 0 ? repeat : 0), kStripEntries, 3, repeat);
}
void swap_u32(void* buf) { swap_fields(buf, 4, kOneLong, 1, 1); }
