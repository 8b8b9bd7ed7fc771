// The options call: error fetch, version, per-handle mode flags, and the
// options the formats serve (strip counts, image length, the page index
// window, annotation areas, page moves).
#include <cerrno>
#include <cstring>

#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

namespace {

constexpr uint32_t kLastFlagOption = 22;  // action 0 clears the flag bytes 1 to 22

// Option 4: strip-wise writing may be chosen only before a page is under
// way, or once the current page is complete.
int set_strip_write(FctEntry* e) {
    if (e->editFlags != 0 && !(e->editFlags & kEditPageComplete)) return fct_fail(e, TAV_EACCES);
    e->optionFlags[kOptStripWrite] = 1;
    return 0;
}

// Options 15 to 17 and 19 to 21 of a format without annotation areas: the
// areas are empty; nothing can be appended to them.
int empty_area(FctEntry* e, uint32_t option, uint32_t* value) {
    switch (option) {
    case kOptArea1Info:
    case kOptArea2Info: {
        auto* out = reinterpret_cast<TavAreaInfo*>(value);
        out->length = 0;
        out->offset = 0;
        return 0;
    }
    case kOptArea1Read:
    case kOptArea2Read:
        reinterpret_cast<TavAreaRead*>(value)->count = 0;
        return 0;
    default:
        if (reinterpret_cast<TavAreaAppend*>(value)->count == 0) return 0;
        return fct_fail(e, TAV_E_NOT_SUPPORTED);
    }
}

int image_length(FctEntry* e, uint32_t* value) {
    if (!value) return fct_fail(e, TAV_E_OPTION);
    uint32_t rows = *value;
    if (rows == 0) return fct_fail(e, TAV_EINVAL);
    if (!(e->pageState() & kPageInfoGiven) || !fct_format(e).image_length) return 0;
    if (fct_format(e).image_length(e, rows) < 0) return fct_fail(e, errno_or(TAV_EIO));
    return 0;
}

int index_window(FctEntry* e, uint32_t* value) {
    uint32_t n = uint32_t(reinterpret_cast<uintptr_t>(value));
    if (n == 0) return fct_fail(e, TAV_E_OPTION);
    // Only a handle that reads a page index has a window to size.
    if (!fct_format(e).index_window) return fct_fail(e, TAV_E_INDEX_KIND);
    if (fct_format(e).index_window(e, n) < 0) return fct_fail(e, errno_or(TAV_E_INDEX_KIND));
    e->optionFlags[kOptIndexWindow] = 1;
    return 0;
}

int move_page(FctEntry* e, uint32_t* value) {
    if (!value) return fct_fail(e, TAV_E_OPTION);
    if (!fct_format(e).move_page) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    const auto* move = reinterpret_cast<const TavPageMove*>(value);
    if (fct_format(e).move_page(e, move->targetPage, move->movedPage) < 0)
        return fct_fail(e, errno_or(TAV_EIO));
    return 0;
}

int format_option(FctEntry* e, uint32_t option, uint32_t* value) {
    const FormatOps& f = fct_format(e);
    switch (option) {
    case kOptCountSize:
    case kOptStripCounts:
    case kOptStoredCounts:
        if (!value) return fct_fail(e, TAV_E_OPTION);
        if (!f.strip_counts) return 0;  // the cell is left as it was
        return f.strip_counts(e, option, value) < 0 ? fct_fail(e, errno_or(TAV_E_OPTION)) : 0;
    default:  // the annotation areas
        if (!value) return fct_fail(e, TAV_E_OPTION);
        if (!f.annotation_area) return empty_area(e, option, value);
        return f.annotation_area(e, option, value) < 0 ? fct_fail(e, errno_or(TAV_EIO)) : 0;
    }
}

int option_set(FctEntry* e, uint32_t option, uint32_t* value) {
    switch (option) {
    case kOptStripRead:
        e->optionFlags[kOptStripRead] = 1;
        return 0;
    case kOptStripWrite:
        return set_strip_write(e);
    case kOptByteOrder:
        if (!value) return fct_fail(e, TAV_E_OPTION);
        std::memcpy(&e->byteOrder, value, sizeof e->byteOrder);
        return 0;
    case kOptIndexWindow:
        return index_window(e, value);
    case kOptImageLength:
        return image_length(e, value);
    case kOptMovePage:
        return move_page(e, value);
    case kOptCountSize:
    case kOptStripCounts:
    case kOptStoredCounts:
    case kOptArea1Info:
    case kOptArea1Read:
    case kOptArea1Append:
    case kOptArea2Info:
    case kOptArea2Read:
    case kOptArea2Append:
        return format_option(e, option, value);
    default:
        return fct_fail(e, TAV_E_OPTION);
    }
}

}  // namespace

int tav_options(int handle, uint32_t action, uint32_t option, uint32_t* value) {
    int kept = errno;
    errno = 0;
    if (option == kOptVersion) {
        if (!value) {
            if (FctEntry* e = fct_lookup(handle)) e->lastError = TAV_E_OPTION;
            errno = TAV_E_OPTION;
            return -1;
        }
        *value = QVTAV_VERSION;
        return 0;
    }
    if (option == kOptError) {
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
    if (action == kActionSet) return option_set(e, option, value);
    if (action == kActionClear) {
        if (option >= 1 && option <= kLastFlagOption) {
            e->optionFlags[option] = 0;
            return 0;
        }
        return fct_fail(e, TAV_E_OPTION);
    }
    return fct_fail(e, TAV_E_ACTION);
}
