// Structured-storage helpers: not built yet.
#include "frame/ops.h"

uint32_t stg_copy_storage(const char*, const char*, uint32_t) { return TAV_E_NOT_SUPPORTED; }
uint32_t stg_is_storage(const char*) { return 0; }
