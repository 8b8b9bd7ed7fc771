// The progress line: rewritten in place with a carriage return, wiped when
// the work ends.
#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace qvtool {

Progress::Progress(std::string verb, uint32_t total)
    : verb_(std::move(verb)), total_(total), active_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { clear(); }

void Progress::show(uint32_t n) {
    show_text(verb_ + " page " + std::to_string(n) + " of " + std::to_string(total_));
}

void Progress::show_text(const std::string& text) {
    if (!active_) return;
    std::string line = "\r" + text;
    if (text.size() < shown_) line += std::string(shown_ - text.size(), ' ');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    shown_ = text.size();
}

void Progress::clear() {
    if (!active_ || shown_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_), "");
    std::fflush(stderr);
    shown_ = 0;
}

}  // namespace qvtool
