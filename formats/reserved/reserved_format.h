// File types 4 and 5: no format of their own. The page calls accept them
// and transfer nothing; type 5 can be created, type 4 never occurs.
#pragma once

#include "frame/format.h"

extern const FormatOps kReserved4Format;
extern const FormatOps kReserved5Format;
