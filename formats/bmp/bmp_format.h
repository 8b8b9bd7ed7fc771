// BMP files.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kBmpFormat;

// "BM".
Probe bmp_probe(const FileHead& head);
