// Writing PCX images (PCX files and DCX pages): the header at xtavputi, the
// run-length coded rows at xtavwrite, the 256-colour palette behind the
// page's last data.
//
// Behaviour:
//  - The write position is the handle's, not the process's, so PCX files
//    can be written at once; every flush still reads and advances it under
//    the named write-position lock, which it does not hold while writing.
//  - Coded output goes to the file whenever it reaches min(the call's byte
//    count, 65534) bytes, so a call of any size succeeds; where the flushes
//    fall does not change the file's bytes.
//  - A page's colour map is copied when the page starts, and a map shorter
//    than 3 x 2^bits bytes is refused (TAV_E_INCONSISTENT), a missing one too (TAV_E_OPTION): the
//    header's 16 colours take at most its first 48 bytes, the trailer at
//    most its first 768, the rest is zeros.
//  - Data for a page other than the one started is refused (TAV_E_OTHER_PAGE); so is
//    data after the page's last data (TAV_E_SEQUENCE, by the frame).
//  - Nothing is written beyond the length limit: a header, or coded bytes,
//    that would leave no room for the page's palette trailer within it are
//    refused before they are written (TAV_E_SEEK). A page whose bytes were
//    refused, or whose write failed, takes no more data; close drops it.
#include "formats/common/pcx_image_write.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/common/format_io.h"
#include "platform/plat_mutex.h"

namespace {

constexpr uint8_t kVersionFewColours = 2;  // up to 16 colours in the header
constexpr uint8_t kVersionManyColours = 5;
constexpr uint16_t kPaletteInfoColours = 1;
constexpr uint32_t kMaxDimension = 0xFFFF;
constexpr uint32_t kTrueColourBits = 24;
constexpr uint32_t kTrueColourPlanes = 3;
constexpr uint32_t kMaxPlaneBits = 4;   // up to 4 bits: one bit per plane
constexpr uint32_t kMaxBytePixel = 8;   // 5 to 8 bits: one byte a pixel
constexpr uint32_t kMaxFlush = 65534;   // coded bytes held at most before a flush

// Run-length coding: a count byte has both top bits set; a run codes at
// most 63 repeats.
constexpr uint8_t kCountMark = 0xC0;
constexpr uint8_t kMaxRepeats = 63;

// How a page of the record is laid out in the file and in the caller's
// buffer.
struct Geometry {
    uint32_t bits = 0;          // bits of a pixel, all samples
    uint32_t planes = 0;
    uint32_t bitsPerPlane = 0;
    uint32_t lineBytes = 0;     // one plane's line
    uint32_t inputRow = 0;      // one row as the caller gives it
    uint32_t width = 0;         // pixels of a row
};

bool geometry_of(const PageInfo& i, Geometry* g) {
    const uint64_t bits = uint64_t(i.bitsPerSample[0]) * i.samplesPerPixel;
    const uint32_t w = i.imageWidth;
    if (bits >= 1 && bits <= kMaxPlaneBits) {
        // Bilevel rows as they come; 2 to 4 bits come as packed nibbles
        // and go out as one bit plane per bit.
        *g = {uint32_t(bits), uint32_t(bits), 1, (w + 7) / 8, bits == 1 ? (w + 7) / 8 : (w + 1) / 2, w};
    } else if (bits > kMaxPlaneBits && bits <= kMaxBytePixel) {
        *g = {uint32_t(bits), 1, 8, w, w, w};
    } else if (bits == kTrueColourBits) {
        *g = {uint32_t(bits), kTrueColourPlanes, 8, w, kTrueColourPlanes * w, w};
    } else {
        return false;
    }
    return true;
}

bool has_trailer(const Geometry& g) { return g.bits > kMaxPlaneBits && g.bits <= kMaxBytePixel; }

// The caller's colour map, when the page needs one: 3 x 2^bits bytes.
int colour_map(const PageInfo& i, const Geometry& g, std::span<const uint8_t>* map) {
    *map = {};
    if (g.bits == 1 || g.bits == kTrueColourBits) return 0;
    const TavPaletteArea& a = i.area.palette;
    if (!a.colorMapBuffer) return format_fail(TAV_E_OPTION);
    if (a.colorMapSize < (3u << g.bits)) return format_fail(TAV_E_INCONSISTENT);
    *map = {static_cast<const uint8_t*>(a.colorMapBuffer), a.colorMapSize};
    return 0;
}

void build_header(const PageInfo& i, const Geometry& g, std::span<const uint8_t> map,
                  std::span<uint8_t, kPcxHeaderSize> h) {
    std::fill(h.begin(), h.end(), 0);
    h[0] = kPcxMarker;
    h[kPcxVersionAt] = g.bits <= kMaxPlaneBits ? kVersionFewColours : kVersionManyColours;
    h[kPcxCodingAt] = kPcxRunLength;
    h[kPcxBitsAt] = uint8_t(g.bitsPerPlane);
    put_le16(&h[kPcxXMaxAt], uint16_t(i.imageWidth - 1));
    put_le16(&h[kPcxYMaxAt], uint16_t(i.imageLength - 1));
    if (g.bits > 1 && g.bits <= kMaxPlaneBits) {
        const size_t n = std::min<size_t>(map.size(), kPcxHeaderPaletteBytes);
        std::copy_n(map.begin(), n, &h[kPcxPaletteAt]);
    }
    h[kPcxPlanesAt] = uint8_t(g.planes);
    put_le16(&h[kPcxLineBytesAt], uint16_t(g.lineBytes));
    put_le16(&h[kPcxPaletteInfoAt], g.planes == kTrueColourPlanes ? 0 : kPaletteInfoColours);
}

// ---- coding ----

// The coder's output: a buffer that goes to the file at the writer's
// position whenever it is full.
struct PcxOutput {
    FctEntry* e;
    PcxWriter& writer;
    std::span<uint8_t> buffer;
    uint32_t held = 0;     // bytes in the buffer
    uint32_t written = 0;  // bytes this call has written to the file

