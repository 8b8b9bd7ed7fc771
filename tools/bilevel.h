// Pages in memory, decoded from and encoded to TIFF strips with libtiff:
// how pages cross between TIFF files (which keep pages compressed) and AWD,
// PCX, DCX and BMP files (which take rows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvtav.h"

namespace qvtool {

// Rows of ceil(width / 8) bytes, the first pixel in the high bit, 1 black.
struct Bilevel {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rows;
    uint32_t row_bytes() const { return (width + 7) / 8; }
};

// Why a TIFF page is not one this code can decode to bilevel rows, or an
// empty text when it is.
std::string bilevel_refusal(const PageInfo& info);

// A decoded page's samples as the page stores them, row after row, each
// row rowBytes long (the first pixel in the high bits).
struct Samples {
    uint32_t rowBytes = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rows;
};

// Why a TIFF page cannot be decoded here (its compression, its size), or an
// empty text when it can.
std::string decode_refusal(const PageInfo& info);

// Decodes a TIFF page of contiguous samples from its stored strips, laid
// out as the page information describes them. Throws std::runtime_error
// when libtiff cannot decode them.
Samples decode_tiff_samples(const PageInfo& info, const std::vector<std::vector<uint8_t>>& strips);

// Decodes a bilevel TIFF page from its stored strips, laid out as the page
// information describes them (compression, fill order, photometric, rows
// per strip). Throws std::runtime_error when libtiff cannot decode them.
Bilevel decode_tiff_page(const PageInfo& info, const std::vector<std::vector<uint8_t>>& strips);

// The rows as one CCITT T.6 strip, 0 white. Throws std::runtime_error.
std::vector<uint8_t> encode_t6(const Bilevel& page);

// A resolution as whole dots per inch (rounded; 0 when none).
uint16_t whole_dpi(uint32_t num, uint32_t den, uint32_t unit);

}  // namespace qvtool
