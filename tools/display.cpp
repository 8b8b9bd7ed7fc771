// Turning, stretching and shrinking pictures.
#include "display.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace qvtool {
namespace {

constexpr uint32_t kAsStored = 1;
constexpr uint32_t kLastOrientation = 8;
constexpr uint32_t kOpaque = 255;

// The library reports Orientation n as the rotation and mirroring of
// entry n (entry 0 unused).
struct LibraryTurn {
    uint32_t rotation, mirrored;
};
constexpr std::array<LibraryTurn, 9> kLibraryTurns = {{{0, 0},
                                                       {0, 0},
                                                       {270, 0},
                                                       {180, 0},
                                                       {90, 0},
                                                       {0, 1},
                                                       {270, 1},
                                                       {180, 1},
                                                       {90, 1}}};

// Orientation n shows pixel (x, y) of the displayed page from stored pixel
// (a, b): (a, b) = (y, x) when transposed, else (x, y); then each of a, b
// counted from the far side when flipped.
struct Mapping {
    bool transpose, flipA, flipB;
};
constexpr std::array<Mapping, 9> kMappings = {{{false, false, false},
                                               {false, false, false},
                                               {false, true, false},
                                               {false, true, true},
                                               {false, false, true},
                                               {true, false, false},
                                               {true, false, true},
                                               {true, true, true},
                                               {true, true, false}}};

// The AWD display rotation, clockwise, as an orientation.
uint32_t awd_orientation(uint32_t rotation) {
    switch (rotation) {
    case 90: return 6;
    case 180: return 3;
    case 270: return 8;
    default: return kAsStored;
    }
}

// A picture of another size whose pixel (x, y) is pixel map(x, y) of src.
template <class Map>
Picture remap(const Picture& src, Size size, const Limits& limits, Map map) {
    Picture out = make_picture(size.width, size.height, src.colour, src.depth, limits);
    out.palette = src.palette;
    out.perInch = src.perInch;
    const size_t pixelBytes = src.depth == 1 ? 0 : size_t(src.channels()) * src.depth / 8;
    for (uint32_t y = 0; y < out.height; ++y) {
        uint8_t* o = out.row(y);
        for (uint32_t x = 0; x < out.width; ++x) {
            const auto [sx, sy] = map(x, y);
            const uint8_t* s = src.row(sy);
            if (pixelBytes == 0) {
                if (white_at(s, sx)) set_white(o, x);
            } else {
                std::memcpy(o + x * pixelBytes, s + sx * pixelBytes, pixelBytes);
            }
        }
    }
    return out;
}

// Stretched by nearest neighbour: each stored pixel repeated.
Picture stretched(const Picture& p, Size size, const Limits& limits) {
    const double fx = double(p.width) / size.width, fy = double(p.height) / size.height;
    auto source = [](uint32_t i, double f, uint32_t n) { return std::min(uint32_t((i + 0.5) * f), n - 1); };
    Picture out = remap(p, size, limits, [&](uint32_t x, uint32_t y) {
        return std::pair{source(x, fx, p.width), source(y, fy, p.height)};
    });
    out.xRes = out.yRes = std::max(p.xRes, p.yRes);
    return out;
}

struct Rgba {
    uint32_t r, g, b, a;
};

Rgba sample_at(const Picture& p, const uint8_t* row, uint32_t x) {
    const uint32_t step = p.depth / 8, n = p.channels();
    auto at = [&](uint32_t c) { return uint32_t(row[(size_t(x) * n + c) * step]); };  // high byte of 16 bits
    switch (p.colour) {
    case Colour::grey: return p.depth == 1 ? (white_at(row, x) ? Rgba{255, 255, 255, kOpaque} : Rgba{0, 0, 0, kOpaque})
                                           : Rgba{at(0), at(0), at(0), kOpaque};
    case Colour::grey_alpha: return {at(0), at(0), at(0), at(1)};
    case Colour::rgb: return {at(0), at(1), at(2), kOpaque};
    case Colour::rgba: return {at(0), at(1), at(2), at(3)};
    case Colour::palette: {
        const Rgb c = p.palette[row[x]];
        return {c.r, c.g, c.b, kOpaque};
    }
    }
    return {};
}

uint32_t over_white(uint32_t c, uint32_t a) { return (c * a + 255 * (255 - a)) / 255; }

// Adds source row y into the column sums (3 a column); bilevel rows add
// their black pixels to the first sum of each column only.
void add_row(const Picture& p, uint32_t y, const std::vector<uint32_t>& colOf, std::vector<uint64_t>& sums) {
    const uint8_t* row = p.row(y);
    if (p.depth == 1) {
        // Fax pages are mostly white: white bytes are passed over, and the
        // black dots of a byte that lies in one column are counted at once.
        const uint32_t full = p.width / 8, tail = p.width % 8;
        for (uint32_t k = 0; k < full; ++k) {
            uint32_t black = uint8_t(~row[k]);
            if (black == 0) continue;
            if (colOf[8 * k] == colOf[8 * k + 7]) {
                sums[3 * colOf[8 * k]] += uint32_t(std::popcount(black));
                continue;
            }
            for (; black != 0; black &= black - 1) sums[3 * colOf[8 * k + 7 - std::countr_zero(black)]] += 1;
        }
        uint32_t black = tail ? uint8_t(~row[full]) & (0xFF00u >> tail) & 0xFF : 0;
        for (; black != 0; black &= black - 1) sums[3 * colOf[8 * full + 7 - std::countr_zero(black)]] += 1;
        return;
    }
    for (uint32_t x = 0; x < p.width; ++x) {
        const Rgba s = sample_at(p, row, x);
        uint64_t* sum = &sums[3 * colOf[x]];
        sum[0] += over_white(s.r, s.a), sum[1] += over_white(s.g, s.a), sum[2] += over_white(s.b, s.a);
    }
}

void put_average(const Picture& p, const std::vector<uint64_t>& sums, uint64_t area, uint32_t j, uint8_t* out,
                 bool colour) {
    const uint64_t* s = &sums[3 * j];
    uint32_t c[3];
    if (p.depth == 1) c[0] = c[1] = c[2] = uint32_t((255 * (area - s[0]) + area / 2) / area);
    else for (int k = 0; k < 3; ++k) c[k] = uint32_t((s[k] + area / 2) / area);
    if (colour) out[0] = uint8_t(c[0]), out[1] = uint8_t(c[1]), out[2] = uint8_t(c[2]);
    else out[0] = uint8_t((c[0] * 299 + c[1] * 587 + c[2] * 114 + 500) / 1000);
}

}  // namespace

