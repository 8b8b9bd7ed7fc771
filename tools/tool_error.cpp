// The one-line form of a failure.
#include "tool_error.h"

#include <cstdio>

#include "error_text.h"

namespace qvtool {

std::string ToolError::line() const {
    std::string s = file_.empty() ? std::string(what()) : file_ + ": " + what();
    if (hasCode_) {
        // Structured-storage status codes read best in hexadecimal.
        char number[16];
        std::snprintf(number, sizeof number, code_ >= 0x80000000u ? "0x%08X" : "%u", code_);
        s += ": error " + std::string(number) + " (" + std::string(error_meaning(code_)) + ")";
    }
    return s;
}

}  // namespace qvtool
