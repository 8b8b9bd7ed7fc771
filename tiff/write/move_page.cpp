// Option 22: not built yet (293).
#include "frame/ops.h"

int opt_move_page(FctEntry* e, uint32_t*) { return fct_fail(e, TAV_E_NOT_SUPPORTED); }
