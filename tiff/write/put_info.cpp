// Not built yet: the operation fails with 293 on any open handle.
#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"

int page_put_info(int handle, uint16_t, PageInfo*, PutOptions*) {
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    return fct_fail(e, TAV_E_NOT_SUPPORTED);
}
