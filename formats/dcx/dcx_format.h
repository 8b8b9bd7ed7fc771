// DCX files: multi-page PCX, with a table of page offsets behind a mark.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kDcxFormat;

// The DCX mark with something behind it (a file of the mark alone is plain
// bytes).
Probe dcx_probe(const FileHead& head);
