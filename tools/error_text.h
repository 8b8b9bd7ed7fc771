// Names and meanings of the library's error codes, as the tool prints them:
// the rows of the public error table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qvtool {

struct ErrorText {
    uint32_t code;
    std::string_view name;     // TAV_E_PAGE, ...
    std::string_view meaning;
};

// Every code the library reports, in the table's order.
std::span<const ErrorText> error_texts();

// The meaning of a code; unknown codes give the table's text for them.
std::string_view error_meaning(uint32_t code);

// The table's row of a code; null for a code it does not list.
const ErrorText* find_error_text(uint32_t code);

// The code as the tool prints it: decimal, structured-storage status codes
// (above 0xFFFF) in hexadecimal, "0x80030002".
std::string error_code_text(uint32_t code);

}  // namespace qvtool
