// BMP pages of 16 and 32 bits per pixel delivered as 24-bit rows. Each
// colour's mask is shifted so that its highest bit lands in bit 31; the
// component is the top byte of the pixel shifted the same way and masked,
// so every component keeps its most significant bits (5-bit 0x1F gives
// 0xF8).
//
// The delivered stream is the page's rows, each rowBytes long (three bytes
// a pixel, zeros up to the 4-byte row padding). Stream byte k lies in row
// k / rowBytes, which is stored row k / rowBytes: the stored rows keep
// their own 4-byte padding, so odd widths never drift. Any start and length
// are served; the bytes placed are returned.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/bmp/bmp_internal.h"
#include "formats/common/format_io.h"

namespace {

// Stored rows read with one file read (at least one row).
constexpr uint32_t kWorkBytes = 256 * 1024;
constexpr uint32_t kDeliveredPixelBytes = 3;

// One colour: the shift that brings its mask's highest bit to bit 31, and
// the mask so shifted.
struct Component {
    uint32_t shift = 0;
    uint32_t mask = 0;
};

Component component_of(uint32_t mask) {
    Component c;
    if (mask != 0) c.shift = uint32_t(std::countl_zero(mask));
    c.mask = mask << c.shift;
    return c;
}

inline uint8_t take(uint32_t pixel, Component c) { return uint8_t(((pixel << c.shift) & c.mask) >> 24); }

// A stored pixel of B bytes, little-endian.
template <uint32_t B>
inline uint32_t load_pixel(const uint8_t* p) {
    using Word = std::conditional_t<B == 2, uint16_t, uint32_t>;
    Word w;
    std::memcpy(&w, p, B);
    if constexpr (std::endian::native == std::endian::big) w = B == 2 ? bswap16(w) : bswap32(w);
    return w;
}

// Converts one stored row of `width` pixels of B bytes into blue, green,
// red triples: a plain loop over independent pixels, which the compiler
// vectorises.
template <uint32_t B>
[[gnu::always_inline]] inline void convert_pixels(const uint8_t* __restrict src, uint8_t* __restrict dst,
                                                  uint32_t width, Component red, Component green,
                                                  Component blue) {
    for (size_t x = 0; x < width; ++x) {
        const uint32_t p = load_pixel<B>(src + B * x);
        dst[3 * x] = take(p, blue);
        dst[3 * x + 1] = take(p, green);
        dst[3 * x + 2] = take(p, red);
    }
}

// On x86-64 each row converter is built twice, for the base instruction set
// and for AVX2 (whose per-lane shifts and byte shuffles the vectorised loop
// needs); the loader picks the one the processor runs. Sanitizer builds get
// plain functions: the loader runs the choosing resolver before the
// sanitizer's runtime is up, and an instrumented resolver crashes there.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QVTAV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QVTAV_SANITIZED 1
#endif
#if defined(__x86_64__) && !defined(QVTAV_SANITIZED)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

VECTOR_CLONES void convert_row16(const uint8_t* __restrict src, uint8_t* __restrict dst, uint32_t width,
                                 Component red, Component green, Component blue) {
    convert_pixels<2>(src, dst, width, red, green, blue);
}

VECTOR_CLONES void convert_row32(const uint8_t* __restrict src, uint8_t* __restrict dst, uint32_t width,
                                 Component red, Component green, Component blue) {
    convert_pixels<4>(src, dst, width, red, green, blue);
}

// The layout of the current page's two streams.
struct Rows {
    uint32_t width;
    uint32_t pixelBytes;  // 2 or 4
    uint32_t stored;      // bytes of a stored row
    uint32_t delivered;   // rowBytes
    Component red, green, blue;

    // One delivered row (padding included) from its stored row.
    void convert(const uint8_t* src, uint8_t* dst) const {
        if (pixelBytes == 2) convert_row16(src, dst, width, red, green, blue);
        else convert_row32(src, dst, width, red, green, blue);
        const uint32_t pixels = width * kDeliveredPixelBytes;
        std::memset(dst + pixels, 0, delivered - pixels);
    }
};

Rows rows_of(const PageInfo& c) {
    Rows r;
    r.width = c.imageWidth;
    r.pixelBytes = c.bmpBytesPerPixel;
    r.stored = uint32_t(bmp_stored_row(c.imageWidth, 8 * r.pixelBytes));
    r.delivered = bmp_view_of(c).rowBytes;
    r.red = component_of(c.bmpMasks[0]);
    r.green = component_of(c.bmpMasks[1]);
    r.blue = component_of(c.bmpMasks[2]);
    return r;
}

}  // namespace

int bmp_read_converted(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                       uint32_t* remaining) {
    const PageInfo& c = e->pageInfo;
    const Rows rows = rows_of(c);
    const uint32_t size = e->pageDataSize;
    const uint32_t n = std::min(length, size - start);
    *remaining = size - start - n;
    if (n == 0) return 0;
    int64_t fileLength = fio_length(int(e->fd));
    if (fileLength < 0) return -1;

    const uint64_t end = uint64_t(start) + n;
    const uint32_t firstRow = start / rows.delivered;
    const uint32_t lastRow = uint32_t((end - 1) / rows.delivered);
    const uint32_t batch = std::min(lastRow - firstRow + 1, std::max(1u, kWorkBytes / rows.stored));
    // Stored rows of one batch, then one delivered row for rows the request
    // covers only in part.
    MemBlock<uint8_t> work(batch * rows.stored + rows.delivered, 1);
    if (!work) return -1;
    uint8_t* partial = work.get() + batch * rows.stored;

    const uint32_t dataOffset = bmp_view_of(c).dataOffset;
    uint8_t* out = buffer;
    for (uint32_t row = firstRow; row <= lastRow; row += batch) {
        const uint32_t count = std::min(batch, lastRow - row + 1);
        const uint64_t at = dataOffset + uint64_t(row) * rows.stored;
        if (format_read_at(e, at, {work.get(), count * rows.stored}, uint32_t(fileLength)) < 0)
            return -1;
        for (uint32_t k = 0; k < count; ++k) {
            const uint64_t rowStart = uint64_t(row + k) * rows.delivered;
            const uint64_t from = std::max<uint64_t>(rowStart, start);
            const uint64_t to = std::min<uint64_t>(rowStart + rows.delivered, end);
            const uint8_t* src = work.get() + k * rows.stored;
            if (from == rowStart && to == rowStart + rows.delivered) {
                rows.convert(src, out);
            } else {
                rows.convert(src, partial);
                std::memcpy(out, partial + (from - rowStart), to - from);
            }
            out += to - from;
        }
    }
    return int(n);
}
