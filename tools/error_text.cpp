// Names and meanings of the library's error codes: the rows of the public
// error table.
#include "error_text.h"

#include <cstdio>

#include "qvtav.h"

namespace qvtool {
namespace {

#define QVTOOL_ERROR_TEXT(code, meaning) {code, #code, meaning},
constexpr ErrorText kErrorTexts[] = {TAV_ERROR_TABLE(QVTOOL_ERROR_TEXT)};
#undef QVTOOL_ERROR_TEXT

}  // namespace

std::span<const ErrorText> error_texts() { return kErrorTexts; }

const ErrorText* find_error_text(uint32_t code) {
    for (const ErrorText& t : kErrorTexts)
        if (t.code == code) return &t;
    return nullptr;
}

std::string_view error_meaning(uint32_t code) {
    const ErrorText* t = find_error_text(code);
    return t ? t->meaning : TAV_ERROR_UNKNOWN;
}

std::string error_code_text(uint32_t code) {
    // Structured-storage status codes read best in hexadecimal.
    char number[16];
    std::snprintf(number, sizeof number, code > 0xFFFFu ? "0x%08X" : "%u", code);
    return number;
}

}  // namespace qvtool
