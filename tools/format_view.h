// The format view of a page of a single-image file (GIF, PCX, DCX, BMP,
// Targa, JPEG): the format's own fields that the library reports in the
// PageInfo words from compressionInfo through the flags word, as qvtav.h
// lays them out, decoded into named fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qvtav.h"

namespace qvtool {

struct ViewField {
    const char* key;    // JSON member name
    const char* words;  // what the text output calls it
    uint32_t value;
    bool hex = false;   // shown in hex (flag bytes, masks, tags)
};

// The field `key` (its name in the view table) of the page's view; 0 when
// the type's view has no such field.
uint32_t view_value(uint32_t fileType, const PageInfo& info, std::string_view key);

// Whether pages of this file type have a format view (and a palette the
// tool shows).
bool has_format_view(uint32_t fileType);

// The fields of the page's format view; empty for file types without one
// (TIFF, AWD, block files, XIFF, raw data).
std::vector<ViewField> format_view(uint32_t fileType, const PageInfo& info);

// How the page's palette entries are laid out, as the library delivers them
// ("red, green, blue", "blue, green, red, 0", ...); empty without a
// palette.
std::string palette_layout(uint32_t fileType, const PageInfo& info);

// Where a palette that the file does not hold comes from ("grey ramp",
// "built-in palette W", ...); empty when the file holds it.
std::string palette_source(uint32_t fileType, const PageInfo& info);

}  // namespace qvtool
