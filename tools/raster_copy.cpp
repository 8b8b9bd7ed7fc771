// TIFF pages into PCX, DCX and BMP files, as rows: bilevel pages, pages of
// 4 or 8 bits (palette or grey) and 24-bit RGB pages of contiguous samples,
// in any compression libtiff decodes (JPEG pages are refused).
//
// What each format takes: PCX rows as the TIFF samples are (packed nibbles
// for 4 bits, red, green, blue for RGB) with a palette of red, green, blue
// bytes, a bilevel page with 1 white (min-is-white pages inverted); BMP
// rows padded to 4 bytes (blue, green, red for RGB), top row first (the
// library places them bottom-up), with a palette of blue, green, red, 0
// (for a bilevel page two entries, white first for a min-is-white page, so
// that its bits stay as they are). Grey pages get a grey palette. A BMP's
// resolution goes in pixels per metre.
#include "raster_copy.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "bilevel.h"
#include "tool_error.h"

namespace qvtool {
namespace {

constexpr uint32_t kMaxPcxSide = 0xFFFF;
constexpr uint32_t kMaxBmpRowBytes = 32764;
constexpr uint32_t kMaxBmpRows = 0xFFFF;
constexpr uint32_t kMaxDcxPages = 1024;
constexpr uint32_t kPlanarContiguous = 1;
constexpr double kInchesPerMetre = 39.3701;
// Whole rows handed to xtavwrite per call: about this many bytes.
constexpr uint32_t kBytesPerWrite = 1u << 20;
constexpr uint8_t kLastData = 1;

enum class Kind { bilevel, palette, grey, rgb, other };

Kind kind_of(const PageInfo& i) {
    const uint32_t bits = i.bitsPerSample[0];
    if (i.samplesPerPixel == 1 && bits == 1 &&
        (i.photometric == TAV_PHOTO_BILEVEL_WHITE || i.photometric == TAV_PHOTO_BILEVEL_BLACK))
        return Kind::bilevel;
    if (i.samplesPerPixel == 1 && (bits == 4 || bits == 8)) {
        if (i.photometric == TAV_PHOTO_PALETTE) return Kind::palette;
        if (i.photometric == TAV_PHOTO_GRAY_WHITE || i.photometric == TAV_PHOTO_GRAY_BLACK) return Kind::grey;
    }
    if (i.samplesPerPixel == 3 && bits == 8 && i.bitsPerSample[1] == 8 && i.bitsPerSample[2] == 8 &&
        i.photometric == TAV_PHOTO_RGB && i.area.rgb.planarConfig <= kPlanarContiguous)
        return Kind::rgb;
    return Kind::other;
}

uint32_t pixel_bits(const PageInfo& i) { return i.bitsPerSample[0] * i.samplesPerPixel; }

// The page's colours, red, green, blue: its TIFF colour map (16-bit values,
// all reds, then greens, then blues), or a grey ramp.
std::vector<std::array<uint8_t, 3>> colours_of(const PageReader& rd, Kind kind) {
    const PageInfo& i = rd.info();
    const uint32_t n = 1u << i.bitsPerSample[0];
    std::vector<std::array<uint8_t, 3>> out(n);
    if (kind == Kind::palette) {
        std::span<const uint8_t> map = rd.colour_map();
        if (map.size() < 6u * n) throw ToolError(rd.path(), "page " + std::to_string(rd.page()) + ": no colour map");
        auto value = [&](uint32_t k) {
            uint16_t v;
            std::memcpy(&v, map.data() + 2 * k, 2);
            return uint8_t(v >> 8);
        };
        for (uint32_t k = 0; k < n; ++k) out[k] = {value(k), value(n + k), value(2 * n + k)};
        return out;
    }
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t level = k * 255 / (n - 1);
        if (i.photometric == TAV_PHOTO_GRAY_WHITE) level = 255 - level;
        out[k] = {uint8_t(level), uint8_t(level), uint8_t(level)};
    }
    return out;
}

// What goes to the library: the page information and its rows.
struct Rows {
    PageInfo info{};
    uint32_t rowBytes = 0;
    std::vector<uint8_t> rows;
    std::vector<uint8_t> palette;
};

void set_common(Rows& r, const PageInfo& src, uint32_t photometric) {
    r.info.imageWidth = src.imageWidth;
    r.info.imageLength = src.imageLength;
    r.info.samplesPerPixel = src.samplesPerPixel;
    for (uint32_t s = 0; s < src.samplesPerPixel; ++s) r.info.bitsPerSample[s] = src.bitsPerSample[s];
    r.info.photometric = photometric;
    r.info.compression = TAV_COMP_NONE;
}

Rows pcx_rows(const PageReader& rd, Kind kind, Samples s) {
    const PageInfo& i = rd.info();
    Rows r;
    set_common(r, i, kind == Kind::bilevel ? TAV_PHOTO_BILEVEL_BLACK : kind == Kind::rgb ? TAV_PHOTO_RGB
                                                                                          : TAV_PHOTO_PALETTE);
    r.rowBytes = s.rowBytes;
    r.rows = std::move(s.rows);
    // PCX bilevel pages show set bits white.
    if (kind == Kind::bilevel && i.photometric == TAV_PHOTO_BILEVEL_WHITE)
        for (uint8_t& b : r.rows) b = uint8_t(~b);
    if (kind == Kind::palette || kind == Kind::grey)
        for (const auto& c : colours_of(rd, kind)) r.palette.insert(r.palette.end(), c.begin(), c.end());
    return r;
}

Rows bmp_rows(const PageReader& rd, Kind kind, const Samples& s) {
    const PageInfo& i = rd.info();
    Rows r;
    set_common(r, i, kind == Kind::grey ? TAV_PHOTO_PALETTE : i.photometric);
    r.rowBytes = uint32_t((uint64_t(i.imageWidth) * pixel_bits(i) + 31) / 32 * 4);
    r.rows.assign(size_t(r.rowBytes) * s.height, 0);
    for (uint32_t y = 0; y < s.height; ++y) {
        const uint8_t* from = s.rows.data() + size_t(y) * s.rowBytes;
        uint8_t* to = r.rows.data() + size_t(y) * r.rowBytes;
        std::memcpy(to, from, s.rowBytes);
        if (kind == Kind::rgb)
            for (uint32_t x = 0; x < i.imageWidth; ++x) std::swap(to[3 * x], to[3 * x + 2]);
    }
    std::vector<std::array<uint8_t, 3>> colours;
    if (kind == Kind::bilevel) {
        const std::array<uint8_t, 3> black{0, 0, 0}, white{255, 255, 255};
        colours = i.photometric == TAV_PHOTO_BILEVEL_WHITE ? std::vector{white, black} : std::vector{black, white};
    } else if (kind != Kind::rgb) {
        colours = colours_of(rd, kind);
    }
    for (const auto& c : colours) r.palette.insert(r.palette.end(), {c[2], c[1], c[0], 0});
    const uint32_t dpi[2] = {whole_dpi(i.xResNum, i.xResDen, i.resolutionUnit),
                             whole_dpi(i.yResNum, i.yResDen, i.resolutionUnit)};
    r.info.xResNum = uint32_t(dpi[0] * kInchesPerMetre + 0.5);
    r.info.yResNum = uint32_t(dpi[1] * kInchesPerMetre + 0.5);
    r.info.xResDen = r.info.yResDen = 1;
    return r;
}

}  // namespace

