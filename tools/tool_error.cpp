// The one-line form of a failure.
#include "tool_error.h"

#include "error_text.h"

namespace qvtool {

std::string ToolError::line() const {
    std::string s = file_.empty() ? std::string(what()) : file_ + ": " + what();
    if (hasCode_) s += ": error " + error_code_text(code_) + " (" + std::string(error_meaning(code_)) + ")";
    return s;
}

}  // namespace qvtool
