// UTF-8 and UTF-16 conversion.
#include "platform/plat_text.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kSurrogateFirst = 0xD800, kSurrogateLast = 0xDFFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSupplementaryFirst = 0x10000;

// Decodes one UTF-8 sequence at in[*i], moving *i past it; U+FFFD for an
// invalid one (which then takes one byte).
char32_t decode_utf8(const unsigned char* in, size_t len, size_t* i) {
    unsigned char lead = in[*i];
    size_t extra;
    char32_t cp, min;
    if (lead < 0x80) {
        ++*i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        ++*i;
        return kReplacement;
    }
    if (*i + extra >= len) {
        ++*i;
        return kReplacement;
    }
    for (size_t k = 1; k <= extra; ++k) {
        unsigned char c = in[*i + k];
        if ((c & 0xC0) != 0x80) {
            ++*i;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > kMaxCodePoint || (cp >= kSurrogateFirst && cp <= kSurrogateLast)) {
        ++*i;
        return kReplacement;
    }
    *i += extra + 1;
    return cp;
}

}  // namespace

size_t plat_utf8_to_utf16(const char* in, size_t inLen, char16_t* out, size_t outCap) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    size_t n = 0;
    for (size_t i = 0; i < inLen;) {
        char32_t cp = decode_utf8(bytes, inLen, &i);
        if (cp >= kSupplementaryFirst) {
            if (n + 2 > outCap) return 0;
            cp -= kSupplementaryFirst;
            out[n++] = char16_t(kSurrogateFirst + (cp >> 10));
            out[n++] = char16_t(kLowSurrogateFirst + (cp & 0x3FF));
        } else {
            if (n + 1 > outCap) return 0;
            out[n++] = char16_t(cp);
        }
    }
    return n;
}

size_t plat_utf16_to_utf8(const char16_t* in, size_t inLen, char* out, size_t outCap) {
    size_t n = 0;
    for (size_t i = 0; i < inLen; ++i) {
        char32_t cp = in[i];
        if (cp >= kSurrogateFirst && cp <= kSurrogateLast) {
            if (cp >= kLowSurrogateFirst || i + 1 >= inLen) return 0;
            char32_t low = in[i + 1];
            if (low < kLowSurrogateFirst || low > kSurrogateLast) return 0;
            cp = kSupplementaryFirst + ((cp - kSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
            ++i;
        }
        unsigned char buf[4];
        size_t len;
        if (cp < 0x80) {
            buf[0] = uint8_t(cp), len = 1;
        } else if (cp < 0x800) {
            buf[0] = uint8_t(0xC0 | (cp >> 6)), buf[1] = uint8_t(0x80 | (cp & 0x3F)), len = 2;
        } else if (cp < kSupplementaryFirst) {
            buf[0] = uint8_t(0xE0 | (cp >> 12)), buf[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = uint8_t(0x80 | (cp & 0x3F)), len = 3;
        } else {
            buf[0] = uint8_t(0xF0 | (cp >> 18)), buf[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F)), buf[3] = uint8_t(0x80 | (cp & 0x3F));
            len = 4;
        }
        if (n + len > outCap) return 0;
        for (size_t k = 0; k < len; ++k) out[n++] = char(buf[k]);
    }
    return n;
}
