// Page data read in pieces.
#include "page_stream.h"

#include <algorithm>
#include <cstring>

namespace qvtool {
namespace {

// Bytes fetched from the library at a time.
constexpr uint32_t kPiece = 256u << 10;

}  // namespace

PageStream::PageStream(PageReader& rd) : rd_(rd), buf_(kPiece) {}

bool PageStream::refill() {
    got_ = rd_.read_at(next_, buf_.data(), kPiece);
    at_ = 0;
    next_ += uint32_t(got_);
    return got_ != 0;
}

size_t PageStream::read(uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (at_ == got_ && !refill()) break;
        const size_t k = std::min(n - done, got_ - at_);
        std::memcpy(out + done, buf_.data() + at_, k);
        at_ += k;
        done += k;
    }
    return done;
}

bool PageStream::skip(size_t n) {
    while (n > 0) {
        if (at_ == got_ && !refill()) return false;
        const size_t k = std::min(n, got_ - at_);
        at_ += k;
        n -= k;
    }
    return true;
}

}  // namespace qvtool
