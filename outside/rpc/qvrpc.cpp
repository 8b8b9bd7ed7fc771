// libqvrpc400.so: the remote-access library.
//
// The `server` argument chooses the back end: an absolute path names a
// directory of this machine, any other name an SSH server reached over
// SFTP (rpc_backend.h). Results: 0 on success, else a server code; the last
// argument is the transport-failure flag, set when a request did not reach
// the server (unreachable, or the connection dropped).
//
// Any number of threads may call at once, each on its own handles; open
// files of one server share its connection.
//
// Test controls: RPCSTUBreset, RPCSTUBcount, RPCSTUBbytes, RPCSTUBsize and
// RPCSTUBfail count the calls of each entry point, the bytes moved and the
// sizes asked for, and inject failures (each RPCSTUBfail arms one more: the
// call that comes after afterCalls further calls of the entry point fails),
// whichever back end serves the call.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outside/rpc/rpc_backend.h"
#include "platform/plat_remote.h"

#define RPC_EXPORT extern "C" __attribute__((visibility("default")))

namespace qvrpc {
namespace {

constexpr int kMaxHandles = 64;
constexpr int kMaxDirs = 16;
constexpr uint32_t kIdBase = 0x5150C000;
constexpr size_t kNameSize = 260;

struct Fault {
    uint32_t remaining = 0;  // calls still to pass before this one fails
    int32_t code = 0;
    bool transport = false;
};

struct Counter {
    uint32_t calls = 0;
    uint64_t bytes = 0;
    std::vector<uint32_t> sizes;
    // Armed failures, each counting the calls since it was armed; a test
    // arms several to make more than one call of an entry point fail.
    std::vector<Fault> faults;
};

struct OpenFile {
    std::unique_ptr<RemoteFile> file;
    uint32_t id = 0;
};

// The counters and both handle tables, under g_lock; the back ends' work
// runs outside it. Never destroyed: the unload closes what is open.
struct Tables {
    std::map<std::string, Counter> counters;
    OpenFile files[kMaxHandles];
    std::unique_ptr<RemoteDir> dirs[kMaxDirs];
    uint32_t nextId = 1;
    uint32_t uniqueSeq = 0;
};
std::mutex g_lock;
Tables& g = *new Tables;

// Counts the call and tells whether an injected failure replaces it.
bool injected(Counter& c, Outcome* result) {
    ++c.calls;
    auto due = c.faults.end();
    for (auto it = c.faults.begin(); it != c.faults.end(); ++it) {
        if (it->remaining == 0 && due == c.faults.end())
            due = it;
        else if (it->remaining > 0)
            --it->remaining;
    }
    if (due == c.faults.end()) return false;
    *result = due->transport ? Outcome::dropped() : Outcome::server(due->code);
    c.faults.erase(due);
    return true;
}

int32_t report(Outcome o, uint32_t* flag) {
    if (o.transport) {
        if (flag) *flag = 1;
        return 0;
    }
    return o.code;
}

// One entry point: clears the flag, counts the call (and the size asked
// for), lets an armed failure replace it, else runs it.
template <typename Op>
int32_t call(const char* entry, uint32_t* flag, Op op, const uint32_t* size = nullptr) {
    if (flag) *flag = 0;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        Counter& c = g.counters[entry];
        if (size) c.sizes.push_back(*size);
        Outcome inj;
        if (injected(c, &inj)) return report(inj, flag);
    }
    return report(op(), flag);
}

void count_bytes(const char* entry, uint64_t n) {
    std::lock_guard<std::mutex> guard(g_lock);
    g.counters[entry].bytes += n;
}

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

RemoteFile* file_of(const uint32_t* remoteId, int32_t handle) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (handle < 1 || handle > kMaxHandles || !remoteId) return nullptr;
    OpenFile& f = g.files[handle - 1];
    if (!f.file || f.id != *remoteId) return nullptr;
    return f.file.get();
}

