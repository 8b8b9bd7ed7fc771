// POSIX file layer. Writers hold an exclusive open-file-description lock on
// the whole file, so two writers never work on one file at once, in one
// process or in two. Results are the library's codes in errno.
#include "platform/plat_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/plat_fault.h"
#include "qvtav.h"

namespace {

// The system's ICC profile directory, and the longest profile name taken.
constexpr char kColorDirectory[] = "/usr/share/color/icc";
constexpr size_t kColorNameMax = 260;

constexpr size_t kCopyChunk = 1 << 20;

int fail(int hostErrno) {
    errno = plat_errno_code(hostErrno);
    return -1;
}

// The host errno of an injected failure.
int injected_errno(PlatFailure failure) { return failure == PlatFailure::Error ? EIO : ENOSPC; }

// Writes all count bytes at the file position; count, or -1 with the
// host's errno.
int32_t write_all(int fd, const void* buf, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, static_cast<const char*>(buf) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        done += uint32_t(n);
    }
    return int32_t(count);
}

// Takes a lock on the whole file without waiting: the exclusive lock of a
// writer (F_WRLCK) or the shared lock of a reader (F_RDLCK).
bool lock_file(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) errno = EACCES;
        return false;
    }
}

bool lock_writer(int fd) { return lock_file(fd, F_WRLCK); }

// The directory part of path ("." when there is none), into buf.
bool parent_of(const char* path, char* buf, size_t size) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        if (size < 2) return false;
        std::strcpy(buf, ".");
        return true;
    }
    size_t n = slash == path ? 1 : size_t(slash - path);
    if (n + 1 > size) return false;
    std::memcpy(buf, path, n);
    buf[n] = 0;
    return true;
}

// fsync, retried when interrupted; false with the host's errno.
bool sync_fd(int fd) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Sync, &failure)) {
        errno = injected_errno(failure);
        return false;
    }
    while (fsync(fd) != 0)
        if (errno != EINTR) return false;
    plat_step_done(PlatStep::Sync);
    return true;
}

// Makes a new file that must not exist yet (no link followed); the
// descriptor, or -1 with the host's errno.
int create_new(const char* path, int access, mode_t mode) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Create, &failure)) {
        errno = injected_errno(failure);
        return -1;
    }
    int fd;
    do fd = open(path, access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) plat_step_done(PlatStep::Create);
    return fd;
}

// Copies all bytes of in to out (both open); false with the host's errno.
bool copy_bytes(int in, int out) {
    // copy_file_range moves the data inside the kernel; it is not available
    // everywhere (or between every pair of file systems), so a plain loop
    // follows it.
    PlatFailure failure;
    for (;;) {
        if (plat_fault_hit(PlatStep::Write, &failure)) {
            if (failure == PlatFailure::Short)
                (void)copy_file_range(in, nullptr, out, nullptr, kCopyChunk / 2, 0);
            errno = injected_errno(failure);
            return false;
        }
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
        if (n == 0) return true;
        if (n > 0) {
            plat_step_done(PlatStep::Write, uint64_t(n));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
            errno == EBADF)
            break;
        return false;
    }
    // Fall back from wherever the kernel copy stopped: both offsets moved
    // together.
    static thread_local char buf[64 * 1024];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (plat_fault_hit(PlatStep::Write, &failure)) {
            if (failure == PlatFailure::Short) (void)write_all(out, buf, uint32_t(n / 2));
            errno = injected_errno(failure);
            return false;
        }
        if (write_all(out, buf, uint32_t(n)) < 0) return false;
        plat_step_done(PlatStep::Write, uint64_t(n));
    }
}

