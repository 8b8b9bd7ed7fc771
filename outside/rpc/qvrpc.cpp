// libqvrpc400.so: the remote-access library, serving files of this machine.
//
// The `server` argument names a directory; remote paths are resolved inside
// it and never outside it ("..", absolute links and links that leave the
// directory are refused). Results: 0 on success, else a server code; the
// last argument is the transport-failure flag, which this library sets only
// when a test asks for it.
//
// Test controls: RPCSTUBreset, RPCSTUBcount, RPCSTUBbytes, RPCSTUBsize and
// RPCSTUBfail count the calls of each entry point, the bytes moved and the
// sizes asked for, and inject failures (each RPCSTUBfail arms one more: the
// call that comes after afterCalls further calls of the entry point fails).
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/plat_remote.h"

#define RPC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kMaxHandles = 64;
constexpr int kMaxDirs = 16;
constexpr uint32_t kIdBase = 0x5150C000;

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

struct Handle {
    int fd = -1;
    uint32_t id = 0;
};

struct DirHandle {
    DIR* dir = nullptr;
};

std::mutex g_lock;
std::map<std::string, Counter> g_counters;
Handle g_handles[kMaxHandles];
DirHandle g_dirs[kMaxDirs];
uint32_t g_nextId = 1;
uint32_t g_uniqueSeq = 0;

// Counts the call and tells whether an injected failure replaces it.
bool injected(const char* entry, uint32_t* flag, int32_t* result) {
    Counter& c = g_counters[entry];
    ++c.calls;
    auto due = c.faults.end();
    for (auto it = c.faults.begin(); it != c.faults.end(); ++it) {
        if (it->remaining == 0 && due == c.faults.end())
            due = it;
        else if (it->remaining > 0)
            --it->remaining;
    }
    if (due == c.faults.end()) return false;
    Fault f = *due;
    c.faults.erase(due);
    if (f.transport) {
        if (flag) *flag = 1;
        *result = 0;
    } else {
        *result = f.code;
    }
    return true;
}

#define RPC_ENTER(name, flag)                        \
    std::lock_guard<std::mutex> guard(g_lock);       \
    if (flag) *(flag) = 0;                           \
    {                                                \
        int32_t injectedResult = 0;                  \
        if (injected(name, flag, &injectedResult))   \
            return injectedResult;                   \
    }

int openat2_beneath(int dirfd, const char* rel, uint64_t flags, uint64_t mode) {
    struct open_how how {};
    how.flags = flags | O_CLOEXEC;
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long r;
    do r = syscall(SYS_openat2, dirfd, rel, &how, sizeof how);
    while (r < 0 && errno == EINTR);
    return int(r);
}

int32_t code_of(int e, int32_t fallback) {
    switch (e) {
    case ENOENT:
    case ENOTDIR: return kRpcNotFound;
    case EXDEV:
    case ELOOP:
    case ENAMETOOLONG:
    case EINVAL: return kRpcBadPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kRpcAccessDenied;
    case EEXIST:
    case ENOTEMPTY: return kRpcExists;
    default: return fallback;
    }
}

