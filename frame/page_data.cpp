// Auxiliary page data (xtavgtdata): texts, colour tables and profiles that
// the page information announced, delivered by the format into the
// caller's buffers. Sizes and buffers come from the caller's record, file
// offsets from the handle's current page.
#include <cerrno>

#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

int page_get_data(int handle, PageInfo* info) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (!info) return fct_fail(e, TAV_EINVAL);
    const FormatOps& f = fct_format(e);
    if (!f.page_data) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    // A read that set no code failed by returning nothing.
    if (f.page_data(e, info) < 0) return fct_fail(e, errno_or(TAV_E_NO_SUBFILE));
    return 0;
}