    bool put(uint8_t byte);
};

// The writer's position is read and advanced under the named
// write-position mutex; the write between runs without it, so threads
// writing different files never wait for one another's writes.
uint32_t pcx_position(const PcxWriter& writer) {
    NamedLock lock(NamedMutex::WritePos);
    return writer.position;
}

void pcx_advance(PcxWriter& writer, uint32_t n) {
    NamedLock lock(NamedMutex::WritePos);
    writer.position += n;
}

// Writes what the output holds at the writer's position, which advances.
// Bytes written, or -1 with errno.
int32_t pcx_flush(PcxOutput& out) {
    if (out.held == 0) return 0;
    errno = 0;
    const uint32_t at = pcx_position(out.writer);
    if (!fio_length_fits(uint64_t(at) + out.held + out.writer.trailerBytes)) return -1;
    if (fio_write_at(int(out.e->fd), at, out.buffer.data(), out.held) < 0) return -1;
    const uint32_t n = out.held;
    pcx_advance(out.writer, n);
    out.written += n;
    out.held = 0;
    return int32_t(n);
}

inline bool PcxOutput::put(uint8_t byte) {
    buffer[held++] = byte;
    return held < buffer.size() || pcx_flush(*this) >= 0;
}

// Codes one line (one plane of one row): a byte repeated by the k bytes
// after it (k up to 63) as 0xC0 | k and the byte, after which the run's
// last byte starts the next step; so a run of n bytes (n up to 64) is
// 0xC0 | (n - 1), the byte, and the byte once more. A single byte with both
// top bits set goes behind 0xC1. False when a flush failed.
bool pcx_encode_line(std::span<const uint8_t> line, PcxOutput& out) {
    const size_t n = line.size();
    for (size_t i = 0; i < n;) {
        const uint8_t b = line[i];
        const size_t limit = std::min(n - 1, i + kMaxRepeats);
        size_t j = i;
        while (j < limit && line[j + 1] == b) ++j;
        if (j > i) {
            if (!out.put(uint8_t(kCountMark | (j - i))) || !out.put(b)) return false;
            i = j;
        } else {
            if ((b & kCountMark) == kCountMark && !out.put(kCountMark | 1)) return false;
            if (!out.put(b)) return false;
            ++i;
        }
    }
    return true;
}

// One input row into its plane lines, each coded.
bool encode_row(const Geometry& g, const uint8_t* row, uint8_t* planes, PcxOutput& out) {
    const uint32_t B = g.lineBytes;
    if (g.planes == 1) return pcx_encode_line({row, B}, out);
    if (g.bits == kTrueColourBits) {
        for (uint32_t c = 0; c < kTrueColourPlanes; ++c)
            for (uint32_t x = 0; x < B; ++x) planes[c * B + x] = row[kTrueColourPlanes * x + c];
    } else {
        // Pixel x is the high nibble of byte x / 2 for even x; bit p of its
        // value goes to plane p.
        std::memset(planes, 0, size_t(g.planes) * B);
        for (uint32_t x = 0; x < g.width; ++x) {
            const uint8_t v = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
            const uint8_t bit = uint8_t(0x80 >> (x % 8));
            for (uint32_t p = 0; p < g.planes; ++p)
                if (v & (1u << p)) planes[p * B + x / 8] |= bit;
        }
    }
    for (uint32_t p = 0; p < g.planes; ++p)
        if (!pcx_encode_line({planes + size_t(p) * B, B}, out)) return false;
    return true;
}

// The palette trailer at the end of the file. Bytes written, or -1.
int32_t append_trailer(FctEntry* e, const PcxWriter& w) {
    const int32_t end = fio_length(int(e->fd));
    if (end < 0) return -1;
    if (fio_write_at(int(e->fd), uint32_t(end), w.trailer.data(), kPcxTrailerSize) < 0) return -1;
    return int32_t(kPcxTrailerSize);
}

// The page cannot be finished: errno (5 when none is set) is its code.
int break_page(PcxWriter& w) {
    if (errno == 0) errno = TAV_EIO;
    w.broken = errno;
    return -1;
}

}  // namespace

