// PCX files: one PCX image (formats/common/pcx_image.h) from offset 0.
#pragma once

#include <cstdint>

#include "frame/detect.h"
#include "frame/format.h"
#include "qvtav.h"

extern const FormatOps kPcxFormat;

// The PCX marker, a known version and run-length encoding.
Probe pcx_probe(const FileHead& head);
