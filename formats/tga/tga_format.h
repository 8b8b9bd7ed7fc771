// Targa files.
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kTgaFormat;

// A Targa image type in byte 2 (the last rule: Targa has no mark).
Probe tga_probe(const FileHead& head);
