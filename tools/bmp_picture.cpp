// BMP pages unpacked here. The library hands out the stored rows, bottom
// row first, each padded to 4 bytes (16- and 32-bit pages converted to
// 24-bit rows), or the RLE8 or RLE4 stream as stored; the picture has the
// top row first.
//
// What each page becomes: 1-bit pages bilevel (the library tells from the
// palette's first entry whether 0 is black or white); 4- and 8-bit pages
// palette indexes with the file's palette; 24-bit pages RGB. Of 16- and
// 32-bit pages the library keeps each component's top bits; a component of
// n bits (n below 8) is brought back to 8 bits as v * 255 / (2^n - 1), so
// a 5-bit 31 is 255 again. In run-length data, pixels the stream skips
// (end of line, delta) stay index 0, and a run beyond the row's end is cut.
#include <array>
#include <bit>

#include "format_view.h"
#include "page_stream.h"
#include "picture_decoders.h"

namespace qvtool {
namespace {

constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kCoreHeaderKind = 1;
constexpr uint32_t kComponentBits = 8;
// Escape codes after a 0 count in run-length data.
constexpr int kEndOfLine = 0;
constexpr int kEndOfBitmap = 1;
constexpr int kDelta = 2;

// Puts pixels of run-length data; rows counted from the bottom.
struct RunCursor {
    Picture& p;
    uint32_t x = 0, y = 0;
    void put(uint8_t v) {
        if (x < p.width && y < p.height) p.row(p.height - 1 - y)[x] = v;
        if (x < p.width) ++x;
    }
};

void unpack_rle(PageStream& in, Picture& p, bool fourBits) {
    RunCursor c{p};
    while (c.y < p.height) {
        const int n = in.get(), v = in.get();
        if (v < 0) return;
        if (n > 0) {
            for (int k = 0; k < n && c.x < p.width; ++k)
                c.put(fourBits ? uint8_t(k % 2 ? v & 0x0F : v >> 4) : uint8_t(v));
            continue;
        }
        if (v == kEndOfBitmap) return;
        if (v == kEndOfLine) {
            c.x = 0, ++c.y;
        } else if (v == kDelta) {
            const int dx = in.get(), dy = in.get();
            if (dy < 0) return;
            c.x = std::min(c.x + uint32_t(dx), p.width), c.y += uint32_t(dy);
        } else {
            // Absolute: v pixels as stored, padded to a 16-bit boundary.
            const int bytes = fourBits ? (v + 1) / 2 : v;
            for (int k = 0; k < bytes; ++k) {
                const int b = in.get();
                if (b < 0) return;
                if (!fourBits) c.put(uint8_t(b));
                else for (int h = 0; h < 2 && 2 * k + h < v; ++h) c.put(uint8_t(h ? b & 0x0F : b >> 4));
            }
            if (bytes % 2 && in.get() < 0) return;
        }
    }
}

// A component's delivered byte back to 8 bits, by the bits its mask has.
std::array<uint8_t, 256> widen_table(uint32_t mask) {
    const uint32_t n = std::min<uint32_t>(uint32_t(std::popcount(mask)), kComponentBits);
    std::array<uint8_t, 256> t{};
    for (uint32_t v = 0; v < 256 && n != 0; ++v) t[v] = scale_to_byte(v >> (kComponentBits - n), n);
    return t;
}

void place_row(const PageInfo& i, const std::vector<uint8_t>& in, Picture& p, uint32_t y) {
    uint8_t* out = p.row(y);
    if (p.colour == Colour::grey) {
        std::copy(in.begin(), in.begin() + long(p.row_bytes()), out);
    } else if (p.colour == Colour::palette) {
        for (uint32_t x = 0; x < p.width; ++x) out[x] = uint8_t(packed_sample(in.data(), x, i.bitsPerSample[0]));
    } else {
        for (uint32_t x = 0; x < p.width; ++x)
            for (uint32_t c = 0; c < 3; ++c) out[3 * x + c] = in[3 * x + 2 - c];
    }
}

void widen_components(const PageInfo& i, Picture& p) {
    if (i.bmpBytesPerPixel != 2 && i.bmpBytesPerPixel != 4) return;
    const std::array<std::array<uint8_t, 256>, 3> t = {widen_table(i.bmpMasks[0]), widen_table(i.bmpMasks[1]),
                                                      widen_table(i.bmpMasks[2])};
    for (size_t k = 0; k < p.rows.size(); ++k) p.rows[k] = t[k % 3][p.rows[k]];
}

}  // namespace

Picture bmp_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    const uint32_t rle = view_value(FILETYPE_BMP, i, "runLength"), rowBytes = view_value(FILETYPE_BMP, i, "rowBytes");
    Colour colour = Colour::rgb;
    if (i.photometric == TAV_PHOTO_BILEVEL_WHITE || i.photometric == TAV_PHOTO_BILEVEL_BLACK) colour = Colour::grey;
    else if (i.photometric == TAV_PHOTO_PALETTE) colour = Colour::palette;
    else if (i.photometric != TAV_PHOTO_RGB) throw DrawError("a BMP page of photometric " + std::to_string(i.photometric));
    Picture p = make_picture(i.imageWidth, i.imageLength, colour, colour == Colour::grey ? 1 : 8, limits);
    PageStream data(rd);
    if (rle == kRle8 || rle == kRle4) {
        if (colour != Colour::palette) throw DrawError("run-length data on a page without a palette");
        unpack_rle(data, p, rle == kRle4);
    } else {
        const uint64_t needed = (uint64_t(p.width) * (colour == Colour::rgb ? 24 : i.bitsPerSample[0]) + 7) / 8;
        if (rowBytes < needed) throw DrawError("BMP rows of " + std::to_string(rowBytes) + " bytes are too short");
        std::vector<uint8_t> row(rowBytes);
        for (uint32_t y = p.height; y-- > 0;) {
            if (data.read(row.data(), row.size()) < row.size()) break;  // rows the file lacks stay 0
            place_row(i, row, p, y);
        }
    }
    if (i.photometric == TAV_PHOTO_BILEVEL_WHITE) invert_bilevel(p);
    if (colour == Colour::palette)
        take_palette(p, rd.colour_map(),
                     view_value(FILETYPE_BMP, i, "headerKind") == kCoreHeaderKind ? kBgrEntries : kBgr0Entries);
    widen_components(i, p);
    return p;
}

}  // namespace qvtool
