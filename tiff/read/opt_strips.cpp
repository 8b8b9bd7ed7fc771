// Options 12, 13 and 23: not built yet (293).
#include "frame/ops.h"

int opt_strip_counts(FctEntry* e, uint32_t, uint32_t*) { return fct_fail(e, TAV_E_NOT_SUPPORTED); }