bool raster_type(uint32_t fileType) {
    return fileType == FILETYPE_PCX || fileType == FILETYPE_DCX || fileType == FILETYPE_BMP;
}

uint32_t raster_page_limit(uint32_t fileType) { return fileType == FILETYPE_DCX ? kMaxDcxPages : 1; }

std::string raster_copy_refusal(const PageReader& rd, uint32_t fileType, uint32_t destType) {
    const std::string format = destType == FILETYPE_BMP ? "BMP" : destType == FILETYPE_PCX ? "PCX" : "DCX";
    if (fileType != FILETYPE_TIFF) return "only TIFF pages can go into a " + format + " file";
    const PageInfo& i = rd.info();
    const Kind kind = kind_of(i);
    if (kind == Kind::other)
        return std::to_string(i.samplesPerPixel) + " sample(s) of " + std::to_string(i.bitsPerSample[0]) +
               " bits, photometric " + std::to_string(i.photometric) + ": a " + format +
               " file takes bilevel, 4- or 8-bit palette or grey, and 24-bit RGB pages (contiguous samples)";
    if (kind == Kind::palette && i.area.palette.colorMapSize < (6u << i.bitsPerSample[0]))
        return "a palette page without its colour map";
    std::string why = decode_refusal(i);
    if (!why.empty()) return why;
    if (destType == FILETYPE_BMP) {
        if ((uint64_t(i.imageWidth) * pixel_bits(i) + 31) / 32 * 4 > kMaxBmpRowBytes || i.imageLength > kMaxBmpRows)
            return "too large for a BMP file (rows of at most 32764 bytes, at most 65535 rows)";
    } else if (i.imageWidth > kMaxPcxSide || i.imageLength > kMaxPcxSide) {
        return "too large for a " + format + " file (at most 65535 x 65535 pixels)";
    }
    return {};
}

void write_raster_page(Document& out, uint32_t page, PageReader& rd) {
    const std::string dst = "page " + std::to_string(page);
    const Kind kind = kind_of(rd.info());
    Rows r;
    try {
        Samples s = decode_tiff_samples(rd.info(), rd.read_strips());
        r = out.file_type() == FILETYPE_BMP ? bmp_rows(rd, kind, s) : pcx_rows(rd, kind, std::move(s));
    } catch (const std::runtime_error& e) {
        throw ToolError(rd.path(), "page " + std::to_string(rd.page()) + ": " + e.what());
    }
    if (!r.palette.empty()) {
        r.info.area.palette.colorMapSize = uint32_t(r.palette.size());
        r.info.area.palette.colorMapBuffer = r.palette.data();
    }
    uint32_t err = 0;
    if (xtavputi(out.handle(), uint16_t(page), &r.info, nullptr, &err) < 0)
        throw ToolError(out.path(), dst + ": cannot write the page information", err);
    const uint32_t rowsPerCall = std::max(1u, kBytesPerWrite / std::max(r.rowBytes, 1u));
    const uint32_t length = r.info.imageLength;
    for (uint32_t y = 0; y < length; y += rowsPerCall) {
        const uint32_t n = std::min(rowsPerCall, length - y);
        const uint8_t flag = y + n == length ? kLastData : 0;
        if (xtavwrite(out.handle(), r.rows.data() + size_t(y) * r.rowBytes, n * r.rowBytes, uint16_t(page), flag,
                      &err) < 0)
            throw ToolError(out.path(), dst + ": cannot write rows " + std::to_string(y + 1) + " to " +
                                            std::to_string(y + n),
                            err);
    }
}

}  // namespace qvtool