// Puts an opened file into the table; kRpcNoHandles (and the file closed)
// when the table is full.
Outcome keep_file(std::unique_ptr<RemoteFile> file, uint32_t* remoteId, int32_t* handle) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (int i = 0; i < kMaxHandles; ++i) {
            if (!g.files[i].file) {
                g.files[i].file = std::move(file);
                g.files[i].id = kIdBase + g.nextId++;
                if (remoteId) *remoteId = g.files[i].id;
                if (handle) *handle = i + 1;
                return {};
            }
        }
    }
    file->close();
    return Outcome::server(kRpcNoHandles);
}

RemoteDir* dir_of(int32_t dirHandle) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (dirHandle < 1 || dirHandle > kMaxDirs) return nullptr;
    return g.dirs[dirHandle - 1].get();
}

// A path argument: missing or empty is a bad path.
bool bad(const char* path) { return !path || !*path; }

}  // namespace

std::unique_ptr<Backend> backend_for(const char* server, uint32_t connection) {
    if (!server || !*server) return nullptr;
    if (server[0] == '/') return directory_backend(server);
    return ssh_backend(server, connection);
}

}  // namespace qvrpc

using namespace qvrpc;

// ---- entry points the library calls ----

RPC_EXPORT int32_t RPCIFSaccess(uint32_t connection, const char* server, const char* path,
                                uint32_t mode, uint32_t* flag) {
    return call("RPCIFSaccess", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        return b->access(path, mode);
    });
}

RPC_EXPORT int32_t RPCIFSstatobject(uint32_t connection, const char* server, const char* path,
                                    uint32_t, uint32_t* size, uint32_t* value2, uint32_t* value3,
                                    uint32_t* flag) {
    return call("RPCIFSstatobject", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        ObjectStatus st;
        Outcome o = b->stat(path, &st);
        if (o.failed()) return o;
        if (size) *size = st.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(st.size);
        if (value2) *value2 = st.value2;
        if (value3) *value3 = st.value3;
        return o;
    });
}

RPC_EXPORT int32_t RPCIFSopen(uint32_t connection, const char* server, uint32_t* remoteId,
                              const char* path, uint32_t mode, int32_t* handle, uint32_t* flag) {
    if (handle) *handle = -1;
    return call("RPCIFSopen", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        std::unique_ptr<RemoteFile> f;
        Outcome o = b->open(path, mode, &f);
        return o.failed() ? o : keep_file(std::move(f), remoteId, handle);
    });
}

RPC_EXPORT int32_t RPCIFScreate(uint32_t connection, const char* server, uint32_t* remoteId,
                                const char* path, int32_t* handle, uint32_t* flag) {
    if (handle) *handle = -1;
    return call("RPCIFScreate", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        std::unique_ptr<RemoteFile> f;
        Outcome o = b->create(path, &f);
        return o.failed() ? o : keep_file(std::move(f), remoteId, handle);
    });
}

RPC_EXPORT int32_t RPCIFSread(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t count,
                              void* buffer, uint32_t* bytesRead, uint32_t* flag) {
    if (bytesRead) *bytesRead = 0;
    return call(
        "RPCIFSread", flag,
        [&]() -> Outcome {
            RemoteFile* f = file_of(remoteId, handle);
            if (!f) return Outcome::server(kRpcBadHandle);
            uint32_t got = 0;
            Outcome o = f->read(buffer, count, &got);
            if (bytesRead) *bytesRead = got;
            count_bytes("RPCIFSread", got);
            return o;
        },
        &count);
}

RPC_EXPORT int32_t RPCIFSwrite(uint32_t, uint32_t* remoteId, int32_t handle, const void* buffer,
                               uint32_t count, uint32_t* flag) {
    return call(
        "RPCIFSwrite", flag,
        [&]() -> Outcome {
            RemoteFile* f = file_of(remoteId, handle);
            if (!f) return Outcome::server(kRpcBadHandle);
            Outcome o = f->write(buffer, count);
            if (!o.failed()) count_bytes("RPCIFSwrite", count);
            return o;
        },
        &count);
}

