// Page data reading (xtavread): the checks every file type shares, then the
// format's reader.
//
// Behaviour:
//  - "Write-only" means the access bits of the open flags are 1 (flags 9).
//  - A null buffer is refused with TAV_EINVAL; a null remaining cell is allowed.
//  - A file type without a page data reader fails with TAV_E_NOT_SUPPORTED.
#include <cerrno>

#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

namespace {
constexpr uint32_t kMaxReadCount = 0x80000000u;  // counts at or above 2^31 are refused
}

int page_read(int handle, void* buffer, uint32_t start, uint32_t length, uint32_t* remaining,
              uint16_t page) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (fct_write_only(e->openFlags)) return fct_fail(e, TAV_EACCES);
    if (length >= kMaxReadCount) return fct_fail(e, TAV_E2BIG);
    if (!buffer) return fct_fail(e, TAV_EINVAL);
    uint32_t ignored = 0;
    if (!remaining) remaining = &ignored;

    const FormatOps& f = fct_format(e);
    uint32_t p = page;
    if (!(f.traits & kTraitByteStream)) {
        if (page == 0) return fct_fail(e, TAV_EINVAL);
        p = uint32_t(page) - 1;
        if (!e->optionFlags[kOptStripRead] && p != e->curPage) return fct_fail(e, TAV_E_PAGE);
        if (start > e->pageDataSize) return fct_fail(e, TAV_E_OFFSET);
        if (length == 0 || length > e->pageDataSize) return fct_fail(e, TAV_E_COUNT);
    }
    if (!f.page_read) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    int r = f.page_read(e, static_cast<uint8_t*>(buffer), start, length, remaining, p);
    if (r < 0) return fct_fail(e, errno_or(TAV_EIO));
    return r;
}
