// GIF files (the first image).
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kGifFormat;

// "GIF87a" or "GIF89a".
Probe gif_probe(const FileHead& head);
