// Not built yet: the operation fails with 293 on any open handle.
#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"

int page_read(int handle, void*, uint32_t, uint32_t, uint32_t*, uint16_t) {
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    return fct_fail(e, TAV_E_NOT_SUPPORTED);
}
