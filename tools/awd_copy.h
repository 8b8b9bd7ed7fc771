// Pages that go into or come out of AWD files. An AWD file delivers a page
// as rows (the viewer's) and takes a page as rows (for its encoder); a TIFF
// page crosses over decoded, and an AWD page goes into a TIFF file encoded
// as one CCITT T.6 strip.
#pragma once

#include <cstdint>
#include <string>

#include "bilevel.h"
#include "document.h"

namespace qvtool {

// Why the current page of rd (a page of a file of type fileType) cannot go
// into an AWD file, or an empty text when it can.
std::string awd_copy_refusal(const PageReader& rd, uint32_t fileType);

// The rows of the current page of rd: an AWD page as its viewer delivers
// them, a TIFF page decoded from its stored strips. Throws ToolError.
Bilevel page_rows(PageReader& rd, uint32_t fileType);

// The page's resolution in whole dots per inch.
struct Dpi {
    uint16_t x = 0;
    uint16_t y = 0;
};
Dpi page_dpi(const PageInfo& info);

// Writes the rows as page `page` (from 1) of an AWD file. Throws ToolError.
void write_awd_page(Document& out, uint32_t page, const Bilevel& rows, Dpi dpi);

// Writes the rows as page `page` of a TIFF file written strip by strip,
// one CCITT T.6 strip in the file's byte order. Throws ToolError.
void write_t6_page(Document& out, uint32_t page, const Bilevel& rows, Dpi dpi, uint32_t byteOrder);

}  // namespace qvtool
