// Options 9, 11, 15 to 17 and 19 to 21: not built yet (293).
#include "frame/ops.h"

int opt_writer(FctEntry* e, uint32_t, uint32_t*) { return fct_fail(e, TAV_E_NOT_SUPPORTED); }
