// A page as pixels: what every page type is decoded into, what the display
// transforms and the thumbnails work on, and what the PNG writer takes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvtool {

// How a picture's samples are read; these are PNG's colour types.
enum class Colour : uint8_t { grey, grey_alpha, rgb, rgba, palette };

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// Rows of samples, top row first, each row starting with its leftmost
// pixel. Depth 1 (grey only) packs eight pixels a byte, the first in the
// high bit, 1 white; depth 8 is a byte a sample (a palette index for
// palette pictures); depth 16 two bytes a sample, high byte first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    Colour colour = Colour::grey;
    uint8_t depth = 8;
    std::vector<Rgb> palette;  // palette pictures: 256 entries
    std::vector<uint8_t> rows;
    // Resolution: pixels per inch, or without a unit only their ratio;
    // 0 when the page gives none.
    double xRes = 0;
    double yRes = 0;
    bool perInch = false;

    uint32_t channels() const {
        switch (colour) {
        case Colour::grey_alpha: return 2;
        case Colour::rgb: return 3;
        case Colour::rgba: return 4;
        default: return 1;
        }
    }
    size_t row_bytes() const { return (size_t(width) * channels() * depth + 7) / 8; }
    uint8_t* row(uint32_t y) { return rows.data() + y * row_bytes(); }
    const uint8_t* row(uint32_t y) const { return rows.data() + y * row_bytes(); }
};

// The largest picture the renderer makes, in bytes of rows: a page whose
// pixels would take more is refused (a damaged or hostile size).
struct Limits {
    uint64_t maxBytes = uint64_t(256) << 20;
};

// A page that cannot be drawn: its layout, its data, its size.
class DrawError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes of rows of a picture of that size and form (saturating).
uint64_t picture_bytes(uint32_t width, uint32_t height, Colour colour, uint8_t depth);

// A picture of that size and form, rows zeroed (palette pictures get a
// black palette of 256 entries). Throws DrawError when it is empty or
// larger than the limits allow.
Picture make_picture(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits);
// The same, taking rows already decoded (exactly the picture's bytes).
Picture make_picture(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits,
                     std::vector<uint8_t>&& rows);
// Throws DrawError when a picture of that size and form is empty or larger
// than the limits allow.
void check_picture_size(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits);

// A sample of `bits` bits (1 to 16) brought to 8 bits, the way image
// decoders scale short samples: v * 255 / (2^bits - 1), rounded down.
uint8_t scale_to_byte(uint32_t value, uint32_t bits);

// Sample x of a row of samples `bits` wide (1, 2, 4, 8), packed from the
// high bits.
inline uint32_t packed_sample(const uint8_t* row, uint32_t x, uint32_t bits) {
    if (bits == 8) return row[x];
    const uint32_t bit = x * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// Pixel x of a depth-1 row: 1 white, 0 black.
inline bool white_at(const uint8_t* row, uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1; }
inline void set_white(uint8_t* row, uint32_t x) { row[x / 8] |= uint8_t(0x80u >> (x % 8)); }

// Turns every pixel of a depth-1 picture to its opposite.
void invert_bilevel(Picture& p);

}  // namespace qvtool