// A remote path resolved inside the server directory.
class Resolved {
public:
    Resolved(const char* server, const char* path) {
        if (!server || !path || !*server) return;
        serverFd_ = open(server, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (serverFd_ < 0) return;
        rel_ = path;
        for (char& ch : rel_)
            if (ch == '\\') ch = '/';
        size_t start = rel_.find_first_not_of('/');
        rel_ = start == std::string::npos ? std::string() : rel_.substr(start);
        while (!rel_.empty() && rel_.back() == '/') rel_.pop_back();
        if (rel_.empty() || rel_.size() >= 4096) return;
        size_t slash = rel_.rfind('/');
        parent_ = slash == std::string::npos ? "." : rel_.substr(0, slash);
        name_ = slash == std::string::npos ? rel_ : rel_.substr(slash + 1);
        if (name_ == "." || name_ == "..") return;
        ok_ = true;
    }
    ~Resolved() {
        if (parentFd_ >= 0) close(parentFd_);
        if (serverFd_ >= 0) close(serverFd_);
    }
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;

    bool ok() const { return ok_; }
    // Opens the file itself, resolved beneath the server directory.
    int open_file(uint64_t flags, uint64_t mode = 0) const {
        return openat2_beneath(serverFd_, rel_.c_str(), flags, mode);
    }
    // The directory holding the file (opened beneath the server directory)
    // and the file's name in it.
    int parent_fd() {
        if (parentFd_ < 0) parentFd_ = openat2_beneath(serverFd_, parent_.c_str(), O_PATH | O_DIRECTORY, 0);
        return parentFd_;
    }
    const char* name() const { return name_.c_str(); }

private:
    int serverFd_ = -1;
    int parentFd_ = -1;
    bool ok_ = false;
    std::string rel_, parent_, name_;
};

Handle* handle_of(const uint32_t* remoteId, int32_t handle) {
    if (handle < 1 || handle > kMaxHandles || !remoteId) return nullptr;
    Handle& h = g_handles[handle - 1];
    if (h.fd < 0 || h.id != *remoteId) return nullptr;
    return &h;
}

int32_t new_handle(int fd, uint32_t* remoteId, int32_t* handle) {
    for (int i = 0; i < kMaxHandles; ++i) {
        if (g_handles[i].fd < 0) {
            g_handles[i].fd = fd;
            g_handles[i].id = kIdBase + g_nextId++;
            if (remoteId) *remoteId = g_handles[i].id;
            if (handle) *handle = i + 1;
            return 0;
        }
    }
    close(fd);
    if (handle) *handle = -1;
    return kRpcNoHandles;
}

bool copy_fd(int in, int out) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += w;
        }
    }
}

}  // namespace

// ---- entry points the library calls ----

RPC_EXPORT int32_t RPCIFSaccess(uint32_t, const char* server, const char* path, uint32_t mode,
                                uint32_t* flag) {
    RPC_ENTER("RPCIFSaccess", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int fd = r.open_file(O_PATH);
    if (fd < 0) return code_of(errno, kRpcNotFound);
    int result = 0;
    if (mode & 3) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        if (access(proc, W_OK) != 0) result = kRpcAccessDenied;
    }
    close(fd);
    return result;
}

RPC_EXPORT int32_t RPCIFSstatobject(uint32_t, const char* server, const char* path, uint32_t,
                                    uint32_t* size, uint32_t* value2, uint32_t* value3,
                                    uint32_t* flag) {
    RPC_ENTER("RPCIFSstatobject", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int fd = r.open_file(O_PATH);
    if (fd < 0) return code_of(errno, kRpcNotFound);
    struct stat st {};
    int s = fstat(fd, &st);
    close(fd);
    if (s != 0) return kRpcIoError;
    if (size) *size = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(st.st_size);
    if (value2) *value2 = uint32_t(st.st_mtim.tv_sec);
    if (value3) *value3 = uint32_t(st.st_mtim.tv_nsec) ^ uint32_t(st.st_ino);
    return 0;
}

RPC_EXPORT int32_t RPCIFSopen(uint32_t, const char* server, uint32_t* remoteId, const char* path,
                              uint32_t mode, int32_t* handle, uint32_t* flag) {
    RPC_ENTER("RPCIFSopen", flag);
    if (handle) *handle = -1;
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int flags = (mode & 3) == 0 ? O_RDONLY : (mode & 3) == 1 ? O_WRONLY : O_RDWR;
    int fd = r.open_file(uint64_t(flags));
    if (fd < 0) return code_of(errno, kRpcNotFound);
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return kRpcAccessDenied;
    }
    return new_handle(fd, remoteId, handle);
}

RPC_EXPORT int32_t RPCIFScreate(uint32_t, const char* server, uint32_t* remoteId, const char* path,
                                int32_t* handle, uint32_t* flag) {
    RPC_ENTER("RPCIFScreate", flag);
    if (handle) *handle = -1;
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int fd = r.open_file(O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd < 0) {
        int e = errno;
        if (e == EEXIST) return kRpcExists;
        if (e == EXDEV || e == ELOOP || e == ENAMETOOLONG) return kRpcBadPath;
        return kRpcCannotCreate;
    }
    return new_handle(fd, remoteId, handle);
}

