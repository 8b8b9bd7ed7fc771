// The file control table: 20 entries; a handle is the entry's index plus one.
//
// Threads: allocation and release run under the table's named mutex. An
// entry's fields belong to the thread using its handle and change without a
// lock, so whether an entry is in use is kept apart from them, in a flag
// that only allocation and release set: the scan of a new allocation never
// reads an entry another thread is filling. The flag is set when the
// entry's fd is nonzero and cleared when release sets it to 0, so it says
// exactly what fd says.
#include <atomic>
#include <cerrno>
#include <cstring>

#include "frame/fct.h"
#include "platform/plat_memory.h"
#include "platform/plat_mutex.h"

namespace {
// Each entry starts a cache line of its own: the fields one thread changes
// at every call on its handle never share a line with the next entry.
struct alignas(kPlatCacheLine) Row {
    FctEntry entry;
};
Row g_fct[kFctSize];
std::atomic<bool> g_inUse[kFctSize];

bool valid(int handle) { return handle >= 1 && handle <= kFctSize; }
}  // namespace

int fct_alloc(const FctEntry& templ) {
    NamedLock lock(NamedMutex::FctGlobal);
    for (int i = 0; i < kFctSize; ++i) {
        if (!g_inUse[i].load(std::memory_order_relaxed)) {
            g_fct[i].entry = templ;
            g_inUse[i].store(templ.fd != 0, std::memory_order_release);
            return i + 1;
        }
    }
    errno = TAV_ENFILE;
    return -1;
}

FctEntry* fct_lookup(int handle) {
    if (!valid(handle) || !g_inUse[handle - 1].load(std::memory_order_acquire)) {
        errno = TAV_EBADF;
        return nullptr;
    }
    return &g_fct[handle - 1].entry;
}

FctEntry* fct_entry_at(int handle) {
    if (!valid(handle)) return nullptr;
    return &g_fct[handle - 1].entry;
}

int fct_release(int handle) {
    NamedLock lock(NamedMutex::FctGlobal);
    if (valid(handle) && g_inUse[handle - 1].load(std::memory_order_relaxed)) {
        g_fct[handle - 1].entry.fd = 0;
        g_inUse[handle - 1].store(false, std::memory_order_release);
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
