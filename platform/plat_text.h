// Text conversion of the platform: narrow names are UTF-8, wide names
// UTF-16 (the replacement of the ANSI code page conversions).
#pragma once

#include <cstddef>

// Converts inLen bytes of UTF-8 (a NUL among them is converted like any
// other character) into at most outCap UTF-16 units. An invalid sequence
// becomes U+FFFD, as the platform's conversion without flags does. Units
// written, or 0 when they do not fit outCap (or inLen is 0).
size_t plat_utf8_to_utf16(const char* in, size_t inLen, char16_t* out, size_t outCap);
// Converts inLen UTF-16 units into at most outCap bytes of UTF-8. Bytes
// written, or 0 when they do not fit or the text holds an unpaired
// surrogate.
size_t plat_utf16_to_utf8(const char16_t* in, size_t inLen, char* out, size_t outCap);
