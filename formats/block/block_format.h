// The library's own block file format (4096-byte blocks).
#pragma once

#include "frame/detect.h"
#include "frame/format.h"

extern const FormatOps kBlockFormat;

// A block file starts with its mark in either byte order.
Probe blk_probe(const FileHead& head);
