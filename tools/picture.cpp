// Pictures: sizes, allocation within the limits, sample scaling.
#include "picture.h"

#include <algorithm>
#include <limits>
#include <new>

namespace qvtool {
namespace {

constexpr uint32_t kPaletteEntries = 256;

}  // namespace

uint64_t picture_bytes(uint32_t width, uint32_t height, Colour colour, uint8_t depth) {
    Picture shape;
    shape.colour = colour;
    const uint64_t row = (uint64_t(width) * shape.channels() * depth + 7) / 8;
    if (height != 0 && row > std::numeric_limits<uint64_t>::max() / height) return std::numeric_limits<uint64_t>::max();
    return row * height;
}

void check_picture_size(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits) {
    if (width == 0 || height == 0)
        throw DrawError("an empty page (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)");
    const uint64_t bytes = picture_bytes(width, height, colour, depth);
    if (bytes > limits.maxBytes)
        throw DrawError(std::to_string(width) + " x " + std::to_string(height) + " pixels take " +
                        std::to_string(bytes >> 20) + " MB, more than the " + std::to_string(limits.maxBytes >> 20) +
                        " MB a picture may take");
}

Picture make_picture(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits,
                     std::vector<uint8_t>&& rows) {
    check_picture_size(width, height, colour, depth, limits);
    if (rows.size() != picture_bytes(width, height, colour, depth))
        throw DrawError("the decoded rows do not fill the page");
    Picture p;
    p.width = width;
    p.height = height;
    p.colour = colour;
    p.depth = depth;
    p.rows = std::move(rows);
    if (colour == Colour::palette) p.palette.assign(kPaletteEntries, Rgb{});
    return p;
}

Picture make_picture(uint32_t width, uint32_t height, Colour colour, uint8_t depth, const Limits& limits) {
    check_picture_size(width, height, colour, depth, limits);
    std::vector<uint8_t> rows;
    try {
        rows.assign(size_t(picture_bytes(width, height, colour, depth)), 0);
    } catch (const std::bad_alloc&) {
        throw DrawError("no memory for the page's pixels");
    }
    return make_picture(width, height, colour, depth, limits, std::move(rows));
}

uint8_t scale_to_byte(uint32_t value, uint32_t bits) {
    if (bits == 8) return uint8_t(value);
    const uint32_t max = (1u << bits) - 1;
    return uint8_t(std::min(value, max) * 255u / max);
}

void invert_bilevel(Picture& p) {
    for (uint8_t& b : p.rows) b = uint8_t(~b);
}

}  // namespace qvtool