RPC_EXPORT int32_t RPCIFSclose(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t* flag) {
    return call("RPCIFSclose", flag, [&]() -> Outcome {
        std::unique_ptr<RemoteFile> f;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            if (handle < 1 || handle > kMaxHandles || !remoteId) return Outcome::server(kRpcBadHandle);
            OpenFile& slot = g.files[handle - 1];
            if (!slot.file || slot.id != *remoteId) return Outcome::server(kRpcBadHandle);
            f = std::move(slot.file);
            slot.id = 0;
        }
        return f->close();
    });
}

RPC_EXPORT int32_t RPCIFSsetpos(uint32_t, uint32_t* remoteId, int32_t handle, int32_t offset,
                                uint32_t origin, uint32_t* flag) {
    return call("RPCIFSsetpos", flag, [&]() -> Outcome {
        RemoteFile* f = file_of(remoteId, handle);
        if (!f) return Outcome::server(kRpcBadHandle);
        return f->setpos(offset, origin);
    });
}

RPC_EXPORT int32_t RPCIFScopy(uint32_t connection, const char* server, const char* source,
                              const char* destination, uint32_t, uint32_t* flag) {
    return call("RPCIFScopy", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(source) || bad(destination)) return Outcome::server(kRpcBadPath);
        return b->copy(source, destination);
    });
}

RPC_EXPORT int32_t RPCIFSremove(uint32_t connection, const char* server, const char* path,
                                uint32_t* flag) {
    return call("RPCIFSremove", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        return b->remove(path);
    });
}

RPC_EXPORT int32_t RPCIFSrename(uint32_t connection, const char* server, const char* source,
                                const char* destination, uint32_t* flag) {
    return call("RPCIFSrename", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(source) || bad(destination)) return Outcome::server(kRpcBadPath);
        return b->rename(source, destination);
    });
}

// ---- entry points bound but not called by the library ----

RPC_EXPORT int32_t RPCIFSgetpos(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t* position,
                                uint32_t* flag) {
    return call("RPCIFSgetpos", flag, [&]() -> Outcome {
        RemoteFile* f = file_of(remoteId, handle);
        if (!f) return Outcome::server(kRpcBadHandle);
        uint64_t p = 0;
        Outcome o = f->getpos(&p);
        if (!o.failed() && position) *position = p > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(p);
        return o;
    });
}

// A name for a temporary file; nothing is made or checked on the server.
RPC_EXPORT int32_t RPCIFStmpnam(uint32_t, const char*, char* name260, uint32_t* flag) {
    return call("RPCIFStmpnam", flag, [&]() -> Outcome {
        if (!name260) return Outcome::server(kRpcBadPath);
        std::lock_guard<std::mutex> guard(g_lock);
        std::snprintf(name260, kNameSize, "rpc%05u.tmp", ++g.uniqueSeq % 100000u);
        return {};
    });
}

RPC_EXPORT int32_t RPCIDSopendir(uint32_t connection, const char* server, const char* path,
                                 int32_t* dirHandle, uint32_t* flag) {
    if (dirHandle) *dirHandle = -1;
    return call("RPCIDSopendir", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b) return Outcome::server(kRpcBadPath);
        std::unique_ptr<RemoteDir> d;
        Outcome o = b->opendir(text(path), &d);
        if (o.failed()) return o;
        std::lock_guard<std::mutex> guard(g_lock);
        for (int i = 0; i < kMaxDirs; ++i) {
            if (!g.dirs[i]) {
                g.dirs[i] = std::move(d);
                if (dirHandle) *dirHandle = i + 1;
                return {};
            }
        }
        return Outcome::server(kRpcNoHandles);
    });
}

