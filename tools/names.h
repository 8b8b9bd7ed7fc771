// Names of the library's file types, compression and photometric codes and
// resolution units, for the tool's output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvtool {

std::string_view file_type_name(uint32_t type);
std::string_view compression_name(uint32_t compression);
std::string_view photometric_name(uint32_t photometric);
// "pixels/inch", "pixels/cm" or "" for no unit.
std::string_view resolution_unit_name(uint32_t unit);
std::string_view text_tag_name(int index);

// A resolution rational as a short decimal ("300", "72.5"); "?" for a zero
// denominator.
std::string rational_text(uint32_t num, uint32_t den);

}  // namespace qvtool
