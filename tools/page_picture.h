// The current page of a document as pixels, whatever its type, as its
// format defines the image: no rotation, no resampling. TIFF pages and
// block file pages are decoded with libtiff (JPEG-coded ones and JPEG
// files with libjpeg), GIF pages with giflib; PCX and DCX run-length rows,
// BMP and Targa pixels are unpacked here; AWD and XIFF pages come decoded
// from the library (AWD in the viewer's bands).
#pragma once

#include <cstdint>

#include "document.h"
#include "picture.h"

namespace qvtool {

// Decodes the page rd holds; rd must have been loaded with its auxiliary
// data (the colour maps). Throws DrawError for a page that cannot be
// drawn (its layout, damaged data, a size beyond the limits) and
// ToolError when a library call fails.
Picture page_picture(PageReader& rd, uint32_t fileType, const Limits& limits = {});

}  // namespace qvtool
