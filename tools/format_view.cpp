// Decoding of the format views by the layouts of the public view tables.
#include "format_view.h"

#include <span>
#include <string_view>

namespace qvtool {
namespace {

struct FieldLayout {
    const char* key;
    const char* words;
    unsigned word, shift, bits;
    bool hex;
};

#define QVTOOL_FIELD(field, word, shift, bits, kind, words) {#field, words, word, shift, bits, kind == TAV_VIEW_BITS},
#define QVTOOL_FIELDS_OF(type, view) constexpr FieldLayout k##view[] = {view(QVTOOL_FIELD)};
TAV_FORMAT_VIEW_TABLE(QVTOOL_FIELDS_OF)
#undef QVTOOL_FIELDS_OF
#undef QVTOOL_FIELD

struct FormatLayout {
    uint32_t fileType;
    std::span<const FieldLayout> fields;
};

#define QVTOOL_LAYOUT(type, view) {type, k##view},
constexpr FormatLayout kLayouts[] = {TAV_FORMAT_VIEW_TABLE(QVTOOL_LAYOUT)};
#undef QVTOOL_LAYOUT

const FormatLayout* layout_of(uint32_t fileType) {
    for (const FormatLayout& l : kLayouts)
        if (l.fileType == fileType) return &l;
    return nullptr;
}

uint32_t value_of(const PageInfo& info, const FieldLayout& f) { return tav_view_field(&info, f.word, f.shift, f.bits); }

constexpr uint32_t kBmpCoreHeaderKind = 1;
constexpr uint32_t kPlanesOfPaletteW = 3;

// BMP pages describe more than the five words hold: pixel layout, masks,
// colour space and profile, in PageInfo fields of their own.
void add_bmp_fields(const PageInfo& i, std::vector<ViewField>& v) {
    v.push_back({"colorSpaceType", "colour space", i.colorSpaceType, true});
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
}

std::vector<ViewField> jpeg_view(const PageInfo& i) {
    const JpegInfo* j = i.compression == TAV_COMP_JPEG_INFO ? i.compressionInfo.jpeg : nullptr;
    if (j == nullptr) return {};
    // The description's restartInterval word holds where the data starts.
    return {{"dataOffset", "data offset", j->restartInterval},
            {"headerLength", "header bytes", j->headerLength}};
}

}  // namespace

uint32_t view_value(uint32_t fileType, const PageInfo& info, std::string_view key) {
    if (const FormatLayout* l = layout_of(fileType))
        for (const FieldLayout& f : l->fields)
            if (key == f.key) return value_of(info, f);
    return 0;
}

bool has_format_view(uint32_t fileType) { return fileType == FILETYPE_JPEG || layout_of(fileType) != nullptr; }

std::vector<ViewField> format_view(uint32_t fileType, const PageInfo& info) {
    if (fileType == FILETYPE_JPEG) return jpeg_view(info);
    const FormatLayout* l = layout_of(fileType);
    if (l == nullptr) return {};
    std::vector<ViewField> v;
    for (const FieldLayout& f : l->fields) v.push_back({f.key, f.words, value_of(info, f), f.hex});
    if (fileType == FILETYPE_BMP) add_bmp_fields(info, v);
    return v;
}

std::string palette_layout(uint32_t fileType, const PageInfo& info) {
    if (info.photometric != TAV_PHOTO_PALETTE) return {};
    switch (fileType) {
        case FILETYPE_GIF:
        case FILETYPE_PCX:
        case FILETYPE_DCX: return "red, green, blue";
        case FILETYPE_BMP:
            return view_value(fileType, info, "headerKind") == kBmpCoreHeaderKind ? "blue, green, red"
                                                                               : "blue, green, red, 0";
        case FILETYPE_TGA:
            if (view_value(fileType, info, "greyRampPalette") != 0) return "red, green, blue";
            switch (view_value(fileType, info, "mapEntryBits")) {
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
    const bool inFile = view_value(fileType, info, "paletteOffset") != 0;
    switch (fileType) {
        case FILETYPE_GIF: return inFile ? "" : "grey ramp";
        case FILETYPE_TGA: return view_value(fileType, info, "greyRampPalette") != 0 ? "grey ramp" : "";
        case FILETYPE_PCX:
        case FILETYPE_DCX:
            if (inFile) return {};
            return view_value(fileType, info, "planes") == kPlanesOfPaletteW ? "built-in palette W"
                                                                             : "built-in palette E";
        default: return {};
    }
}

}  // namespace qvtool
