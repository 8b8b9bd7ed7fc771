// Page information put (xtavputi): the checks every file type shares, then
// the format's writer, then the copy of the caller's record into the
// handle.
#include <cerrno>
#include <cstring>

#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

int page_put_info(int handle, uint16_t page, PageInfo* info, PutOptions* options) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    const FormatOps& f = fct_format(e);
    if (f.traits & kTraitByteStream) {
        // No pages: the format gives its answer at once.
        if (f.put_info(e, 0, info, options) < 0) return fct_fail(e, errno_or(TAV_E_NOT_SUPPORTED));
        return 0;
    }
    if (page == 0) return fct_fail(e, TAV_EINVAL);
    --page;
    // A handle without write access never finishes its pages at close.
    if (!e->can_write()) return fct_fail(e, TAV_EACCES);
    if (!info) return fct_fail(e, TAV_EINVAL);
    uint8_t& state = e->pageState();
    if ((state & kPageInfoGiven) && !(state & kPageDataWritten))
        return fct_fail(e, TAV_E_SEQUENCE);
    if (options && options->typeGiven == 0) info->fileType = e->fileType;

    if (!f.put_info) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    // The format may record that the page needs no data (AWD: the
    // information of an existing page is stored at once).
    const uint8_t before = state;
    state = uint8_t(before & ~kPageDataWritten);
    if (f.put_info(e, page, info, options) < 0) {
        state = before;
        return fct_fail(e, errno_or(TAV_EIO));
    }
    std::memcpy(&e->pageInfo, info, sizeof(PageInfo));
    state = uint8_t((state & kPageDataWritten) | kPageInfoGiven);
    return 0;
}
