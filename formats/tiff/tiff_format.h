// The TIFF format's row of the format table.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kTiffFormat;

// A TIFF header ("II" or "MM" and 42 in either byte order): its byte-order
// mark, or 0.
uint16_t tiff_probe(const FileHead& head);
