// AWD fax documents, kept in compound files of their own.
#pragma once

#include "frame/format.h"

extern const FormatOps kAwdFormat;
