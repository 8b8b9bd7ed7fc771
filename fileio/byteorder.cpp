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