RPC_EXPORT int32_t RPCIFSread(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t count,
                              void* buffer, uint32_t* bytesRead, uint32_t* flag) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (flag) *flag = 0;
    if (bytesRead) *bytesRead = 0;
    g_counters["RPCIFSread"].sizes.push_back(count);
    int32_t inj = 0;
    if (injected("RPCIFSread", flag, &inj)) return inj;
    Handle* h = handle_of(remoteId, handle);
    if (!h) return kRpcBadHandle;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = read(h->fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kRpcIoError;
        }
        if (n == 0) break;
        done += uint32_t(n);
    }
    if (bytesRead) *bytesRead = done;
    g_counters["RPCIFSread"].bytes += done;
    return 0;
}

RPC_EXPORT int32_t RPCIFSwrite(uint32_t, uint32_t* remoteId, int32_t handle, const void* buffer,
                               uint32_t count, uint32_t* flag) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (flag) *flag = 0;
    g_counters["RPCIFSwrite"].sizes.push_back(count);
    int32_t inj = 0;
    if (injected("RPCIFSwrite", flag, &inj)) return inj;
    Handle* h = handle_of(remoteId, handle);
    if (!h) return kRpcBadHandle;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(h->fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kRpcIoError;
        }
        done += uint32_t(n);
    }
    g_counters["RPCIFSwrite"].bytes += done;
    return 0;
}

RPC_EXPORT int32_t RPCIFSclose(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t* flag) {
    RPC_ENTER("RPCIFSclose", flag);
    Handle* h = handle_of(remoteId, handle);
    if (!h) return kRpcBadHandle;
    int r = close(h->fd);
    h->fd = -1;
    h->id = 0;
    return r == 0 ? 0 : kRpcIoError;
}

RPC_EXPORT int32_t RPCIFSsetpos(uint32_t, uint32_t* remoteId, int32_t handle, int32_t offset,
                                uint32_t origin, uint32_t* flag) {
    RPC_ENTER("RPCIFSsetpos", flag);
    Handle* h = handle_of(remoteId, handle);
    if (!h) return kRpcBadHandle;
    off_t base = 0;
    if (origin == 1) base = lseek(h->fd, 0, SEEK_CUR);
    else if (origin == 2) base = lseek(h->fd, 0, SEEK_END);
    else if (origin != 0) return kRpcBadPath;
    if (base < 0) return kRpcIoError;
    off_t target = base + offset;
    if (target < 0) target = 0;
    return lseek(h->fd, target, SEEK_SET) < 0 ? kRpcIoError : 0;
}

RPC_EXPORT int32_t RPCIFScopy(uint32_t, const char* server, const char* source,
                              const char* destination, uint32_t, uint32_t* flag) {
    RPC_ENTER("RPCIFScopy", flag);
    Resolved from(server, source);
    Resolved to(server, destination);
    if (!from.ok() || !to.ok()) return kRpcBadPath;
    int in = from.open_file(O_RDONLY);
    if (in < 0) return code_of(errno, kRpcNotFound);
    struct stat st {};
    fstat(in, &st);
    int out = to.open_file(O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, st.st_mode & 0777);
    if (out < 0) {
        int e = errno;
        close(in);
        return e == EEXIST ? kRpcExists : code_of(e, kRpcCannotCreate);
    }
    bool ok = copy_fd(in, out);
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) {
        int pfd = to.parent_fd();
        if (pfd >= 0) unlinkat(pfd, to.name(), 0);
        return kRpcIoError;
    }
    return 0;
}

