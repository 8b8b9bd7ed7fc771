// The TIFF format's row of the format table.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kTiffFormat;

// A TIFF header ("II" or "MM" and 42 in either byte order).
Probe tiff_probe(const FileHead& head);