uint32_t display_orientation(const PageInfo& info, uint32_t fileType) {
    if (fileType == FILETYPE_AWD) return awd_orientation(TAV_AWD_HIGH(info.maxStripSize));
    if (fileType != FILETYPE_TIFF && fileType != FILETYPE_BLOCK) return kAsStored;
    for (uint32_t n = kAsStored; n <= kLastOrientation; ++n)
        if (kLibraryTurns[n].rotation == info.rotation && kLibraryTurns[n].mirrored == info.mirrored) return n;
    return kAsStored;
}

bool swaps_sides(uint32_t orientation) { return orientation <= kLastOrientation && kMappings[orientation].transpose; }

Size true_aspect(const Picture& p) {
    Size s{p.width, p.height};
    if (p.xRes <= 0 || p.yRes <= 0 || p.xRes == p.yRes) return s;
    auto grown = [](uint32_t n, double f) { return uint32_t(std::min(std::round(n * f), double(UINT32_MAX))); };
    if (p.xRes > p.yRes) s.height = grown(p.height, p.xRes / p.yRes);
    else s.width = grown(p.width, p.yRes / p.xRes);
    return s;
}

Picture turned(const Picture& p, uint32_t orientation, const Limits& limits) {
    if (orientation <= kAsStored || orientation > kLastOrientation) return p;
    const Mapping m = kMappings[orientation];
    const Size size = m.transpose ? Size{p.height, p.width} : Size{p.width, p.height};
    Picture out = remap(p, size, limits, [&](uint32_t x, uint32_t y) {
        uint32_t a = m.transpose ? y : x, b = m.transpose ? x : y;
        if (m.flipA) a = p.width - 1 - a;
        if (m.flipB) b = p.height - 1 - b;
        return std::pair{a, b};
    });
    out.xRes = m.transpose ? p.yRes : p.xRes;
    out.yRes = m.transpose ? p.xRes : p.yRes;
    return out;
}

Picture as_displayed(const Picture& p, uint32_t orientation, const Limits& limits) {
    const Size s = true_aspect(p);
    if (s.width == p.width && s.height == p.height) return turned(p, orientation, limits);
    return turned(stretched(p, s, limits), orientation, limits);
}

Picture thumbnail(const Picture& p, Size size, bool colour) {
    Picture out;
    out.width = std::clamp(size.width, 1u, p.width);
    out.height = std::clamp(size.height, 1u, p.height);
    out.colour = colour ? Colour::rgb : Colour::grey;
    out.rows.assign(out.row_bytes() * out.height, 0);
    std::vector<uint32_t> colOf(p.width), span(out.width, 0);
    for (uint32_t x = 0; x < p.width; ++x) ++span[colOf[x] = uint32_t(uint64_t(x) * out.width / p.width)];
    std::vector<uint64_t> sums(3 * size_t(out.width));
    uint32_t y0 = 0;
    for (uint32_t oy = 0; oy < out.height; ++oy) {
        const uint32_t y1 = uint32_t(uint64_t(oy + 1) * p.height / out.height);
        std::fill(sums.begin(), sums.end(), 0);
        for (uint32_t y = y0; y < y1; ++y) add_row(p, y, colOf, sums);
        for (uint32_t j = 0; j < out.width; ++j)
            put_average(p, sums, uint64_t(span[j]) * (y1 - y0), j, out.row(oy) + j * out.channels(), colour);
        y0 = y1;
    }
    return out;
}

bool has_colour(const Picture& p) {
    auto grey = [](uint32_t r, uint32_t g, uint32_t b) { return r == g && g == b; };
    if (p.colour == Colour::palette)
        return std::any_of(p.palette.begin(), p.palette.end(), [&](const Rgb& c) { return !grey(c.r, c.g, c.b); });
    if (p.colour != Colour::rgb && p.colour != Colour::rgba) return false;
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const Rgba s = sample_at(p, p.row(y), x);
            if (!grey(s.r, s.g, s.b)) return true;
        }
    return false;
}

}  // namespace qvtool