int copy_file(const char* from, const char* to, bool privateCopy) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(errno);
    struct stat st {};
    if (fstat(in, &st) != 0) {
        int e = errno;
        close(in);
        return fail(e);
    }
    if (S_ISDIR(st.st_mode)) {
        close(in);
        return fail(EISDIR);
    }
    mode_t mode = privateCopy ? 0600 : (st.st_mode & 07777);
    int out = create_new(to, O_WRONLY, mode);
    if (out < 0) {
        int e = errno;
        close(in);
        return fail(e);
    }
    bool ok = copy_bytes(in, out);
    int e = errno;
    if (ok && privateCopy && !sync_fd(out)) {
        ok = false;
        e = errno;
    }
    if (close(out) != 0 && ok) {
        ok = false;
        e = errno;
    }
    close(in);
    if (!ok) {
        unlink(to);
        return fail(e);
    }
    return 0;
}

int rename_noreplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    int e = errno;
    if (e == EINVAL || e == ENOSYS) {
        // The file system does not know RENAME_NOREPLACE: a hard link is
        // refused on an existing destination just the same.
        if (link(from, to) == 0) {
            if (unlink(from) != 0) {
                int e2 = errno;
                unlink(to);
                return fail(e2);
            }
            return 0;
        }
        e = errno;
        if (e == EPERM || e == EOPNOTSUPP || e == EMLINK) {
            // No hard links either (or a directory): check, then rename.
            struct stat st {};
            if (lstat(to, &st) == 0) return fail(EEXIST);
            if (rename(from, to) == 0) return 0;
            e = errno;
        }
    }
    if (e == EXDEV) {
        // Another file system: copy, then delete the source, as a move
        // between volumes does.
        struct stat st {};
        if (lstat(from, &st) != 0) return fail(errno);
        if (!S_ISREG(st.st_mode)) return fail(EXDEV);
        if (copy_file(from, to, false) != 0) return -1;
        if (unlink(from) != 0) {
            int e2 = errno;
            unlink(to);
            return fail(e2);
        }
        return 0;
    }
    return fail(e);
}

}  // namespace

int plat_errno_code(int e) {
    switch (e) {
    case 0: return 0;
    case ENOENT:
    case ENOTDIR: return TAV_ENOENT;
    case EPERM:
    case EACCES:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case ELOOP:
    case EAGAIN: return TAV_EACCES;
    case EEXIST:
    case ENOTEMPTY: return TAV_EEXIST;
    case ENOMEM: return TAV_ENOMEM;
    case EBADF: return TAV_EBADF;
    case EFAULT: return TAV_EFAULT;
    case EINVAL:
    case ENAMETOOLONG:
    case EOVERFLOW: return TAV_EINVAL;
    case EMFILE:
    case ENFILE: return TAV_ENFILE;
    default: return TAV_EIO;
    }
}

int plat_open(const char* path, uint32_t mode) {
    int flags;
    switch (mode & kPlatAccessMask) {
    case kPlatRead: flags = O_RDONLY; break;
    case kPlatWrite: flags = O_WRONLY; break;
    case kPlatReadWrite: flags = O_RDWR; break;
    default: errno = TAV_EINVAL; return -1;
    }
    // Only regular files are image files; O_NONBLOCK keeps a FIFO or a
    // device at the path from stalling the open.
    int fd;
    do fd = open(path, flags | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = fstat(fd, &st) != 0 ? errno : EACCES;
        close(fd);
        return fail(e);
    }
    if (flags != O_RDONLY && !lock_writer(fd)) {
        int e = errno;
        close(fd);
        return fail(e);
    }
    return fd;
}

int plat_creat(const char* path, uint32_t attribute) {
    mode_t mode = (attribute & kPlatAttrPrivate) ? 0600 : 0666;
    if (attribute & kPlatAttrReadOnly) mode &= ~mode_t(0222);
    int fd = create_new(path, O_RDWR, mode);
    if (fd < 0) return fail(errno);
    if (!lock_writer(fd)) {
        // Someone opened the new file for writing between create and lock.
        int e = errno;
        close(fd);
        return fail(e);
    }
    return fd;
}

