// Run-time binding of the remote-access library. It is loaded the first
// time a remote operation runs, found again by module name, and its entry
// points are bound by name; it is never unloaded.
//
// Threads: the first threads to need the library bind it under a mutex, one
// of them doing the work; the entry points are complete before the module
// is published, so every later call reads them without a lock.
#include "platform/plat_remote.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/plat_loader.h"
#include "qvtav.h"

namespace {

std::mutex g_bindMutex;                // binding and forgetting
bool g_loadedHere = false;             // this process loaded the library through bind
std::atomic<void*> g_module{nullptr};  // the module the entries were bound from
RpcEntries g_entries{};

template <typename Fn>
void bind_one(void* module, Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(plat_symbol(module, name));
}

void bind_all(void* m) {
    bind_one(m, g_entries.access, "RPCIFSaccess");
    bind_one(m, g_entries.statobject, "RPCIFSstatobject");
    bind_one(m, g_entries.open, "RPCIFSopen");
    bind_one(m, g_entries.read, "RPCIFSread");
    bind_one(m, g_entries.write, "RPCIFSwrite");
    bind_one(m, g_entries.create, "RPCIFScreate");
    bind_one(m, g_entries.close, "RPCIFSclose");
    bind_one(m, g_entries.setpos, "RPCIFSsetpos");
    bind_one(m, g_entries.copy, "RPCIFScopy");
    bind_one(m, g_entries.remove, "RPCIFSremove");
    bind_one(m, g_entries.rename, "RPCIFSrename");
    bind_one(m, g_entries.getpos, "RPCIFSgetpos");
    bind_one(m, g_entries.tmpnam, "RPCIFStmpnam");
    bind_one(m, g_entries.opendir, "RPCIDSopendir");
    bind_one(m, g_entries.readdir, "RPCIDSreaddir");
    bind_one(m, g_entries.closedir, "RPCIDSclosedir");
    bind_one(m, g_entries.mkdir, "RPCIDSmkdir");
    bind_one(m, g_entries.rmdir, "RPCIDSrmdir");
    bind_one(m, g_entries.listvolumes, "RPCIDSlistvolumes");
    bind_one(m, g_entries.testfornetwork, "RPCIDStestfornetwork");
    bind_one(m, g_entries.gettimestamp, "RPCIFSGetTimeStamp");
    bind_one(m, g_entries.getvolspace, "RPCIFSGetVolSpace");
    bind_one(m, g_entries.getuniquename, "RPCIFSGetUniqueName");
    bind_one(m, g_entries.statvolume, "RPCIFSstatvolume");
}

}  // namespace

const RpcEntries* plat_remote_bind() {
    if (g_module.load(std::memory_order_acquire)) return &g_entries;
    std::lock_guard<std::mutex> lock(g_bindMutex);
    if (g_module.load(std::memory_order_relaxed)) return &g_entries;
    if (!g_loadedHere && plat_load_library(kRpcLibraryName)) g_loadedHere = true;
    void* m = plat_module_loaded(kRpcLibraryName);
    if (!m) {
        errno = TAV_E_NO_REMOTE;
        return nullptr;
    }
    g_entries = RpcEntries{};
    bind_all(m);
    g_module.store(m, std::memory_order_release);
    return &g_entries;
}

const RpcEntries* plat_remote_bound() {
    return g_module.load(std::memory_order_acquire) ? &g_entries : nullptr;
}

void* plat_remote_module() { return g_module.load(std::memory_order_acquire); }

void plat_remote_forget() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    g_module.store(nullptr);
    g_loadedHere = false;
    g_entries = RpcEntries{};
}
