// XIFF files for the tests: TIFF pages behind the XIFF marks, made with the
// TIFF builder (compressed strips encoded by libtiff), and what libtiff
// decodes of them, resampled to an output geometry and laid out as the
// library delivers decoded rows.
#pragma once

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The marks behind the TIFF header (offset 8).
extern const std::vector<uint8_t> kXeroxMark;     // "XEROX DIFF", version 1
extern const std::vector<uint8_t> kExtendedMark;  // " eXtended"

struct XiffPagePlan {
    uint32_t width = 64;
    uint32_t length = 32;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t compression = COMPRESSION_NONE;
    // Resolution as rationals; unit 0 writes no resolution tags at all.
    std::pair<uint32_t, uint32_t> xRes{300, 1};
    std::pair<uint32_t, uint32_t> yRes{300, 1};
    uint16_t unit = RESUNIT_INCH;
};

// A file of these pages behind the mark.
std::vector<uint8_t> xiff_file(const std::vector<XiffPagePlan>& pages,
                               const std::vector<uint8_t>& mark = kXeroxMark);

// The decoded rows of page (from 0) of the file at path as the library
// delivers them at width x length: nearest neighbour by pixel centres, 0 as
// black, palette indices as stored, rows padded to 32 bits. Empty when
// libtiff cannot read the page.
std::vector<uint8_t> expected_rows(const std::string& path, uint16_t page, uint32_t width,
                                   uint32_t length);
// The high bytes of the page's colour map, R, G, B per entry.
std::vector<uint8_t> expected_palette(const std::string& path, uint16_t page);

#endif
