// PCX files.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kPcxFormat;

// The PCX marker, a known version and run-length encoding.
Probe pcx_probe(const FileHead& head);
