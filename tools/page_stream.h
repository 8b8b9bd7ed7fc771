// The current page's data as a byte source for decoders: read from the
// library in pieces as the decoder asks for bytes, so a decoder reads no
// more of a page than its pixels need.
#pragma once

#include <cstdint>
#include <vector>

#include "document.h"

namespace qvtool {

class PageStream {
public:
    explicit PageStream(PageReader& rd);

    // The next byte, or -1 at the end of the page's data.
    int get() {
        if (at_ == got_ && !refill()) return -1;
        return buf_[at_++];
    }
    // Copies up to n bytes; the count copied (short only at the end).
    size_t read(uint8_t* out, size_t n);
    // Skips n bytes; false when the data ends first.
    bool skip(size_t n);

private:
    bool refill();

    PageReader& rd_;
    std::vector<uint8_t> buf_;
    uint32_t next_ = 0;  // stream position of the byte after the buffer's
    size_t at_ = 0;
    size_t got_ = 0;
};

}  // namespace qvtool
