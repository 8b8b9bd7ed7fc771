// Replacing one file by another, and the replaced-file cache.
//
// A local target is replaced crash-safely: its path never goes missing, not
// even for an instant. The old file is kept under a backup name by a hard
// link, the source's data is made durable, and the source is renamed over
// the target in one atomic step (a source on another file system is first
// copied beside the target). A remote target follows the server's steps: a
// source from elsewhere is first copied to a unique name beside the target
// (so a copy that fails leaves the target's name alone), then the target is
// moved aside, the new file moved in, the target restored when that fails,
// and the backup deleted. A restore that fails too is reported as
// TAV_E_TARGET_ASIDE: the target's content then lies only under the backup
// name. A remote target that this process holds open for writing is refused:
// the replace would silently discard what that descriptor writes.
//
// When a local file replaces a remote one, the library keeps a copy of its
// own in the temporary directory, so that later read-only opens of the
// remote file can be served from it while the remote file is unchanged. The
// copy is served only while it is exactly as it was made (device, inode,
// size, modification time), and only that copy is ever deleted: never the
// caller's file.
//
// Threads: the cache is one entry for the process, behind a mutex that is
// held only to read or swap the entry, never across a copy, a status call
// or an open. Each entry the cache takes gets a number of its own; a thread
// that found an entry stale drops it only when the cache still holds that
// very entry, and a copy is deleted only by the thread that took it out of
// the cache.
#include <cerrno>
#include <cstring>
#include <mutex>

#include "fileio/fio_internal.h"
#include "fileio/keep_errno.h"
#include "platform/plat_file.h"

