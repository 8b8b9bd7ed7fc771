// Pages that go into PCX, DCX and BMP files: TIFF pages decoded with
// libtiff and brought to the rows and palettes those formats take.
#pragma once

#include <cstdint>
#include <string>

#include "document.h"

namespace qvtool {

// Whether a file type takes its pages as raw rows written here (PCX, DCX,
// BMP).
bool raster_type(uint32_t fileType);

// The most pages a file of a raster type holds.
uint32_t raster_page_limit(uint32_t fileType);

// Why the current page of rd (a page of a file of type fileType) cannot go
// into a file of destType, or an empty text when it can.
std::string raster_copy_refusal(const PageReader& rd, uint32_t fileType, uint32_t destType);

// Writes the current page of rd (loaded with its auxiliary data) as page
// `page` (from 1) of out. Throws ToolError.
void write_raster_page(Document& out, uint32_t page, PageReader& rd);

}  // namespace qvtool
