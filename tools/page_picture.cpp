// Page decoding by file type; the pages the library delivers decoded (AWD
// bands, XIFF rows); the helpers the decoders share.
#include "page_picture.h"

#include <algorithm>
#include <cstring>

#include "awd_copy.h"
#include "names.h"
#include "picture_decoders.h"
#include "tool_error.h"

namespace qvtool {
namespace {

constexpr uint32_t kUnitNone = 1;
constexpr uint32_t kUnitCentimetre = 3;
constexpr double kCentimetresPerInch = 2.54;

// An AWD page: the viewer's bands, 1 black, as many rows as it delivers.
Picture awd_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    check_picture_size(i.imageWidth, i.imageLength, Colour::grey, 1, limits);
    Bilevel b = page_rows(rd, FILETYPE_AWD);
    b.rows.resize(size_t(b.height) * b.row_bytes());
    Picture p = make_picture(b.width, b.height, Colour::grey, 1, limits, std::move(b.rows));
    invert_bilevel(p);
    return p;
}

// An XIFF page: rows decoded by the reader, padded to 32 bits, in the
// form its page information names.
Picture xiff_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    const uint32_t bits = i.bitsPerSample[0];
    Colour colour = Colour::grey;
    uint8_t depth = 8;
    if (i.photometric == TAV_PHOTO_RGB && bits == 8 && i.samplesPerPixel == 3) colour = Colour::rgb;
    else if (i.photometric == TAV_PHOTO_PALETTE && (bits == 4 || bits == 8)) colour = Colour::palette;
    else if (i.photometric == TAV_PHOTO_BILEVEL_BLACK && bits == 1) depth = 1;
    else if (i.photometric != TAV_PHOTO_GRAY_BLACK || (bits != 4 && bits != 8))
        throw DrawError("an XIFF page of photometric " + std::to_string(i.photometric) + " and " +
                        std::to_string(bits) + " bits is not drawn");
    Picture p = make_picture(i.imageWidth, i.imageLength, colour, depth, limits);
    const std::vector<uint8_t> data = rd.read_page();
    const size_t stride = data.size() / i.imageLength;
    if (stride < (size_t(i.imageWidth) * bits * i.samplesPerPixel + 7) / 8)
        throw DrawError("the reader delivered rows shorter than the page's");
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* in = data.data() + y * stride;
        if (bits == 4)
            for (uint32_t x = 0; x < p.width; ++x) {
                const uint32_t v = packed_sample(in, x, 4);
                p.row(y)[x] = uint8_t(colour == Colour::palette ? v : scale_to_byte(v, 4));
            }
        else
            std::memcpy(p.row(y), in, p.row_bytes());
    }
    if (colour == Colour::palette) take_palette(p, rd.colour_map(), kRgbEntries);
    return p;
}

Picture decode(PageReader& rd, uint32_t fileType, const Limits& limits) {
    switch (fileType) {
    case FILETYPE_TIFF: return tiff_picture(rd, limits);
    case FILETYPE_BLOCK: return block_picture(rd, limits);
    case FILETYPE_AWD: return awd_picture(rd, limits);
    case FILETYPE_XIFF: return xiff_picture(rd, limits);
    case FILETYPE_GIF: return gif_picture(rd, limits);
    case FILETYPE_PCX:
    case FILETYPE_DCX: return pcx_picture(rd, fileType, limits);
    case FILETYPE_BMP: return bmp_picture(rd, limits);
    case FILETYPE_TGA: return tga_picture(rd, limits);
    case FILETYPE_JPEG: return jpeg_coded_picture(rd, limits);
    default: throw DrawError("pages of " + std::string(file_type_name(fileType)) + " files are not drawn");
    }
}

void take_resolution(Picture& p, const PageInfo& i) {
    if (i.xResNum == 0 || i.yResNum == 0 || i.xResDen == 0 || i.yResDen == 0) return;
    const double scale = i.resolutionUnit == kUnitCentimetre ? kCentimetresPerInch : 1.0;
    p.xRes = double(i.xResNum) / i.xResDen * scale;
    p.yRes = double(i.yResNum) / i.yResDen * scale;
    p.perInch = i.resolutionUnit != kUnitNone;
}

}  // namespace

void take_palette(Picture& p, std::span<const uint8_t> map, PaletteLayout layout) {
    const size_t n = std::min<size_t>(map.size() / layout.stride, p.palette.size());
    for (size_t k = 0; k < n; ++k) {
        const uint8_t* e = map.data() + k * layout.stride;
        p.palette[k] = {e[layout.red], e[layout.green], e[layout.blue]};
    }
}

std::vector<uint8_t> read_page_data(PageReader& rd, uint64_t cap) {
    const uint32_t bytes = uint32_t(std::min<uint64_t>(rd.sizes().dataBytes, cap));
    std::vector<uint8_t> data;
    data.reserve(bytes);
    rd.read_stream(bytes, [&](const uint8_t* d, uint32_t n, bool) { data.insert(data.end(), d, d + n); });
    return data;
}

Picture page_picture(PageReader& rd, uint32_t fileType, const Limits& limits) {
    Picture p;
    try {
        p = decode(rd, fileType, limits);
    } catch (const ToolError&) {
        throw;
    } catch (const DrawError&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw DrawError(e.what());  // libtiff's decoding, in bilevel.cpp
    }
    take_resolution(p, rd.info());
    return p;
}

}  // namespace qvtool
