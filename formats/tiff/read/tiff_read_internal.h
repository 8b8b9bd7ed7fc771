// Helpers shared by the TIFF directory and page-location code.
#pragma once

#include <cstdint>

#include "formats/tiff/tiff.h"
#include "frame/fct.h"

// One IFD at base + ifdOffset, sorted by tag (no subfile selection).
int tiff_read_one_ifd(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                      uint32_t ifdOffset, TiffDir* out);

// The IFD at base + ifdOffset, or (single-page files) the first of its chain
// with the wanted subfile type.
int tiff_read_dir_from(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                       uint32_t ifdOffset, uint32_t wantedSubfile, TiffDir* out, int anyPage);
