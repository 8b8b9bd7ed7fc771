// XIFF files: TIFF files with the XIFF marks, read through the outside
// XIFF reader.
#pragma once

#include <atomic>

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kXiffFormat;

// A TIFF header with the XIFF marks behind it: kProbeYes, kProbeNo, or kProbeRefused
// for a "XEROX DIFF" version that is not supported.
Probe xiff_probe(const FileHead& head);

// The outside XIFF reader (libxiffr3_0.so), loaded on the first XIFF open
// (by one thread, the others waiting for it) and kept for the life of the
// process.
extern std::atomic<void*> g_xiffLib;