int pcx_image_drop_broken(FctEntry* e, const PcxWriter& w, uint32_t keep) {
    if (!w.broken) return 0;
    fct_cut_at_close(e, keep);
    errno = w.broken;
    return -1;
}

int pcx_image_put_header(FctEntry* e, PageInfo* info, uint32_t at, PcxWriter& w) {
    Geometry g;
    if (!geometry_of(*info, &g)) return format_fail(TAV_E_COMPRESSION);
    if (info->imageWidth == 0 || info->imageWidth > kMaxDimension || info->imageLength == 0 ||
        info->imageLength > kMaxDimension)
        return format_fail(TAV_E_SIZE);
    std::span<const uint8_t> map;
    if (colour_map(*info, g, &map) < 0) return -1;

    std::array<uint8_t, kPcxHeaderSize> header;
    build_header(*info, g, map, header);
    errno = 0;
    const uint32_t trailer = has_trailer(g) ? kPcxTrailerSize : 0;
    if (!fio_length_fits(uint64_t(at) + kPcxHeaderSize + trailer)) return -1;
    if (fio_write_at(int(e->fd), at, header.data(), kPcxHeaderSize) < 0) return -1;

    w.headerAt = at;
    w.trailerBytes = trailer;
    w.broken = 0;
    w.position = at + kPcxHeaderSize;
    w.trailer.fill(0);
    w.trailer[0] = kPcxPaletteMark;
    if (has_trailer(g)) {
        const size_t n = std::min<size_t>(map.size(), kPcxPaletteBytes);
        std::copy_n(map.begin(), n, w.trailer.begin() + 1);
    }
    view_set_flag_bytes(*info, {uint8_t(g.lineBytes), uint8_t(g.lineBytes >> 8), 0, 0});
    e->editFlags = kEditPageUnderWay;
    return 0;
}

int32_t pcx_image_write_rows(FctEntry* e, uint16_t page, std::span<const uint8_t> rows, uint8_t flag,
                       PcxWriter& w) {
    if (page != e->curPage) return format_fail(TAV_E_OTHER_PAGE);
    if (w.broken) return format_fail(w.broken);
    Geometry g;
    if (!geometry_of(e->pageInfo, &g)) return format_fail(TAV_E_COMPRESSION);
    if (g.inputRow == 0 || rows.size() < g.inputRow) return format_fail(TAV_E_COUNT);

    const auto count = uint32_t(rows.size());
    MemBlock<uint8_t> buffer(std::min(count, kMaxFlush), 1);
    MemBlock<uint8_t> planes;
    if (g.planes > 1) planes.reset(static_cast<uint8_t*>(mem_calloc(g.planes, g.lineBytes)));
    if (!buffer || (g.planes > 1 && !planes)) return format_fail(TAV_ENOMEM);

    PcxOutput out{e, w, {buffer.get(), std::min(count, kMaxFlush)}};
    const uint32_t n = count / g.inputRow;
    for (uint32_t r = 0; r < n; ++r)
        if (!encode_row(g, rows.data() + size_t(r) * g.inputRow, planes.get(), out)) return break_page(w);
    if (pcx_flush(out) < 0) return break_page(w);

    int32_t total = int32_t(out.written);
    if (flag != 0) {
        if (has_trailer(g)) {
            const int32_t t = append_trailer(e, w);
            if (t < 0) return break_page(w);
            total += t;
        }
        e->editFlags = kEditPageComplete;
    }
    return total;
}
