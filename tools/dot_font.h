// A 5 x 7 dot font for the few characters the tool draws: the sample
// documents' texts and the page numbers of contact sheets.
#pragma once

#include <array>
#include <cstdint>

namespace qvtool {

constexpr uint32_t kGlyphWidth = 5;
constexpr uint32_t kGlyphHeight = 7;
// Glyphs stand this many dots apart.
constexpr uint32_t kGlyphAdvance = 6;

// Rows top to bottom; bit 4 is the leftmost dot.
struct Glyph {
    char c;
    std::array<uint8_t, kGlyphHeight> rows;
};

constexpr Glyph kFont[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'C', {14, 17, 16, 16, 16, 17, 14}},
    {'E', {31, 16, 16, 30, 16, 16, 31}}, {'G', {14, 17, 16, 23, 17, 17, 15}},
    {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 25, 21, 19, 17, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'P', {30, 17, 17, 30, 16, 16, 16}}, {'Q', {14, 17, 17, 17, 21, 18, 13}},
    {'R', {30, 17, 17, 30, 20, 18, 17}}, {'S', {15, 16, 16, 14, 1, 1, 30}},
    {'T', {31, 4, 4, 4, 4, 4, 4}},       {'V', {17, 17, 17, 17, 17, 10, 4}},
    {'Y', {17, 17, 10, 4, 4, 4, 4}},     {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},
    {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {30, 1, 1, 14, 1, 1, 30}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},
    {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
};

// The glyph of c, or nullptr for a character the font lacks.
constexpr const Glyph* glyph_of(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

// Whether dot (col, row) of the glyph is set.
constexpr bool glyph_dot(const Glyph& g, uint32_t col, uint32_t row) {
    return (g.rows[row] >> (kGlyphWidth - 1 - col)) & 1;
}

}  // namespace qvtool
