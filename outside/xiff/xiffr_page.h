// The reader's view of one page: its layout as libtiff decodes it, the
// output form that layout is delivered in, and the resampling of its rows to
// an output geometry.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <vector>

namespace xiffr {

struct SourcePage {
    uint32_t width = 0;
    uint32_t length = 0;
    uint32_t xDpi = 0;
    uint32_t yDpi = 0;
    uint32_t rowsPerStrip = 0;
    uint32_t form = 0;        // the one output form of the page's layout
    uint16_t samples = 1;     // samples per pixel as stored
    bool invert = false;      // stored with 0 as white: delivered with 0 black
    std::vector<uint8_t> palette;  // palette forms: R, G, B per entry
};

// Describes the current directory of tif; false when the page cannot be
// delivered (tiles, separate planes, a layout without an output form, a
// coding libtiff lacks, rows too long).
bool describe_page(TIFF* tif, SourcePage& page);

// Bits of one output pixel in a form.
uint32_t form_pixel_bits(uint32_t form);
// Output channels (set-up steps of the channel kind) of a form.
uint32_t form_channels(uint32_t form);
// Bytes of one palette of the form (0: not a palette form).
uint32_t form_palette_bytes(uint32_t form);

// Nearest-neighbour resampling: output index i of n takes source index
// (2i + 1) * source / (2n), the source pixel under the output pixel's centre.
uint32_t nearest_source(uint32_t i, uint32_t n, uint32_t source);

// Writes one output row of `columns` (source column of each output pixel)
// from a decoded source scanline into out, which the caller has zeroed (the
// sub-byte forms set bits, and the row's padding stays 0).
void resample_row(const SourcePage& page, const uint8_t* scanline,
                  const std::vector<uint32_t>& columns, uint8_t* out);

}  // namespace xiffr
