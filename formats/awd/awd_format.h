// AWD fax documents, kept in compound files of their own.
#pragma once

#include <cstdint>

#include "frame/format.h"

extern const FormatOps kAwdFormat;

// The AWD test of IsAWDFile and of open: *isAwd 1 when path names an AWD
// document. 0, or a storage status (also left in errno).
uint32_t awd_is_awd_file(const char* path, uint32_t* isAwd);
