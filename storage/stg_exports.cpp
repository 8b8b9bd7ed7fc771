// The two storage exports: IsStorage tells a storage reference path (a
// live storage object the caller holds) from a file path, and CopyStorage
// writes such a storage into a new compound file.
//
// Behaviour:
//  - Without structured storage on the platform, IsStorage answers 0 and
//    CopyStorage is refused (kCopyStorageRefused), as it is from a path
//    that names no live storage.
//  - CopyStorage never opens or releases the source: it belongs to the
//    caller. An existing destination is refused with TAV_EEXIST unless
//    overwrite is set.
//  - No exception crosses the boundary: one that escapes is reported as
//    TAV_STG_E_INSUFFICIENTMEMORY (IsStorage: 0).
#include "fileio/fio.h"
#include "qvtav.h"
#include "storage/stg_utils.h"

uint32_t stg_is_storage(const char* path) { return stg_supported() && stg_reference_prefix(path) ? 1 : 0; }

uint32_t stg_copy_storage(const char* source, const char* destination, uint32_t overwrite) {
    if (!stg_supported()) return kCopyStorageRefused;
    // The source storage belongs to the caller: it is neither opened nor
    // released here.
    StgStorage* from = stg_storage_reference(source);
    if (!from) return kCopyStorageRefused;
    if (!destination) return TAV_STG_E_INVALIDNAME;
    if (!overwrite && fio_access(nullptr, destination, 0) == 0) return TAV_EEXIST;
    StgStorage* to = nullptr;
    uint32_t rc = stg_create_root(destination, &to);
    if (rc == TAV_STG_S_CONVERTED) rc = 0;
    if (rc) return rc;
    rc = from->ops->CopyTo(from, 0, nullptr, nullptr, to);
    to->ops->Release(to);
    return rc;
}

extern "C" {

QVTAV_EXPORT uint32_t CopyStorage(const char* source, const char* destination, uint32_t overwrite) {
    try {
        return stg_copy_storage(source, destination, overwrite);
    } catch (...) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

QVTAV_EXPORT uint32_t IsStorage(const char* path) {
    try {
        return stg_is_storage(path);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
