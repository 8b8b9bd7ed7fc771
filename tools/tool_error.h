// The failures the tool reports: which file, what failed, and the library's
// code, printed as one line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qvtool {

// A failure on a file. code 0 with hasCode false: a failure the tool found
// itself, without a library code.
class ToolError : public std::runtime_error {
public:
    ToolError(std::string file, std::string what, uint32_t code)
        : std::runtime_error(what), file_(std::move(file)), code_(code), hasCode_(true) {}
    ToolError(std::string file, std::string what)
        : std::runtime_error(what), file_(std::move(file)) {}

    const std::string& file() const { return file_; }
    uint32_t code() const { return code_; }
    bool has_code() const { return hasCode_; }
    // "FILE: WHAT: error CODE (MEANING)".
    std::string line() const;

private:
    std::string file_;
    uint32_t code_ = 0;
    bool hasCode_ = false;
};

// A mistake on the command line (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace qvtool
