// Copies pages into a new or an existing TIFF, block or AWD file through
// the library. TIFF pages into a TIFF file keep their stored data, page
// information and strips exactly (read and written strip by strip); block
// file pages go as their stored stream (block_pages.h); pages into an AWD
// file, and AWD pages into a TIFF file, cross over as bilevel rows
// (awd_copy.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document.h"
#include "page_range.h"

namespace qvtool {

struct CopyRequest {
    std::vector<SourcePages> sources;
    std::string destination;
    bool append = false;       // add to an existing file instead of making a new one
    uint32_t newType = FILETYPE_TIFF;  // the type of a new file: TIFF or block file
    bool withProgress = true;  // show a progress line on a terminal
};

// Copies the pages; returns the number of pages copied. On failure throws
// ToolError; a new destination is removed again (local files), an existing
// one is left with its old pages.
uint32_t copy_pages(const Location& where, const CopyRequest& request);

}  // namespace qvtool
