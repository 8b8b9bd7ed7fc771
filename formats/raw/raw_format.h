// Raw data: a file whose bytes are taken as they stand.
#pragma once

#include "frame/format.h"

extern const FormatOps kRawFormat;
