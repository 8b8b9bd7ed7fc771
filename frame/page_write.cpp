// Page data writing (xtavwrite): the checks every file type shares, then
// the format's writer.
#include <cerrno>

#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

namespace {
// A byte count the call refuses as if the handle could not write.
constexpr uint32_t kRefusedCount = 0x7FFFFFFFu;
}

int page_write(int handle, void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (!e->can_write() || count == kRefusedCount) return fct_fail(e, TAV_EACCES);
    const FormatOps& f = fct_format(e);
    uint8_t& state = e->pageState();
    if (!(f.traits & kTraitByteStream)) {
        if (page == 0) return fct_fail(e, TAV_EINVAL);
        --page;
        if (!(state & kPageInfoGiven)) return fct_fail(e, TAV_E_SEQUENCE);
        state |= kPageDataWritten;
    }
    if (count == 0 && !(f.traits & kTraitEmptyWrites)) return fct_fail(e, TAV_E_COUNT);
    if (!buffer) return fct_fail(e, TAV_EINVAL);
    if (!f.page_write) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    int32_t result = f.page_write(e, buffer, count, page, flag);
    if (result < 0) return fct_fail(e, errno_or(TAV_EIO));
    if (e->editFlags & kEditPageComplete) state = 0;
    return result;
}