namespace {

struct ReplacedCache {
    char server[TAV_SERVER_SIZE];
    char remotePath[TAV_PATH_SIZE];
    char localPath[TAV_PATH_SIZE];  // the library's copy, in the temporary directory
    uint32_t stat[3];               // the remote file's values when it was replaced
    PlatFileStamp stamp;            // the copy as the library made it
    uint64_t number;                // which entry this is (0: none yet)
};

std::mutex g_cacheMutex;
ReplacedCache g_cache;
uint64_t g_cacheNumber = 0;

void copy_str(char* dst, const char* src, size_t size) {
    size_t n = std::strlen(src);
    if (n >= size) n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// Deletes the library's copy while its name still holds exactly the file
// the library made. Anything else there (a file put in its place, which may
// even have got the freed inode number) is not the library's to delete.
void cache_delete_copy(const ReplacedCache& c) {
    if (!c.localPath[0]) return;
    KeepErrno keep;
    PlatFileStamp now{};
    if (plat_stamp_path(c.localPath, &now) == 0 && now == c.stamp) plat_unlink(c.localPath);
}

ReplacedCache cache_now() {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    return g_cache;
}

// Puts next in the cache (as a new entry) when the cache still holds the
// entry numbered `expected` (any entry when it is 0), and deletes the copy
// of the entry it replaces unless next keeps that copy. False when the
// cache had moved on.
bool cache_swap(const ReplacedCache& next, uint64_t expected = 0) {
    ReplacedCache old;
    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        if (expected != 0 && g_cache.number != expected) return false;
        old = g_cache;
        g_cache = next;
        g_cache.number = next.remotePath[0] ? ++g_cacheNumber : 0;
    }
    if (std::strcmp(old.localPath, next.localPath) != 0 || !(old.stamp == next.stamp)) cache_delete_copy(old);
    return true;
}

// Empties the cache (when it still holds the entry numbered `expected`)
// and deletes its copy.
void cache_drop(uint64_t expected = 0) { cache_swap(ReplacedCache{}, expected); }

// Makes a new file under a fresh name in dir with make(name); false when no
// name worked.
template <typename Make>
bool make_unique_in(const char* dir, char* name, Make make) {
    for (int attempt = 0; attempt < 99; ++attempt) {
        if (!fio_next_star_name(nullptr, dir, name)) {
            if (errno == TAV_EINVAL) return false;
            continue;
        }
        if (make(name)) return true;
        if (errno != TAV_EEXIST) return false;
    }
    return false;
}

// The same beside target, in its directory.
template <typename Make>
bool beside(const char* target, char* name, Make make) {
    char dir[TAV_PATH_SIZE];
    fio_star_dir(target, dir);
    return make_unique_in(dir, name, make);
}

// Copies source to a new owner-only file in the temporary directory, the
// copy's name and stamp into *c.
bool cache_take_copy(const char* source, ReplacedCache* c) {
    char dir[TAV_PATH_SIZE];
    char name[TAV_PATH_SIZE];
    if (plat_temp_path(dir, sizeof dir) == 0) return false;
    if (!make_unique_in(dir, name,
                        [&](const char* n) { return plat_copy_file_private(source, n) == 0; }))
        return false;
    // An absolute name stays right when the process changes its directory.
    if (plat_full_path(name, c->localPath, sizeof c->localPath) == 0)
        copy_str(c->localPath, name, sizeof c->localPath);
    if (plat_stamp_path(c->localPath, &c->stamp) != 0) {
        plat_unlink(c->localPath);
        c->localPath[0] = 0;
        return false;
    }
    return true;
}

// Opens the cached copy read-only when it is still the file the library
// made; its descriptor, or -1.
int cache_open_copy(const ReplacedCache& c) {
    FileLocation at{};
    int fd = fio_open(&at, c.localPath, kFioModeRead);
    if (fd < 0) return -1;
    PlatFileStamp now{};
    if (plat_stamp_fd(at.result, &now) == 0 && now == c.stamp) return fd;
    fio_close(fd);
    return -1;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) {
            int e = errno;
            plat_close(fd_);
            errno = e;
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

// Local source over local target; the source is gone afterwards.
int local_replace(const char* target, const char* source) {
    // Hold the target's writer lock: a file another writer works on is not
    // replaced, and no writer can start on it until the replace is done.
    int lockFd = plat_lock_target(target);
    if (lockFd < 0) return -1;
    FdCloser lock(lockFd);

    uint64_t sdev = 0, sino = 0, tdev = 0, tino = 0;
    if (plat_file_id(source, false, &sdev, &sino) != 0) return -1;
    if (plat_file_id(target, true, &tdev, &tino) != 0) return -1;

    // The backup keeps the old file reachable until the new one is in place.
    char backup[TAV_PATH_SIZE];
    bool linked = beside(target, backup, [&](const char* name) {
        bool unsupported = false;
        if (plat_link(target, name, &unsupported) == 0) return true;
        if (unsupported) return plat_copy_file(target, name) == 0;
        return false;
    });
    if (!linked) return -1;

    // A source on another file system is first copied beside the target, so
    // the final step is a rename inside one directory's file system.
    char work[TAV_PATH_SIZE];
    const char* from = source;
    bool copied = false;
    if (sdev != tdev) {
        if (!beside(target, work,
                    [&](const char* name) { return plat_copy_file_private(source, name) == 0; })) {
            int e = errno;
            plat_unlink(backup);
            errno = e;
            return -1;
        }
        from = work;
        copied = true;
    }

    // The new file keeps the document's permission bits; a source that
    // stays where it is after a failure gets its own back.
    uint32_t tmode = 0, fmode = 0;
    bool modeChanged = plat_mode_bits(target, &tmode) == 0 && plat_mode_bits(from, &fmode) == 0 &&
                       tmode != fmode && plat_set_mode_bits(from, tmode) == 0;

    if ((!copied && plat_fsync_path(from) != 0) || plat_rename_replace(from, target) != 0) {
        int e = errno;
        if (copied)
            plat_unlink(work);
        else if (modeChanged)
            plat_set_mode_bits(from, fmode);
        plat_unlink(backup);
        errno = e;
        return -1;
    }
    // The new content is in place and complete. A directory that cannot be
    // synced leaves only the rename's durability open (after a crash the
    // path holds the old or the new file, never a mix), so the replace
    // stands and reports success.
    plat_sync_parent_dir(target);
    plat_unlink(backup);
    if (copied) plat_unlink(source);
    return 0;
}

// A remote source over a local target: copy it beside the target, put the
// copy in place, then remove the remote file.
int remote_to_local_replace(const char* target, FileLocation* source, const char* sourcePath) {
    if (!plat_exists(target)) {
        errno = TAV_ENOENT;
        return -1;
    }
    char work[TAV_PATH_SIZE];
    if (!fio_star_beside(target, work)) return -1;
    if (fio_copy(source, sourcePath, nullptr, work, 0) != 0) return -1;
    if (local_replace(target, work) != 0) {
        int e = errno;
        plat_unlink(work);
        errno = e;
        return -1;
    }
    return fio_remove(source, sourcePath);
}

// Moves `from`, a file on the target's server, into the target's place:
// the target goes aside first and comes back when the move fails.
int swap_in(FileLocation* target, const char* targetPath, FileLocation* fromLoc, const char* from,
            int removeSource) {
    char backup[TAV_PATH_SIZE];
    if (!fio_star_beside(targetPath, backup)) return -1;
    if (fio_rename(target, targetPath, target, backup, 1) != 0) return -1;
    char dest[TAV_PATH_SIZE];
    copy_str(dest, targetPath, sizeof dest);
    if (fio_rename(fromLoc, from, target, dest, removeSource) != 0) {
        int e = errno;
        copy_str(dest, targetPath, sizeof dest);
        // When the target cannot go back, its content is only under the
        // backup name: the caller must be told, not handed the first error.
        errno = fio_rename(target, backup, target, dest, 1) == 0 ? e : TAV_E_TARGET_ASIDE;
        return -1;
    }
    fio_remove(target, backup);
    return 0;
}

int remote_target_replace(FileLocation* target, const char* targetPath, FileLocation* source,
                          const char* sourcePath, bool holdCopy) {
    if (fio_remote_writer_open(target, targetPath)) {
        errno = TAV_EACCES;
        return -1;
    }
    if (fio_loc_remote(source) && fio_same_server(source, target))
        return swap_in(target, targetPath, source, sourcePath, holdCopy ? 0 : 1);
    // A source from elsewhere reaches the server under a name of its own
    // first: a copy that fails half-way never stands at the target's name.
    char incoming[TAV_PATH_SIZE];
    if (!fio_star_beside(targetPath, incoming)) return -1;
    if (fio_copy(source, sourcePath, target, incoming, 0) != 0) return -1;
    if (swap_in(target, targetPath, target, incoming, 1) != 0) {
        KeepErrno keep;
        fio_remove(target, incoming);
        return -1;
    }
    // The target is replaced: a source that cannot be removed stays, and
    // the replace stands.
    if (!holdCopy) {
        KeepErrno keep;
        fio_remove(source, sourcePath);
    }
    return 0;
}

// After a replace that holds a local copy: the cache names the target. A
// local source gives a new copy; a remote source is the cached file itself
// (the entry `cached` that the replace was decided on), whose copy now
// stands for the target, unless the cache has moved on meanwhile.
void remember(FileLocation* target, const char* targetPath, FileLocation* source,
              const char* sourcePath, const ReplacedCache& cached) {
    KeepErrno keep;
    ReplacedCache next = cached;
    const bool fresh = !fio_loc_remote(source);
    if (fresh) {
        next = ReplacedCache{};
        if (!cache_take_copy(sourcePath, &next)) {
            cache_drop();
            return;
        }
        copy_str(next.server, target->server, sizeof next.server);
    }
    copy_str(next.remotePath, targetPath, sizeof next.remotePath);
    FileLocation at{};
    at.isRemote = 1;
    at.connection = target->connection;
    copy_str(at.server, next.server, sizeof at.server);
    if (fio_rpc_stat(&at, next.remotePath, next.stat) != 0) {
        if (fresh) {
            cache_delete_copy(next);
            cache_drop();
        } else {
            cache_drop(cached.number);
        }
        return;
    }
    // A copy that lost its place (the cache moved on) goes at once.
    if (!cache_swap(next, fresh ? 0 : cached.number) && fresh) cache_delete_copy(next);
}

}  // namespace

int fio_cache_open(FileLocation* loc, const char* path) {
    const ReplacedCache c = cache_now();
    if (!c.remotePath[0] || std::strcmp(path, c.remotePath) != 0 || std::strcmp(loc->server, c.server) != 0)
        return 0;
    uint32_t now[3];
    if (fio_rpc_stat(loc, path, now) == 0 && std::memcmp(now, c.stat, sizeof now) == 0) {
        int fd = cache_open_copy(c);
        if (fd > 0) return fd;
    }
    cache_drop(c.number);
    return 0;
}

int fio_replace(FileLocation* target, const char* targetPath, FileLocation* source,
                const char* sourcePath) {
    if (!fio_check_args(target, targetPath) || !fio_check_args(source, sourcePath)) return -1;
    bool targetRemote = fio_loc_remote(target);
    bool sourceRemote = fio_loc_remote(source);

    if (!targetRemote) {
        if (sourceRemote) return remote_to_local_replace(targetPath, source, sourcePath);
        return local_replace(targetPath, sourcePath);
    }

    const ReplacedCache cached = cache_now();
    bool holdCopy = (target->isRemote == 1 && !sourceRemote) ||
                    (sourceRemote && cached.remotePath[0] && std::strcmp(source->server, cached.server) == 0 &&
                     std::strcmp(sourcePath, cached.remotePath) == 0);
    if (remote_target_replace(target, targetPath, source, sourcePath, holdCopy) != 0) return -1;
    if (holdCopy) remember(target, targetPath, source, sourcePath, cached);
    return 0;
}

void fio_drop_cached_copy() { cache_drop(); }
