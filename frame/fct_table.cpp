// The file control table: 20 entries; a handle is the entry's index plus one.
#include <cerrno>
#include <cstring>

#include "frame/fct.h"
#include "platform/plat_mutex.h"

namespace {
FctEntry g_fct[kFctSize];
}

int fct_alloc(const FctEntry& templ) {
    NamedLock lock(NamedMutex::FctGlobal);
    for (int i = 0; i < kFctSize; ++i) {
        if (g_fct[i].fd == 0) {
            g_fct[i] = templ;
            return i + 1;
        }
    }
    errno = TAV_ENFILE;
    return -1;
}

FctEntry* fct_lookup(int handle) {
    if (handle < 1 || handle > kFctSize || g_fct[handle - 1].fd == 0) {
        errno = TAV_EBADF;
        return nullptr;
    }
    return &g_fct[handle - 1];
}

FctEntry* fct_entry_at(int handle) {
    if (handle < 1 || handle > kFctSize) return nullptr;
    return &g_fct[handle - 1];
}

int fct_release(int handle) {
    NamedLock lock(NamedMutex::FctGlobal);
    if (handle >= 1 && handle <= kFctSize && g_fct[handle - 1].fd != 0) {
        g_fct[handle - 1].fd = 0;
        return 0;
    }
    errno = TAV_EBADF;
    return -1;
}

int fct_fetch_error(int handle, uint32_t* value) {
    int kept = errno;
    errno = 0;
    if (handle < 0) handle = -handle;
    FctEntry* e = fct_lookup(handle);
    if (e) {
        if (value) *value = uint32_t(e->lastError);
        if (e->fd == -1) fct_release(handle);
    } else if (value) {
        *value = uint32_t(kept);
    }
    return 0;
}