int plat_open_shared(const char* path, bool write) {
    int fd = plat_open(path, write ? kPlatReadWrite : kPlatRead);
    if (fd < 0 || write) return fd;
    if (!lock_file(fd, F_RDLCK)) {
        int e = errno;
        close(fd);
        return fail(e);
    }
    return fd;
}

int plat_create_replace(const char* path) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Create, &failure)) return fail(injected_errno(failure));
    int fd;
    do fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !lock_writer(fd)) {
        int e = S_ISREG(st.st_mode) ? errno : EACCES;
        close(fd);
        return fail(e);
    }
    plat_step_done(PlatStep::Create);
    if (plat_truncate(fd, 0) < 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int plat_close(int fd) {
    // Linux releases the descriptor even when close reports an error; it
    // must not be retried.
    if (close(fd) != 0 && errno != EINTR) return fail(errno);
    return 0;
}

namespace {

// Reads until count bytes or the end of the file: readAt(into, n, done)
// reads at most n bytes of the part that starts `done` bytes in.
template <typename ReadAt>
int32_t read_all(void* buf, uint32_t count, ReadAt readAt) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = readAt(static_cast<char*>(buf) + done, count - done, done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) break;
        done += uint32_t(n);
    }
    return int32_t(done);
}

}  // namespace

int32_t plat_read(int fd, void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) return fail(EINVAL);
    return read_all(buf, count, [fd](char* into, uint32_t n, uint32_t) { return read(fd, into, n); });
}

int32_t plat_pread(int fd, void* buf, uint32_t count, int64_t offset) {
    if (count > uint32_t(INT32_MAX) || offset < 0) return fail(EINVAL);
    return read_all(buf, count, [fd, offset](char* into, uint32_t n, uint32_t done) {
        return pread(fd, into, n, offset + done);
    });
}

int64_t plat_copy_range(int src, int64_t srcOffset, int dst, int64_t dstOffset, uint32_t n) {
    loff_t in = srcOffset, out = dstOffset;
    uint64_t left = n;
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Write, &failure)) {
        if (failure == PlatFailure::Short) (void)copy_file_range(src, &in, dst, &out, n / 2, 0);
        return fail(injected_errno(failure));
    }
    while (left > 0) {
        ssize_t r = copy_file_range(src, &in, dst, &out, size_t(left), 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            // Nothing copied yet and the kernel cannot copy between these
            // files (another file system, an old kernel): let the caller
            // copy through a buffer.
            if (left == n && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                              errno == EOPNOTSUPP || errno == EBADF))
                return -2;
            errno = plat_errno_code(errno);
            return -1;
        }
        if (r == 0) break;  // the source ends here
        left -= uint64_t(r);
    }
    plat_step_done(PlatStep::Write, n - left);
    return int64_t(n - left);
}

int32_t plat_write(int fd, const void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) return fail(EINVAL);
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Write, &failure)) {
        if (failure == PlatFailure::Short) (void)write_all(fd, buf, count / 2);
        return fail(injected_errno(failure));
    }
    if (write_all(fd, buf, count) < 0) return fail(errno);
    plat_step_done(PlatStep::Write, count);
    return int32_t(count);
}

int32_t plat_pwrite(int fd, const void* buf, uint32_t count, int64_t offset) {
    if (count > uint32_t(INT32_MAX) || offset < 0) return fail(EINVAL);
    PlatFailure failure;
    uint32_t todo = count;
    bool injected = plat_fault_hit(PlatStep::Write, &failure);
    if (injected) {
        if (failure != PlatFailure::Short) return fail(injected_errno(failure));
        todo = count / 2;
    }
    uint32_t done = 0;
    while (done < todo) {
        ssize_t n = pwrite(fd, static_cast<const char*>(buf) + done, todo - done, offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) return fail(EIO);
        done += uint32_t(n);
    }
    if (injected) return fail(injected_errno(failure));
    plat_step_done(PlatStep::Write, count);
    return int32_t(count);
}

