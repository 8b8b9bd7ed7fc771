// Pages as a person looks at them: turned as the file says they are
// displayed, stretched to their true aspect, and made small for a contact
// sheet.
#pragma once

#include <cstdint>

#include "picture.h"
#include "qvtav.h"

namespace qvtool {

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};

// How a page is turned for display, as a TIFF Orientation value (1 as
// stored, 2 mirrored, 3 turned half round, 4 upside down, 5 transposed,
// 6 turned a quarter clockwise, 7 transversed, 8 a quarter anticlockwise).
// TIFF and block file pages: their Orientation tag, which the library
// reports as rotation and mirroring; AWD pages: their display rotation,
// taken clockwise; other pages 1.
uint32_t display_orientation(const PageInfo& info, uint32_t fileType);

// Whether the orientation swaps width and height.
bool swaps_sides(uint32_t orientation);

// The size at which a picture has its true aspect: when its resolutions
// differ, the direction of the lower one is stretched to the higher.
Size true_aspect(const Picture& p);

// The picture stretched to its true aspect (nearest neighbour, every
// stored pixel kept) and turned by the orientation. Throws DrawError when
// the result would exceed the limits.
Picture as_displayed(const Picture& p, uint32_t orientation, const Limits& limits);

// The picture turned by the orientation (1 to 8).
Picture turned(const Picture& p, uint32_t orientation, const Limits& limits);

// The picture scaled down to `size` (at most its own size in each
// direction) by area averaging: each small pixel is the mean of the
// pixels it covers, so a one-pixel line on a fax page stays visible as
// grey. The result is 8-bit grey, or RGB when colour is set; alpha is laid
// over white.
Picture thumbnail(const Picture& p, Size size, bool colour);

// Whether a picture has colours other than greys.
bool has_colour(const Picture& p);

}  // namespace qvtool
