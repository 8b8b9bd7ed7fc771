// A progress line for long work, shown only when standard error is a
// terminal; nothing at all otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace qvtool {

class Progress {
public:
    // verb: what is being done ("copying"); total: the number of pages.
    Progress(std::string verb, uint32_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Shows "verb page n of total".
    void show(uint32_t n);
    // Shows a free text.
    void show_text(const std::string& text);
    // Removes the line.
    void clear();

private:
    std::string verb_;
    uint32_t total_;
    bool active_;
    size_t shown_ = 0;  // characters on the line now
};

}  // namespace qvtool