int32_t plat_lseek(int fd, int32_t offset, int origin) {
    int whence;
    switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return fail(EINVAL);
    }
    if (whence != SEEK_SET) {
        // Check the target first, so a refused seek leaves the position.
        off_t base = whence == SEEK_CUR ? lseek(fd, 0, SEEK_CUR) : plat_file_size(fd);
        if (base < 0) return -1;
        int64_t target = int64_t(base) + offset;
        if (target < 0) return fail(EINVAL);
        if (target > INT32_MAX) {
            errno = TAV_E_SEEK;
            return -1;
        }
        offset = int32_t(target);
    }
    if (offset < 0) return fail(EINVAL);
    off_t r = lseek(fd, offset, SEEK_SET);
    if (r < 0) return fail(errno);
    return int32_t(r);
}

int64_t plat_file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(errno);
    if (st.st_size > off_t(UINT32_MAX)) return int64_t(UINT32_MAX);
    return int64_t(st.st_size);
}

int plat_truncate(int fd, uint32_t length) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Truncate, &failure)) return fail(injected_errno(failure));
    for (;;) {
        if (ftruncate(fd, off_t(length)) == 0) break;
        if (errno != EINTR) return fail(errno);
    }
    plat_step_done(PlatStep::Truncate);
    return 0;
}

int plat_fsync(int fd) { return sync_fd(fd) ? 0 : fail(errno); }

int plat_sync_parent_dir(const char* path) {
    char dir[PATH_MAX];
    if (!parent_of(path, dir, sizeof dir)) return fail(ENAMETOOLONG);
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    int r = plat_fsync(fd);
    // Some file systems refuse fsync on a directory; the entry is then as
    // durable as they make it.
    if (r != 0 && errno == TAV_EINVAL) r = 0;
    close(fd);
    return r;
}

int plat_open_color_profile(const char* name) {
    size_t len = strnlen(name, kColorNameMax);
    if (len == 0 || len >= kColorNameMax) return fail(EINVAL);
    char path[sizeof kColorDirectory + kColorNameMax];
    if (std::memchr(name, '/', len))
        std::snprintf(path, sizeof path, "%s", name);
    else
        std::snprintf(path, sizeof path, "%s/%s", kColorDirectory, name);
    return plat_open(path, kPlatRead);
}

int plat_attributes(const char* path, PlatAttributes* attr) {
    struct stat st {};
    if (stat(path, &st) != 0) return fail(errno);
    attr->directory = S_ISDIR(st.st_mode);
    attr->readOnly = access(path, W_OK) != 0;
    return 0;
}

int plat_exists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0 ? 1 : 0;
}

int plat_unlink(const char* path) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Unlink, &failure)) return fail(injected_errno(failure));
    if (unlink(path) != 0) return fail(errno);
    plat_step_done(PlatStep::Unlink);
    return 0;
}

int plat_rename_noreplace(const char* from, const char* to) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Rename, &failure)) return fail(injected_errno(failure));
    if (rename_noreplace(from, to) != 0) return -1;
    plat_step_done(PlatStep::Rename);
    return 0;
}

int plat_rename_replace(const char* from, const char* to) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Rename, &failure)) return fail(injected_errno(failure));
    if (rename(from, to) != 0) return fail(errno);
    plat_step_done(PlatStep::Rename);
    return 0;
}

int plat_link(const char* from, const char* to, bool* unsupported) {
    *unsupported = false;
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Rename, &failure)) return fail(injected_errno(failure));
    if (link(from, to) == 0) {
        plat_step_done(PlatStep::Rename);
        return 0;
    }
    int e = errno;
    if (e == EPERM || e == EOPNOTSUPP || e == EXDEV || e == EMLINK) *unsupported = true;
    return fail(e);
}

int plat_copy_file(const char* from, const char* to) { return copy_file(from, to, false); }

int plat_copy_file_private(const char* from, const char* to) { return copy_file(from, to, true); }

int plat_write_locked(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    int r = fcntl(fd, F_OFD_GETLK, &fl);
    int e = errno;
    close(fd);
    if (r != 0) return fail(e);
    return fl.l_type == F_UNLCK ? 0 : 1;
}

