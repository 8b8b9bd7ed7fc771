// Decoded page rows as a netpbm image a user can open: PBM for bilevel
// pages, PGM for grey pages, PPM for palette and RGB pages.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvtool {

// A page as the library delivers it decoded: `length` rows of `stride`
// bytes, samples packed from the high bits, and for palette pages the
// colour map as R, G, B bytes per entry.
struct DecodedPage {
    uint32_t width = 0;
    uint32_t length = 0;
    uint32_t bitsPerSample = 0;
    uint32_t samplesPerPixel = 0;
    uint32_t photometric = 0;
    size_t stride = 0;
    std::span<const uint8_t> rows;
    std::span<const uint8_t> palette;
};

// The image's header ("P4", "P5" or "P6", size and largest value); empty
// when the page's layout has no netpbm form.
std::string pnm_header(const DecodedPage& page);
// Row y of the image, in the form the header announced.
std::vector<uint8_t> pnm_row(const DecodedPage& page, uint32_t y);

}  // namespace qvtool
