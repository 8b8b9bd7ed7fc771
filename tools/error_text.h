// Messages for the library's error codes, as the tool prints them.
#pragma once

#include <cstdint>
#include <string_view>

namespace qvtool {

// A short meaning of a library error code ("file not found", ...). Unknown
// codes give "unknown error code".
std::string_view error_meaning(uint32_t code);

// True when the table has a message of its own for the code.
bool error_known(uint32_t code);

}  // namespace qvtool
