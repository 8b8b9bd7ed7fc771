// The directory back end: the server name is a directory of this machine,
// and remote paths are resolved inside it and never outside it ("..",
// absolute links and links that leave the directory are refused).
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "outside/rpc/rpc_backend.h"

namespace qvrpc {
namespace {

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

Outcome fail(int e, int32_t fallback) { return Outcome::server(code_of(e, fallback)); }

// A remote path resolved inside the server directory.
class Resolved {
public:
    Resolved(const std::string& server, const std::string& path) {
        serverFd_ = open(server.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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
        if (parentFd_ < 0)
            parentFd_ = openat2_beneath(serverFd_, parent_.c_str(), O_PATH | O_DIRECTORY, 0);
        return parentFd_;
    }
    const char* name() const { return name_.c_str(); }

private:
    int serverFd_ = -1;
    int parentFd_ = -1;
    bool ok_ = false;
    std::string rel_, parent_, name_;
};

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

class DirFile : public RemoteFile {
public:
    explicit DirFile(int fd) : fd_(fd) {}
    ~DirFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    Outcome read(void* buf, uint32_t count, uint32_t* got) override {
        uint32_t done = 0;
        while (done < count) {
            ssize_t n = ::read(fd_, static_cast<char*>(buf) + done, count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Outcome::server(kRpcIoError);
            }
            if (n == 0) break;
            done += uint32_t(n);
        }
        *got = done;
        return {};
    }
    Outcome write(const void* buf, uint32_t count) override {
        uint32_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, static_cast<const char*>(buf) + done, count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Outcome::server(kRpcIoError);
            }
            done += uint32_t(n);
        }
        return {};
    }
    Outcome setpos(int64_t offset, uint32_t origin) override {
        off_t base = 0;
        if (origin == 1) base = lseek(fd_, 0, SEEK_CUR);
        else if (origin == 2) base = lseek(fd_, 0, SEEK_END);
        else if (origin != 0) return Outcome::server(kRpcBadPath);
        if (base < 0) return Outcome::server(kRpcIoError);
        off_t target = base + offset;
        if (target < 0) target = 0;
        return lseek(fd_, target, SEEK_SET) < 0 ? Outcome::server(kRpcIoError) : Outcome{};
    }
    Outcome getpos(uint64_t* pos) override {
        off_t p = lseek(fd_, 0, SEEK_CUR);
        if (p < 0) return Outcome::server(kRpcIoError);
        *pos = uint64_t(p);
        return {};
    }
    Outcome close() override {
        int r = ::close(fd_);
        fd_ = -1;
        return r == 0 ? Outcome{} : Outcome::server(kRpcIoError);
    }

private:
    int fd_;
};

class DirListing : public RemoteDir {
public:
    explicit DirListing(DIR* d) : dir_(d) {}
    ~DirListing() override { closedir(dir_); }
    Outcome next(std::string* name) override {
        errno = 0;
        struct dirent* d = readdir(dir_);
        if (!d) return Outcome::server(errno ? kRpcIoError : kRpcNotFound);
        *name = d->d_name;
        return {};
    }

private:
    DIR* dir_;
};

class DirBackend : public Backend {
public:
    explicit DirBackend(std::string dir) : dir_(std::move(dir)) {}

    Outcome access(const std::string& path, uint32_t mode) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int fd = r.open_file(O_PATH);
        if (fd < 0) return fail(errno, kRpcNotFound);
        Outcome result;
        if (mode & 3) {
            char proc[64];
            std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
            if (::access(proc, W_OK) != 0) result = Outcome::server(kRpcAccessDenied);
        }
        close(fd);
        return result;
    }

