// JPEG (JFIF) files.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kJpegFormat;

// The start-of-image marker followed by another marker.
Probe jpeg_probe(const FileHead& head);