RPC_EXPORT int32_t RPCIDSreaddir(uint32_t, int32_t dirHandle, char* name260, uint32_t* flag) {
    return call("RPCIDSreaddir", flag, [&]() -> Outcome {
        RemoteDir* d = dir_of(dirHandle);
        if (!d || !name260) return Outcome::server(kRpcBadHandle);
        std::string name;
        Outcome o = d->next(&name);
        if (!o.failed()) std::snprintf(name260, kNameSize, "%s", name.c_str());
        return o;
    });
}

RPC_EXPORT int32_t RPCIDSclosedir(uint32_t, int32_t dirHandle, uint32_t* flag) {
    return call("RPCIDSclosedir", flag, [&]() -> Outcome {
        std::unique_ptr<RemoteDir> d;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            if (dirHandle < 1 || dirHandle > kMaxDirs || !g.dirs[dirHandle - 1])
                return Outcome::server(kRpcBadHandle);
            d = std::move(g.dirs[dirHandle - 1]);
        }
        return {};
    });
}

RPC_EXPORT int32_t RPCIDSmkdir(uint32_t connection, const char* server, const char* path,
                               uint32_t* flag) {
    return call("RPCIDSmkdir", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        return b->mkdir(path);
    });
}

RPC_EXPORT int32_t RPCIDSrmdir(uint32_t connection, const char* server, const char* path,
                               uint32_t* flag) {
    return call("RPCIDSrmdir", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        return b->rmdir(path);
    });
}

RPC_EXPORT int32_t RPCIDSlistvolumes(uint32_t, char* buffer, uint32_t size, uint32_t* count,
                                     uint32_t* flag) {
    return call("RPCIDSlistvolumes", flag, [&]() -> Outcome {
        // Any directory or server serves as a volume; there is no fixed list.
        if (buffer && size) buffer[0] = 0;
        if (count) *count = 0;
        return {};
    });
}

RPC_EXPORT int32_t RPCIDStestfornetwork(uint32_t, uint32_t* flag) {
    return call("RPCIDStestfornetwork", flag, []() -> Outcome { return {}; });
}

RPC_EXPORT int32_t RPCIFSGetTimeStamp(uint32_t connection, const char* server, const char* path,
                                      uint32_t* seconds, uint32_t* flag) {
    return call("RPCIFSGetTimeStamp", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || bad(path)) return Outcome::server(kRpcBadPath);
        ObjectStatus st;
        Outcome o = b->stat(path, &st);
        if (!o.failed() && seconds) *seconds = st.mtime;
        return o;
    });
}

RPC_EXPORT int32_t RPCIFSGetVolSpace(uint32_t connection, const char* server, uint32_t* freeKb,
                                     uint32_t* totalKb, uint32_t* flag) {
    return call("RPCIFSGetVolSpace", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b) return Outcome::server(kRpcBadPath);
        VolumeStatus vs;
        Outcome o = b->statvolume(&vs);
        if (o.failed()) return o;
        uint64_t fr = vs.freeBlocks * vs.blockSize / 1024;
        uint64_t tot = vs.totalBlocks * vs.blockSize / 1024;
        if (freeKb) *freeKb = fr > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(fr);
        if (totalKb) *totalKb = tot > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(tot);
        return o;
    });
}

RPC_EXPORT int32_t RPCIFSGetUniqueName(uint32_t connection, const char* server, const char* dir,
                                       char* name260, uint32_t* flag) {
    return call("RPCIFSGetUniqueName", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b || !name260) return Outcome::server(kRpcBadPath);
        std::string d = text(dir);
        if (!d.empty() && d.back() != '/' && d.back() != '\\') d += '/';
        for (int attempt = 0; attempt < 1000; ++attempt) {
            uint32_t seq;
            {
                std::lock_guard<std::mutex> guard(g_lock);
                seq = ++g.uniqueSeq % 10000000u;
            }
            char name[kNameSize];
            std::snprintf(name, sizeof name, "%sU%07u", d.c_str(), seq);
            ObjectStatus st;
            Outcome o = b->stat(name, &st);
            if (o.transport) return o;
            if (o.code == kRpcBadPath) return o;
            if (o.code == 0) continue;  // taken
            std::snprintf(name260, kNameSize, "%s", name);
            return {};
        }
        return Outcome::server(kRpcExists);
    });
}

