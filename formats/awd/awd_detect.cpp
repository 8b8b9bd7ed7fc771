// The AWD test, and its export IsAWDFile: a storage reference path is an
// AWD document; otherwise a compound file holding both "Persistent
// Information" and the summary stream at its root is one. No exception
// crosses the export: one that escapes is reported as
// TAV_STG_E_INSUFFICIENTMEMORY.
#include "fileio/keep_errno.h"
#include "formats/awd/awd_format.h"
#include "formats/awd/awd_tree.h"
#include "storage/stg_utils.h"

namespace {

uint32_t awd_test(const char* path, uint32_t* isAwd) {
    uintptr_t value = 0;
    if (stg_reference_text(path, &value)) {
        *isAwd = 1;
        return 0;
    }
    uint32_t rc = stg_is_storage_file(path);
    if (rc == TAV_S_FALSE) return 0;
    if (rc) return rc;
    StgStorage* root = nullptr;
    if ((rc = stg_open_root(path, kStgModeRead, &root))) return rc;
    StgStorage* persistent = nullptr;
    StgStream* summary = nullptr;
    rc = stg_open_storage(root, kAwdPersistent, kStgModeRead, &persistent);
    if (rc == 0) rc = stg_open_stream(root, kAwdSummary, kStgModeRead, &summary);
    if (rc == 0) *isAwd = 1;
    if (rc == TAV_STG_E_FILENOTFOUND) rc = 0;
    if (persistent) persistent->ops->Release(persistent);
    if (summary) summary->ops->Release(summary);
    root->ops->Release(root);
    return rc;
}

}  // namespace

uint32_t awd_is_awd_file(const char* path, uint32_t* isAwd) {
    uint32_t answer = 0;
    uint32_t rc;
    {
        KeepErrno keep;
        rc = path ? awd_test(path, &answer) : TAV_STG_E_INVALIDPOINTER;
    }
    if (isAwd) *isAwd = answer;
    // A failure status is also left in errno.
    if (rc) errno = int(rc);
    return rc;
}

extern "C" QVTAV_EXPORT uint32_t QVTAV_CALL IsAWDFile(const char* path, uint32_t* isAwd) {
    try {
        return awd_is_awd_file(path, isAwd);
    } catch (...) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}
