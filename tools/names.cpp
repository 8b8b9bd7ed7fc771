// Names of the library's codes, as the tool prints them.
#include "names.h"

#include <cstdio>

#include "qvtav.h"

namespace qvtool {

std::string_view file_type_name(uint32_t type) {
    switch (type) {
#define QVTOOL_TYPE_NAME(code, name) \
    case code: return name;
        TAV_FILE_TYPE_TABLE(QVTOOL_TYPE_NAME)
#undef QVTOOL_TYPE_NAME
        default: return TAV_FILE_TYPE_UNKNOWN;
    }
}

std::string_view compression_name(uint32_t compression) {
    switch (compression) {
        case TAV_COMP_NONE: return "none";
        case TAV_COMP_CCITT_MH: return "CCITT modified Huffman";
        case TAV_COMP_CCITT_T4: return "CCITT T.4";
        case TAV_COMP_CCITT_T6: return "CCITT T.6";
        case TAV_COMP_LZW: return "LZW";
        case TAV_COMP_PACKBITS: return "PackBits";
        case TAV_COMP_JPEG: return "JPEG";
        case TAV_COMP_JPEG_INFO: return "JPEG (interchange format)";
        default: return "unknown compression";
    }
}

std::string_view photometric_name(uint32_t photometric) {
    switch (photometric) {
        case TAV_PHOTO_GRAY_WHITE: return "greyscale, min is white";
        case TAV_PHOTO_PALETTE: return "palette";
        case TAV_PHOTO_RGB: return "RGB";
        case TAV_PHOTO_BILEVEL_WHITE: return "bilevel, min is white";
        case TAV_PHOTO_BILEVEL_BLACK: return "bilevel, min is black";
        case TAV_PHOTO_GRAY_BLACK: return "greyscale, min is black";
        case TAV_PHOTO_YCBCR: return "YCbCr";
        default: return "unknown photometric";
    }
}

std::string_view resolution_unit_name(uint32_t unit) {
    switch (unit) {
        case 2: return "pixels/inch";
        case 3: return "pixels/cm";
        default: return "";
    }
}

std::string_view text_tag_name(int index) {
    static constexpr std::string_view names[TAV_TEXT_TAG_COUNT] = {
        "DocumentName", "ImageDescription", "Make", "Model", "PageName",
        "DateTime", "Artist", "HostComputer", "Software"};
    if (index < 0 || index >= TAV_TEXT_TAG_COUNT) return "";
    return names[index];
}

std::string rational_text(uint32_t num, uint32_t den) {
    if (den == 0) return "?";
    if (num % den == 0) return std::to_string(num / den);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(num) / den);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace qvtool
