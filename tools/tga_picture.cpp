// Targa pages unpacked here, by the image type and pixel depth of the
// format view: colour-mapped (8-bit indexes, the map as xtavgtdata
// delivers it), true colour (15 and 16 bits x-5-5-5, 24 bits blue, green,
// red, 32 bits with alpha) and grey (8 bits, 16 bits with alpha), stored
// as they are or in run-length packets (a header byte whose high bit set
// repeats the one pixel after it, clear precedes that many pixels; its low
// seven bits count pixels less one). Packets may run on into the next row.
//
// Rows come bottom row first unless the descriptor says the origin is at
// the top, and right to left when it says the origin is at the right; the
// picture has its top left pixel first. 5-bit components become 8 bits as
// v * 255 / 31.
#include <algorithm>

#include "format_view.h"
#include "page_stream.h"
#include "picture_decoders.h"

namespace qvtool {
namespace {

constexpr uint32_t kColourMapped = 1, kTrueColour = 2, kGrey = 3;
constexpr uint32_t kTypeBase = 7, kTypeRunLength = 8;
constexpr uint32_t kOriginRight = 0x10, kOriginTop = 0x20;
constexpr int kRepeatPacket = 0x80, kPacketCount = 0x7F;
constexpr uint32_t kFiveBits = 5, kFiveBitMask = 0x1F;

struct TgaForm {
    Colour colour;
    uint32_t pixelBytes;
};

TgaForm form_of(uint32_t base, uint32_t depth) {
    if (base == kColourMapped && depth == 8) return {Colour::palette, 1};
    if (base == kTrueColour && (depth == 15 || depth == 16)) return {Colour::rgb, 2};
    if (base == kTrueColour && depth == 24) return {Colour::rgb, 3};
    if (base == kTrueColour && depth == 32) return {Colour::rgba, 4};
    if (base == kGrey && depth == 8) return {Colour::grey, 1};
    if (base == kGrey && depth == 16) return {Colour::grey_alpha, 2};
    throw DrawError("a Targa image of type " + std::to_string(base) + " and " + std::to_string(depth) +
                    "-bit pixels is not drawn");
}

// The pixels in the file's order, pixelBytes each; pixels the data does
// not reach are 0.
std::vector<uint8_t> stored_pixels(PageStream& in, size_t count, uint32_t pixelBytes, bool runLength) {
    std::vector<uint8_t> px(count * pixelBytes);
    if (!runLength) {
        in.read(px.data(), px.size());
        return px;
    }
    size_t at = 0;
    while (at < px.size()) {
        const int h = in.get();
        if (h < 0) break;
        const size_t n = std::min<size_t>(size_t(h & kPacketCount) + 1, (px.size() - at) / pixelBytes);
        if (h & kRepeatPacket) {
            if (in.read(px.data() + at, pixelBytes) < pixelBytes) break;
            for (size_t k = 1; k < n; ++k) std::copy_n(px.data() + at, pixelBytes, px.data() + at + k * pixelBytes);
        } else if (in.read(px.data() + at, n * pixelBytes) < n * pixelBytes) {
            break;
        }
        at += n * pixelBytes;
    }
    return px;
}

Rgb five_bit_colour(const uint8_t* p) {
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8;
    return {scale_to_byte((v >> (2 * kFiveBits)) & kFiveBitMask, kFiveBits),
            scale_to_byte((v >> kFiveBits) & kFiveBitMask, kFiveBits), scale_to_byte(v & kFiveBitMask, kFiveBits)};
}

// One stored pixel as the picture's samples.
void place_pixel(const TgaForm& f, const uint8_t* in, uint8_t* out) {
    if (f.colour == Colour::rgb && f.pixelBytes == 2) {
        const Rgb c = five_bit_colour(in);
        out[0] = c.r, out[1] = c.g, out[2] = c.b;
    } else if (f.colour == Colour::rgb || f.colour == Colour::rgba) {
        out[0] = in[2], out[1] = in[1], out[2] = in[0];
        if (f.colour == Colour::rgba) out[3] = in[3];
    } else {
        std::copy_n(in, f.pixelBytes, out);
    }
}

void take_map(Picture& p, const PageInfo& i, std::span<const uint8_t> map) {
    const uint32_t entryBits = view_value(FILETYPE_TGA, i, "mapEntryBits");
    if (view_value(FILETYPE_TGA, i, "greyRampPalette") != 0) return take_palette(p, map, kRgbEntries);
    if (entryBits == 24) return take_palette(p, map, kBgrEntries);
    if (entryBits == 32) return take_palette(p, map, kBgr0Entries);
    for (size_t k = 0; k + 1 < map.size() && k / 2 < p.palette.size(); k += 2) p.palette[k / 2] = five_bit_colour(&map[k]);
}

}  // namespace

Picture tga_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    const uint32_t type = view_value(FILETYPE_TGA, i, "imageType");
    const uint32_t descriptor = view_value(FILETYPE_TGA, i, "imageDescriptor");
    const TgaForm f = form_of(type & kTypeBase, view_value(FILETYPE_TGA, i, "pixelDepth"));
    Picture p = make_picture(i.imageWidth, i.imageLength, f.colour, 8, limits);
    PageStream data(rd);
    const std::vector<uint8_t> px =
        stored_pixels(data, size_t(p.width) * p.height, f.pixelBytes, (type & kTypeRunLength) != 0);
    const uint32_t channels = p.channels();
    for (uint32_t r = 0; r < p.height; ++r) {
        uint8_t* out = p.row(descriptor & kOriginTop ? r : p.height - 1 - r);
        for (uint32_t c = 0; c < p.width; ++c) {
            const uint32_t x = descriptor & kOriginRight ? p.width - 1 - c : c;
            place_pixel(f, px.data() + (size_t(r) * p.width + c) * f.pixelBytes, out + size_t(x) * channels);
        }
    }
    if (f.colour == Colour::palette) take_map(p, i, rd.colour_map());
    return p;
}

}  // namespace qvtool