RPC_EXPORT int32_t RPCIFSstatvolume(uint32_t connection, const char* server, uint32_t* blockSize,
                                    uint32_t* freeBlocks, uint32_t* totalBlocks, uint32_t* flag) {
    return call("RPCIFSstatvolume", flag, [&]() -> Outcome {
        auto b = backend_for(server, connection);
        if (!b) return Outcome::server(kRpcBadPath);
        VolumeStatus vs;
        Outcome o = b->statvolume(&vs);
        if (o.failed()) return o;
        auto clamp = [](uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v); };
        if (blockSize) *blockSize = clamp(vs.blockSize);
        if (freeBlocks) *freeBlocks = clamp(vs.freeBlocks);
        if (totalBlocks) *totalBlocks = clamp(vs.totalBlocks);
        return o;
    });
}

// ---- test controls ----

RPC_EXPORT void RPCSTUBreset() {
    std::lock_guard<std::mutex> guard(g_lock);
    g.counters.clear();
}

RPC_EXPORT uint32_t RPCSTUBcount(const char* entryPoint) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g.counters.find(text(entryPoint));
    return it == g.counters.end() ? 0 : it->second.calls;
}

RPC_EXPORT uint64_t RPCSTUBbytes(const char* entryPoint) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g.counters.find(text(entryPoint));
    return it == g.counters.end() ? 0 : it->second.bytes;
}

RPC_EXPORT uint32_t RPCSTUBsize(const char* entryPoint, uint32_t i) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g.counters.find(text(entryPoint));
    if (it == g.counters.end() || i >= it->second.sizes.size()) return 0xFFFFFFFFu;
    return it->second.sizes[i];
}

RPC_EXPORT void RPCSTUBfail(const char* entryPoint, uint32_t serverCode, uint32_t transportFlag,
                            uint32_t afterCalls) {
    std::lock_guard<std::mutex> guard(g_lock);
    Fault f;
    f.remaining = afterCalls;
    f.code = int32_t(serverCode);
    f.transport = transportFlag != 0;
    g.counters[text(entryPoint)].faults.push_back(f);
}

// Closes every open file and listing, then every SSH session. Registered
// with atexit when the first SSH session is made, so it runs at unload and
// at exit before the crypto library's own clean-up.
void qvrpc::close_everything() {
    std::vector<std::unique_ptr<RemoteFile>> files;
    std::vector<std::unique_ptr<RemoteDir>> dirs;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (OpenFile& f : g.files)
            if (f.file) files.push_back(std::move(f.file));
        for (auto& d : g.dirs)
            if (d) dirs.push_back(std::move(d));
    }
    for (auto& f : files) f->close();
    files.clear();
    dirs.clear();
    ssh_close_all();
}

// The entry points agree with the argument lists the library binds.
static_assert(sizeof(RpcEntries) == kRpcEntryCount * sizeof(void*));
namespace {
[[maybe_unused]] const RpcEntries kSignatureCheck = {
    RPCIFSaccess,   RPCIFSstatobject,  RPCIFSopen,          RPCIFSread,         RPCIFSwrite,
    RPCIFScreate,   RPCIFSclose,       RPCIFSsetpos,        RPCIFScopy,         RPCIFSremove,
    RPCIFSrename,   RPCIFSgetpos,      RPCIFStmpnam,        RPCIDSopendir,      RPCIDSreaddir,
    RPCIDSclosedir, RPCIDSmkdir,       RPCIDSrmdir,         RPCIDSlistvolumes,  RPCIDStestfornetwork,
    RPCIFSGetTimeStamp, RPCIFSGetVolSpace, RPCIFSGetUniqueName, RPCIFSstatvolume,
};
}  // namespace
