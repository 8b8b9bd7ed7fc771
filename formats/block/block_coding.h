// The coding codes of block files: one code stands for a compression, a
// fill order and the CCITT option bits of compressionInfo.
#pragma once

#include <cstdint>

#include "qvtav.h"

namespace blk {

// The compression, fill order and compressionInfo a page of this code
// reports; false for a code outside the table.
bool coding_read(uint16_t code, PageInfo& info);

// The code of a page's compression, fill order (2 or not 2) and the option
// bits 4 and 8 of its compressionInfo, chosen so that reading gives the
// three values back; -1 when no code fits (LZW, JPEG, other bits).
int coding_for(const PageInfo& info);

}  // namespace blk