RPC_EXPORT int32_t RPCIFSremove(uint32_t, const char* server, const char* path, uint32_t* flag) {
    RPC_ENTER("RPCIFSremove", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int pfd = r.parent_fd();
    if (pfd < 0) return code_of(errno, kRpcNotFound);
    return unlinkat(pfd, r.name(), 0) == 0 ? 0 : code_of(errno, kRpcIoError);
}

RPC_EXPORT int32_t RPCIFSrename(uint32_t, const char* server, const char* source,
                                const char* destination, uint32_t* flag) {
    RPC_ENTER("RPCIFSrename", flag);
    Resolved from(server, source);
    Resolved to(server, destination);
    if (!from.ok() || !to.ok()) return kRpcBadPath;
    int fromDir = from.parent_fd();
    int toDir = to.parent_fd();
    if (fromDir < 0 || toDir < 0) return code_of(errno, kRpcNotFound);
    if (renameat2(fromDir, from.name(), toDir, to.name(), RENAME_NOREPLACE) == 0) return 0;
    return code_of(errno, kRpcIoError);
}

// ---- entry points bound but not called by the library ----

RPC_EXPORT int32_t RPCIFSgetpos(uint32_t, uint32_t* remoteId, int32_t handle, uint32_t* position,
                                uint32_t* flag) {
    RPC_ENTER("RPCIFSgetpos", flag);
    Handle* h = handle_of(remoteId, handle);
    if (!h) return kRpcBadHandle;
    off_t p = lseek(h->fd, 0, SEEK_CUR);
    if (p < 0) return kRpcIoError;
    if (position) *position = uint32_t(p);
    return 0;
}

RPC_EXPORT int32_t RPCIFStmpnam(uint32_t, const char*, char* name260, uint32_t* flag) {
    RPC_ENTER("RPCIFStmpnam", flag);
    if (!name260) return kRpcBadPath;
    std::snprintf(name260, 260, "rpc%05u.tmp", ++g_uniqueSeq % 100000u);
    return 0;
}

RPC_EXPORT int32_t RPCIDSopendir(uint32_t, const char* server, const char* path,
                                 int32_t* dirHandle, uint32_t* flag) {
    RPC_ENTER("RPCIDSopendir", flag);
    if (dirHandle) *dirHandle = -1;
    int fd;
    if (!path || !*path || std::strcmp(path, "/") == 0 || std::strcmp(path, "\\") == 0) {
        fd = server ? open(server, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    } else {
        Resolved r(server, path);
        if (!r.ok()) return kRpcBadPath;
        fd = r.open_file(O_RDONLY | O_DIRECTORY);
    }
    if (fd < 0) return code_of(errno, kRpcNotFound);
    for (int i = 0; i < kMaxDirs; ++i) {
        if (!g_dirs[i].dir) {
            g_dirs[i].dir = fdopendir(fd);
            if (!g_dirs[i].dir) {
                close(fd);
                return kRpcIoError;
            }
            if (dirHandle) *dirHandle = i + 1;
            return 0;
        }
    }
    close(fd);
    return kRpcNoHandles;
}

RPC_EXPORT int32_t RPCIDSreaddir(uint32_t, int32_t dirHandle, char* name260, uint32_t* flag) {
    RPC_ENTER("RPCIDSreaddir", flag);
    if (dirHandle < 1 || dirHandle > kMaxDirs || !g_dirs[dirHandle - 1].dir || !name260)
        return kRpcBadHandle;
    errno = 0;
    struct dirent* d = readdir(g_dirs[dirHandle - 1].dir);
    if (!d) return errno ? kRpcIoError : kRpcNotFound;
    std::snprintf(name260, 260, "%s", d->d_name);
    return 0;
}

RPC_EXPORT int32_t RPCIDSclosedir(uint32_t, int32_t dirHandle, uint32_t* flag) {
    RPC_ENTER("RPCIDSclosedir", flag);
    if (dirHandle < 1 || dirHandle > kMaxDirs || !g_dirs[dirHandle - 1].dir) return kRpcBadHandle;
    closedir(g_dirs[dirHandle - 1].dir);
    g_dirs[dirHandle - 1].dir = nullptr;
    return 0;
}

RPC_EXPORT int32_t RPCIDSmkdir(uint32_t, const char* server, const char* path, uint32_t* flag) {
    RPC_ENTER("RPCIDSmkdir", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int pfd = r.parent_fd();
    if (pfd < 0) return code_of(errno, kRpcNotFound);
    return mkdirat(pfd, r.name(), 0777) == 0 ? 0 : code_of(errno, kRpcCannotCreate);
}

RPC_EXPORT int32_t RPCIDSrmdir(uint32_t, const char* server, const char* path, uint32_t* flag) {
    RPC_ENTER("RPCIDSrmdir", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int pfd = r.parent_fd();
    if (pfd < 0) return code_of(errno, kRpcNotFound);
    return unlinkat(pfd, r.name(), AT_REMOVEDIR) == 0 ? 0 : code_of(errno, kRpcIoError);
}

RPC_EXPORT int32_t RPCIDSlistvolumes(uint32_t, char* buffer, uint32_t size, uint32_t* count,
                                     uint32_t* flag) {
    RPC_ENTER("RPCIDSlistvolumes", flag);
    // Any directory serves as a volume; there is no fixed list.
    if (buffer && size) buffer[0] = 0;
    if (count) *count = 0;
    return 0;
}

RPC_EXPORT int32_t RPCIDStestfornetwork(uint32_t, uint32_t* flag) {
    RPC_ENTER("RPCIDStestfornetwork", flag);
    return 0;
}

RPC_EXPORT int32_t RPCIFSGetTimeStamp(uint32_t, const char* server, const char* path,
                                      uint32_t* seconds, uint32_t* flag) {
    RPC_ENTER("RPCIFSGetTimeStamp", flag);
    Resolved r(server, path);
    if (!r.ok()) return kRpcBadPath;
    int fd = r.open_file(O_PATH);
    if (fd < 0) return code_of(errno, kRpcNotFound);
    struct stat st {};
    int s = fstat(fd, &st);
    close(fd);
    if (s != 0) return kRpcIoError;
    if (seconds) *seconds = uint32_t(st.st_mtim.tv_sec);
    return 0;
}

RPC_EXPORT int32_t RPCIFSGetVolSpace(uint32_t, const char* server, uint32_t* freeKb,
                                     uint32_t* totalKb, uint32_t* flag) {
    RPC_ENTER("RPCIFSGetVolSpace", flag);
    struct statvfs vs {};
    if (!server || statvfs(server, &vs) != 0) return kRpcBadPath;
    uint64_t fr = uint64_t(vs.f_bavail) * vs.f_frsize / 1024;
    uint64_t tot = uint64_t(vs.f_blocks) * vs.f_frsize / 1024;
    if (freeKb) *freeKb = fr > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(fr);
    if (totalKb) *totalKb = tot > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(tot);
    return 0;
}

RPC_EXPORT int32_t RPCIFSGetUniqueName(uint32_t, const char* server, const char* dir,
                                       char* name260, uint32_t* flag) {
    RPC_ENTER("RPCIFSGetUniqueName", flag);
    if (!name260) return kRpcBadPath;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[260];
        std::snprintf(name, sizeof name, "%s%sU%07u", dir ? dir : "",
                      dir && *dir && dir[std::strlen(dir) - 1] != '/' ? "/" : "",
                      ++g_uniqueSeq % 10000000u);
        Resolved r(server, name);
        if (!r.ok()) return kRpcBadPath;
        int fd = r.open_file(O_PATH);
        if (fd >= 0) {
            close(fd);
            continue;
        }
        std::snprintf(name260, 260, "%s", name);
        return 0;
    }
    return kRpcExists;
}

RPC_EXPORT int32_t RPCIFSstatvolume(uint32_t, const char* server, uint32_t* blockSize,
                                    uint32_t* freeBlocks, uint32_t* totalBlocks, uint32_t* flag) {
    RPC_ENTER("RPCIFSstatvolume", flag);
    struct statvfs vs {};
    if (!server || statvfs(server, &vs) != 0) return kRpcBadPath;
    if (blockSize) *blockSize = uint32_t(vs.f_frsize);
    if (freeBlocks) *freeBlocks = vs.f_bavail > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(vs.f_bavail);
    if (totalBlocks) *totalBlocks = vs.f_blocks > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(vs.f_blocks);
    return 0;
}

// ---- test controls ----

RPC_EXPORT void RPCSTUBreset() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_counters.clear();
}

RPC_EXPORT uint32_t RPCSTUBcount(const char* entryPoint) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_counters.find(entryPoint ? entryPoint : "");
    return it == g_counters.end() ? 0 : it->second.calls;
}

RPC_EXPORT uint64_t RPCSTUBbytes(const char* entryPoint) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_counters.find(entryPoint ? entryPoint : "");
    return it == g_counters.end() ? 0 : it->second.bytes;
}

RPC_EXPORT uint32_t RPCSTUBsize(const char* entryPoint, uint32_t i) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_counters.find(entryPoint ? entryPoint : "");
    if (it == g_counters.end() || i >= it->second.sizes.size()) return 0xFFFFFFFFu;
    return it->second.sizes[i];
}

RPC_EXPORT void RPCSTUBfail(const char* entryPoint, uint32_t serverCode, uint32_t transportFlag,
                            uint32_t afterCalls) {
    std::lock_guard<std::mutex> guard(g_lock);
    Fault f;
    f.remaining = afterCalls;
    f.code = int32_t(serverCode);
    f.transport = transportFlag != 0;
    g_counters[entryPoint ? entryPoint : ""].faults.push_back(f);
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
