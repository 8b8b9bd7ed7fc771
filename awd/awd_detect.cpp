// The AWD test. Until the compound-file engine exists it answers from the
// file itself: a missing path gives STG_E_FILENOTFOUND, an unreadable one
// STG_E_ACCESSDENIED, any readable file is not an AWD document.
#include "fileio/keep_errno.h"
#include "frame/ops.h"
#include "platform/plat_file.h"

uint32_t awd_is_awd_file(const char* path, uint32_t* isAwd) {
    if (isAwd) *isAwd = 0;
    if (!path) return TAV_STG_E_INVALIDPOINTER;
    KeepErrno keep;
    if (plat_readable(path) == 0) return 0;
    return errno == TAV_ENOENT ? TAV_STG_E_FILENOTFOUND : TAV_STG_E_ACCESSDENIED;
}
