// The options call: error fetch, version, per-handle mode flags, and the
// options served by the page readers and writers.
#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"
#include "qvtav.h"

namespace {

int option_set(FctEntry* e, uint32_t option, uint32_t* value) {
    switch (option) {
    case 3:
        e->optionFlags[kOptStripRead] = 1;
        return 0;
    case 4:
        // The caller may choose strip-wise writing only before a page is
        // under way, or once the current page is complete.
        if (e->editFlags != 0 && !(e->editFlags & kEditPageComplete))
            return fct_fail(e, TAV_EACCES);
        e->optionFlags[kOptStripWrite] = 1;
        return 0;
    case 14:
        if (!value) return fct_fail(e, TAV_E_OPTION);
        e->byteOrder = *reinterpret_cast<uint16_t*>(value);
        return 0;
    case 12:
    case 13:
    case 23:
        return opt_strip_counts(e, option, value);
    case 9:
    case 11:
    case 15:
    case 16:
    case 17:
    case 19:
    case 20:
    case 21:
        return opt_writer(e, option, value);
    case 22:
        return opt_move_page(e, value);
    default:
        return fct_fail(e, TAV_E_OPTION);
    }
}

}  // namespace

int tav_options(int handle, uint32_t action, uint32_t option, uint32_t* value) {
    int kept = errno;
    errno = 0;
    if (option == 18) {
        if (!value) {
            errno = TAV_E_OPTION;
            if (FctEntry* e = fct_lookup(handle)) e->lastError = TAV_E_OPTION;
            errno = TAV_E_OPTION;
            return -1;
        }
        *value = QVTAV_VERSION;
        return 0;
    }
    if (option == 0) {
        // The error fetch: the handle's last error, or the code that was
        // current before the call when the handle is not in use.
        errno = kept;
        uint32_t code = 0;
        fct_fetch_error(handle < 0 ? -handle : handle, &code);
        if (value) *value = code;
        return 0;
    }
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (action == 1) return option_set(e, option, value);
    if (action == 0) {
        if (option >= 1 && option <= 22) {
            e->optionFlags[option] = 0;
            return 0;
        }
        return fct_fail(e, TAV_E_OPTION);
    }
    return fct_fail(e, TAV_E_ACTION);
}
