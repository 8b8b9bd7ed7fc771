// Decoding of the format views, by the layout qvtav.h documents.
#include "format_view.h"

namespace qvtool {
namespace {

uint32_t low(uint32_t word) { return word & 0xFFFF; }
uint32_t high(uint32_t word) { return word >> 16; }
// Byte k (0 to 3) of the flags word.
uint32_t flag_byte(const PageInfo& i, int k) { return k == 0 ? i.privateTagFlags : i.formatBytes[k - 1]; }
uint32_t flag_half(const PageInfo& i) { return flag_byte(i, 0) | flag_byte(i, 1) << 8; }

constexpr uint32_t kBmpCoreHeaderKind = 1;
constexpr uint32_t kPlanesOfPaletteW = 3;

std::vector<ViewField> gif_view(const PageInfo& i) {
    return {{"paletteBytes", "palette bytes", low(i.maxStripSize)},
            {"paletteOffset", "palette offset", i.stripCount},
            {"dataOffset", "data offset", i.rowsPerStrip},
            {"colourTableBits", "colour table bits", flag_byte(i, 0)},
            {"lzwMinimumCodeSize", "LZW minimum code size", flag_byte(i, 1)},
            {"imageFlags", "image descriptor flags", flag_byte(i, 2), true}};
}

std::vector<ViewField> tga_view(const PageInfo& i) {
    return {{"greyRampPalette", "grey ramp palette", i.compressionInfo.value & 0xFF},
            {"paletteBytes", "palette bytes", i.maxStripSize},
            {"paletteOffset", "palette offset", i.stripCount},
            {"dataOffset", "data offset", i.rowsPerStrip},
            {"imageType", "image type", flag_byte(i, 0)},
            {"mapEntryBits", "colour-map entry bits", flag_byte(i, 1)},
            {"pixelDepth", "pixel depth", flag_byte(i, 2)},
            {"imageDescriptor", "image descriptor", flag_byte(i, 3), true}};
}

std::vector<ViewField> pcx_view(const PageInfo& i, bool dcx) {
    return {{"dataOffset", "data offset", dcx ? i.compressionInfo.value : low(i.rowsPerStrip)},
            {"paletteBytes", "palette bytes", low(i.maxStripSize)},
            {"paletteOffset", "palette offset", i.stripCount},
            {"planes", "planes", high(i.rowsPerStrip)},
            {"rowBytes", "row bytes (all planes)", flag_half(i)}};
}

std::vector<ViewField> bmp_view(const PageInfo& i) {
    std::vector<ViewField> v = {{"paletteBytes", "palette bytes", low(i.maxStripSize)},
                                {"paletteOffset", "palette offset", high(i.maxStripSize)},
                                {"dataOffset", "data offset", low(i.stripCount)},
                                {"rowBytes", "row bytes", low(i.rowsPerStrip)},
                                {"headerKind", "header kind", (i.rowsPerStrip >> 16) & 0xFF},
                                {"runLength", "run-length coding", i.rowsPerStrip >> 24},
                                {"colorSpaceType", "colour space", i.colorSpaceType, true}};
    if (i.bmpBytesPerPixel != 0) v.push_back({"bytesPerPixel", "bytes per stored pixel", i.bmpBytesPerPixel});
    if (i.bmpBytesPerPixel == 2 || i.bmpBytesPerPixel == 4) {
        v.push_back({"redMask", "red mask", i.bmpMasks[0], true});
        v.push_back({"greenMask", "green mask", i.bmpMasks[1], true});
        v.push_back({"blueMask", "blue mask", i.bmpMasks[2], true});
    }
    if (i.profileSize != 0) {
        v.push_back({"profileOffset", "profile offset", i.profileOffset.value});
        v.push_back({"profileSize", "profile bytes", i.profileSize});
    }
    return v;
}

std::vector<ViewField> jpeg_view(const PageInfo& i) {
    const JpegInfo* j = i.compression == TAV_COMP_JPEG_INFO ? i.compressionInfo.jpeg : nullptr;
    if (j == nullptr) return {};
    // The description's restartInterval word holds where the data starts.
    return {{"dataOffset", "data offset", j->restartInterval},
            {"headerLength", "header bytes", j->headerLength}};
}

}  // namespace

bool has_format_view(uint32_t fileType) {
    switch (fileType) {
        case FILETYPE_GIF:
        case FILETYPE_TGA:
        case FILETYPE_PCX:
        case FILETYPE_DCX:
        case FILETYPE_BMP:
        case FILETYPE_JPEG: return true;
        default: return false;
    }
}

std::vector<ViewField> format_view(uint32_t fileType, const PageInfo& info) {
    switch (fileType) {
        case FILETYPE_GIF: return gif_view(info);
        case FILETYPE_TGA: return tga_view(info);
        case FILETYPE_PCX: return pcx_view(info, false);
        case FILETYPE_DCX: return pcx_view(info, true);
        case FILETYPE_BMP: return bmp_view(info);
        case FILETYPE_JPEG: return jpeg_view(info);
        default: return {};
    }
}

std::string palette_layout(uint32_t fileType, const PageInfo& info) {
    if (info.photometric != TAV_PHOTO_PALETTE) return {};
    switch (fileType) {
        case FILETYPE_GIF:
        case FILETYPE_PCX:
        case FILETYPE_DCX: return "red, green, blue";
        case FILETYPE_BMP:
            return ((info.rowsPerStrip >> 16) & 0xFF) == kBmpCoreHeaderKind ? "blue, green, red"
                                                                          : "blue, green, red, 0";
        case FILETYPE_TGA:
            if (info.compressionInfo.value & 0xFF) return "red, green, blue";
            switch (flag_byte(info, 1)) {
                case 15:
                case 16: return "16-bit x-5-5-5, blue in the low bits";
                case 24: return "blue, green, red";
                case 32: return "blue, green, red, alpha";
                default: return {};
            }
        default: return {};
    }
}

std::string palette_source(uint32_t fileType, const PageInfo& info) {
    if (info.photometric != TAV_PHOTO_PALETTE) return {};
    switch (fileType) {
        case FILETYPE_GIF: return info.stripCount == 0 ? "grey ramp" : "";
        case FILETYPE_TGA: return (info.compressionInfo.value & 0xFF) != 0 ? "grey ramp" : "";
        case FILETYPE_PCX:
        case FILETYPE_DCX:
            if (info.stripCount != 0) return {};
            return high(info.rowsPerStrip) == kPlanesOfPaletteW ? "built-in palette W" : "built-in palette E";
        default: return {};
    }
}

}  // namespace qvtool