    Outcome stat(const std::string& path, ObjectStatus* out) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int fd = r.open_file(O_PATH);
        if (fd < 0) return fail(errno, kRpcNotFound);
        struct stat st {};
        int s = fstat(fd, &st);
        close(fd);
        if (s != 0) return Outcome::server(kRpcIoError);
        out->size = uint64_t(st.st_size);
        out->mtime = uint32_t(st.st_mtim.tv_sec);
        out->value2 = uint32_t(st.st_mtim.tv_sec);
        out->value3 = uint32_t(st.st_mtim.tv_nsec) ^ uint32_t(st.st_ino);
        return {};
    }

    Outcome open(const std::string& path, uint32_t mode, std::unique_ptr<RemoteFile>* file) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int flags = (mode & 3) == 0 ? O_RDONLY : (mode & 3) == 1 ? O_WRONLY : O_RDWR;
        int fd = r.open_file(uint64_t(flags));
        if (fd < 0) return fail(errno, kRpcNotFound);
        struct stat st {};
        if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            close(fd);
            return Outcome::server(kRpcAccessDenied);
        }
        *file = std::make_unique<DirFile>(fd);
        return {};
    }

    Outcome create(const std::string& path, std::unique_ptr<RemoteFile>* file) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int fd = r.open_file(O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0) {
            int e = errno;
            if (e == EEXIST) return Outcome::server(kRpcExists);
            if (e == EXDEV || e == ELOOP || e == ENAMETOOLONG) return Outcome::server(kRpcBadPath);
            return Outcome::server(kRpcCannotCreate);
        }
        *file = std::make_unique<DirFile>(fd);
        return {};
    }

    Outcome copy(const std::string& source, const std::string& destination) override {
        Resolved from(dir_, source);
        Resolved to(dir_, destination);
        if (!from.ok() || !to.ok()) return Outcome::server(kRpcBadPath);
        int in = from.open_file(O_RDONLY);
        if (in < 0) return fail(errno, kRpcNotFound);
        struct stat st {};
        fstat(in, &st);
        int out = to.open_file(O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, st.st_mode & 0777);
        if (out < 0) {
            int e = errno;
            close(in);
            return Outcome::server(e == EEXIST ? kRpcExists : code_of(e, kRpcCannotCreate));
        }
        bool ok = copy_fd(in, out);
        close(in);
        if (close(out) != 0) ok = false;
        if (!ok) {
            int pfd = to.parent_fd();
            if (pfd >= 0) unlinkat(pfd, to.name(), 0);
            return Outcome::server(kRpcIoError);
        }
        return {};
    }

    Outcome remove(const std::string& path) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int pfd = r.parent_fd();
        if (pfd < 0) return fail(errno, kRpcNotFound);
        return unlinkat(pfd, r.name(), 0) == 0 ? Outcome{} : fail(errno, kRpcIoError);
    }

    Outcome rename(const std::string& source, const std::string& destination) override {
        Resolved from(dir_, source);
        Resolved to(dir_, destination);
        if (!from.ok() || !to.ok()) return Outcome::server(kRpcBadPath);
        int fromDir = from.parent_fd();
        int toDir = to.parent_fd();
        if (fromDir < 0 || toDir < 0) return fail(errno, kRpcNotFound);
        if (renameat2(fromDir, from.name(), toDir, to.name(), RENAME_NOREPLACE) == 0) return {};
        return fail(errno, kRpcIoError);
    }

    Outcome mkdir(const std::string& path) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int pfd = r.parent_fd();
        if (pfd < 0) return fail(errno, kRpcNotFound);
        return mkdirat(pfd, r.name(), 0777) == 0 ? Outcome{} : fail(errno, kRpcCannotCreate);
    }

    Outcome rmdir(const std::string& path) override {
        Resolved r(dir_, path);
        if (!r.ok()) return Outcome::server(kRpcBadPath);
        int pfd = r.parent_fd();
        if (pfd < 0) return fail(errno, kRpcNotFound);
        return unlinkat(pfd, r.name(), AT_REMOVEDIR) == 0 ? Outcome{} : fail(errno, kRpcIoError);
    }

    Outcome opendir(const std::string& path, std::unique_ptr<RemoteDir>* dir) override {
        int fd;
        if (path.empty() || path == "/" || path == "\\") {
            fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } else {
            Resolved r(dir_, path);
            if (!r.ok()) return Outcome::server(kRpcBadPath);
            fd = r.open_file(O_RDONLY | O_DIRECTORY);
        }
        if (fd < 0) return fail(errno, kRpcNotFound);
        DIR* d = fdopendir(fd);
        if (!d) {
            close(fd);
            return Outcome::server(kRpcIoError);
        }
        *dir = std::make_unique<DirListing>(d);
        return {};
    }

    Outcome statvolume(VolumeStatus* out) override {
        struct statvfs vs {};
        if (statvfs(dir_.c_str(), &vs) != 0) return Outcome::server(kRpcBadPath);
        out->blockSize = vs.f_frsize;
        out->freeBlocks = vs.f_bavail;
        out->totalBlocks = vs.f_blocks;
        return {};
    }

private:
    std::string dir_;
};

}  // namespace

std::unique_ptr<Backend> directory_backend(const std::string& directory) {
    return std::make_unique<DirBackend>(directory);
}

}  // namespace qvrpc