int plat_lock_target(const char* path) {
    int fd;
    do fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        if (!lock_writer(fd)) {
            int e = errno;
            close(fd);
            return fail(e);
        }
        return fd;
    }
    int e = errno;
    if (e != EACCES && e != EPERM && e != EROFS && e != EISDIR && e != ETXTBSY) return fail(e);
    int held = plat_write_locked(path);
    if (held < 0) return -1;
    if (held) return fail(EACCES);
    do fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(errno);
    return fd;
}

int plat_fsync_path(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    int r = plat_fsync(fd);
    int e = errno;
    close(fd);
    errno = e;
    return r;
}

uint32_t plat_full_path(const char* path, char* out, uint32_t size) {
    char* full = realpath(path, nullptr);
    if (!full) return 0;
    size_t n = std::strlen(full);
    uint32_t r = 0;
    if (n + 1 <= size) {
        std::memcpy(out, full, n + 1);
        r = uint32_t(n);
    }
    std::free(full);
    return r;
}

int plat_file_id(const char* path, bool parentOf, uint64_t* dev, uint64_t* ino) {
    char dir[PATH_MAX];
    const char* p = path;
    if (parentOf) {
        if (!parent_of(path, dir, sizeof dir)) return fail(ENAMETOOLONG);
        p = dir;
    }
    struct stat st {};
    if (stat(p, &st) != 0) return fail(errno);
    *dev = uint64_t(st.st_dev);
    *ino = uint64_t(st.st_ino);
    return 0;
}

namespace {

void stamp_of(const struct stat& st, PlatFileStamp* stamp) {
    stamp->dev = uint64_t(st.st_dev);
    stamp->ino = uint64_t(st.st_ino);
    stamp->size = int64_t(st.st_size);
    stamp->mtimeSec = int64_t(st.st_mtim.tv_sec);
    stamp->mtimeNsec = int64_t(st.st_mtim.tv_nsec);
}

}  // namespace

int plat_stamp_fd(int fd, PlatFileStamp* stamp) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(errno);
    stamp_of(st, stamp);
    return 0;
}

int plat_stamp_path(const char* path, PlatFileStamp* stamp) {
    struct stat st {};
    if (lstat(path, &st) != 0) return fail(errno);
    stamp_of(st, stamp);
    return 0;
}

int plat_mode_bits(const char* path, uint32_t* mode) {
    struct stat st {};
    if (stat(path, &st) != 0) return fail(errno);
    *mode = uint32_t(st.st_mode & 07777);
    return 0;
}

int plat_set_mode_bits(const char* path, uint32_t mode) {
    if (chmod(path, mode_t(mode & 07777)) != 0) return fail(errno);
    return 0;
}

uint32_t plat_temp_path(char* buf, uint32_t size) {
    const char* dir = "/tmp";
    const char* env = std::getenv("TMPDIR");
    struct stat st {};
    if (env && *env && stat(env, &st) == 0 && S_ISDIR(st.st_mode)) dir = env;
    size_t n = std::strlen(dir);
    bool slash = n > 0 && dir[n - 1] == '/';
    size_t total = n + (slash ? 0 : 1);
    if (total + 1 > size) return 0;
    std::memcpy(buf, dir, n);
    if (!slash) buf[n] = '/';
    buf[total] = 0;
    return uint32_t(total);
}

uint32_t plat_temp_file_name(const char* dir, const char* prefix, uint32_t n, char* out,
                             uint32_t size) {
    size_t d = std::strlen(dir);
    bool slash = d > 0 && (dir[d - 1] == '/' || dir[d - 1] == '\\');
    int r = std::snprintf(out, size, "%s%s%s%X.TMP", dir, slash ? "" : "/", prefix, n);
    if (r < 0 || uint32_t(r) >= size) {
        if (size) out[0] = 0;
        return 0;
    }
    return uint32_t(r);
}
