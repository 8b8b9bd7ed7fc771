// The decoders of each page type, behind page_picture (page_picture.h).
// Each takes the current page of rd, loaded with its auxiliary data, and
// returns its pixels as the format defines the image; each throws
// DrawError for a page it cannot draw and ToolError for a failing library
// call.
#pragma once

#include <cstdint>
#include <span>

#include "document.h"
#include "picture.h"

namespace qvtool {

Picture tiff_picture(PageReader& rd, const Limits& limits);
Picture block_picture(PageReader& rd, const Limits& limits);
Picture gif_picture(PageReader& rd, const Limits& limits);
Picture pcx_picture(PageReader& rd, uint32_t fileType, const Limits& limits);
Picture bmp_picture(PageReader& rd, const Limits& limits);
Picture tga_picture(PageReader& rd, const Limits& limits);
// JPEG files, and TIFF pages of JPEG data.
Picture jpeg_coded_picture(PageReader& rd, const Limits& limits);

// A whole JPEG stream (start of image to end of image) at its own size.
Picture jpeg_picture(std::span<const uint8_t> stream, const Limits& limits);

// The page's colour map as red, green, blue entries: `stride` bytes an
// entry, the red, green and blue bytes at the given places.
struct PaletteLayout {
    uint32_t stride;
    uint32_t red, green, blue;
};
constexpr PaletteLayout kRgbEntries{3, 0, 1, 2};
constexpr PaletteLayout kBgrEntries{3, 2, 1, 0};
constexpr PaletteLayout kBgr0Entries{4, 2, 1, 0};
void take_palette(Picture& p, std::span<const uint8_t> map, PaletteLayout layout);

// Up to `cap` bytes of the current page's data, read whole.
std::vector<uint8_t> read_page_data(PageReader& rd, uint64_t cap);

}  // namespace qvtool
