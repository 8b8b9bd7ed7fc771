// Pages into and out of block files. A block file holds bilevel pages as
// one stream of stored data each (uncompressed, PackBits, CCITT modified
// Huffman, T.4 1-D or T.6), with no texts or document properties; its pages
// report photometric 1 and their coding code in stripCount. Going to TIFF
// they become min-is-white bilevel pages of one strip.
#pragma once

#include <cstdint>

#include "document.h"

namespace qvtool {

// Throws ToolError when the page rd holds (from a file of sourceType)
// cannot go into a block file unchanged.
void check_for_block(const PageReader& rd, uint32_t sourceType);
// Throws ToolError when the block file page rd holds cannot become a TIFF
// page.
void check_block_for_tiff(const PageReader& rd);

// Writes the page rd holds (from a file of sourceType) as page `page` of
// the block file out.
void write_to_block(Document& out, uint32_t page, PageReader& rd, uint32_t sourceType);
// Writes the block file page rd holds as page `page` of the TIFF file out,
// which writes strip by strip.
void write_block_to_tiff(Document& out, uint32_t page, PageReader& rd, uint32_t destOrder);

}  // namespace qvtool
