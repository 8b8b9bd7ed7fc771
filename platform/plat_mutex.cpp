// Named mutexes: robust, recursive, process-shared pthread mutexes in one
// small segment that every process of the same user maps. Taking a free
// mutex is an atomic operation in user space; the kernel is entered only to
// wait for a holder or to wake a waiter.
//
// - A holder that dies: the kernel marks the mutex (robust futex list) and
//   the next taker gets EOWNERDEAD and declares it consistent. What the
//   mutexes guard is per process, so there is nothing to repair.
// - Recursion: the mutex counts it itself (PTHREAD_MUTEX_RECURSIVE).
// - Fork: the child shares the mapping. A mutex a thread of the parent holds
//   is owned by that thread's id, so the child waits for the parent to
//   release it like any other process and never takes it for its own.
// - The segment is a shared-memory object named per user, layout version
//   and ABI (a 32-bit and a 64-bit process lay the mutexes out differently);
//   else a file of that name in the temporary directory; else process-local
//   storage. A process that finds the segment new or its ready word not
//   yet set checks and initialises it under an flock; the others map it as
//   it is.
// - Process detach unmaps the segment unless a lock is held in this
//   process; the next lock attaches again.
#include "platform/plat_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/plat_file.h"
#include "platform/plat_memory.h"

namespace {

constexpr uint32_t kSegmentMagic = 0x4C545651;  // "QVTL" in a little-endian word
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kPointerBits = sizeof(void*) * 8;
// The ABI the mutexes are laid out for: pointer width and mutex size.
constexpr uint32_t kAbi = kPointerBits << 16 | uint32_t(sizeof(pthread_mutex_t));
constexpr uint32_t kReady = 1;
constexpr mode_t kOwnerOnly = 0600;
constexpr mode_t kOthersBits = 077;

// One mutex a cache line, so mutexes taken by different threads do not
// share one.
struct alignas(kPlatCacheLine) MutexSlot {
    pthread_mutex_t mutex;
};

struct Segment {
    uint32_t magic;
    uint32_t layout;
    uint32_t abi;
    uint32_t ready;  // kReady once the words above and the mutexes are set
    std::array<MutexSlot, kNamedMutexCount> slots;
};

// This process's view of the segment.
struct Attachment {
    std::atomic<Segment*> open{nullptr};    // what a new acquisition uses; null: attach first
    std::atomic<Segment*> mapped{nullptr};  // set by attach, cleared by detach while nothing is held
    std::atomic<int> held{0};               // acquisitions in this process not yet released
    pthread_mutex_t guard = PTHREAD_MUTEX_INITIALIZER;  // attach, detach, repair
    MutexBacking backing = MutexBacking::ProcessOnly;
    char name[PATH_MAX] = {};
    bool allowSharedMemory = true;
    bool atforkInstalled = false;
};

Attachment g_at;
Segment g_processSegment;  // the backing of last resort

std::atomic_ref<uint32_t> ready_word(Segment* seg) { return std::atomic_ref<uint32_t>(seg->ready); }

class GuardLock {
public:
    GuardLock() { pthread_mutex_lock(&g_at.guard); }
    ~GuardLock() { pthread_mutex_unlock(&g_at.guard); }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// An exclusive flock on an open file for a scope (none without a file).
class FileLock {
public:
    explicit FileLock(int fd) : fd_(fd) {
        while (fd_ >= 0 && !(held_ = flock(fd_, LOCK_EX) == 0) && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (held_) flock(fd_, LOCK_UN);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

class MutexAttributes {
public:
    explicit MutexAttributes(int pshared) {
        ok_ = pthread_mutexattr_init(&attr_) == 0;
        ok_ = ok_ && pthread_mutexattr_setpshared(&attr_, pshared) == 0 &&
              pthread_mutexattr_setrobust(&attr_, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr_, PTHREAD_MUTEX_RECURSIVE) == 0;
    }
    ~MutexAttributes() { pthread_mutexattr_destroy(&attr_); }
    MutexAttributes(const MutexAttributes&) = delete;
    MutexAttributes& operator=(const MutexAttributes&) = delete;
    const pthread_mutexattr_t* get() const { return ok_ ? &attr_ : nullptr; }

private:
    pthread_mutexattr_t attr_;
    bool ok_ = false;
};

int pshared_of(MutexBacking b) {
    return b == MutexBacking::ProcessOnly ? PTHREAD_PROCESS_PRIVATE : PTHREAD_PROCESS_SHARED;
}

bool init_mutex(pthread_mutex_t* m, int pshared) {
    MutexAttributes attr(pshared);
    return attr.get() && pthread_mutex_init(m, attr.get()) == 0;
}

bool init_segment(Segment* seg, int pshared) {
    for (MutexSlot& s : seg->slots)
        if (!init_mutex(&s.mutex, pshared)) return false;
    seg->magic = kSegmentMagic;
    seg->layout = kLayoutVersion;
    seg->abi = kAbi;
    ready_word(seg).store(kReady, std::memory_order_release);
    return true;
}

bool header_matches(const Segment& seg) {
    return seg.magic == kSegmentMagic && seg.layout == kLayoutVersion && seg.abi == kAbi;
}

// Only a regular object of this user that nobody else may open, of the
// segment's size or still empty, is used.
bool usable(int fd, off_t* size) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & kOthersBits) != 0)
        return false;
    *size = st.st_size;
    return st.st_size == 0 || st.st_size == off_t(sizeof(Segment));
}

Segment* map_segment(int fd) {
    void* p = mmap(nullptr, sizeof(Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<Segment*>(p);
}

void unmap_segment(Segment* seg) {
    int saved = errno;
    munmap(seg, sizeof(Segment));
    errno = saved;
}

bool is_ready(Segment* seg) { return ready_word(seg).load(std::memory_order_acquire) == kReady; }

// A segment another process made ready, mapped without further ado.
Segment* map_ready(int fd) {
    off_t size = 0;
    if (!usable(fd, &size) || size != off_t(sizeof(Segment))) return nullptr;
    Segment* seg = map_segment(fd);
    if (seg && !(is_ready(seg) && header_matches(*seg))) {
        unmap_segment(seg);
        return nullptr;
    }
    return seg;
}

// Maps the segment held open by fd. One that is new or not yet ready is
// checked and initialised under an flock, so one process does it while the
// others wait for its ready word.
Segment* map_backing(int fd, bool created) {
    if (!created)
        if (Segment* seg = map_ready(fd)) return seg;
    FileLock attachLock(fd);
    if (!attachLock.held()) return nullptr;
    // The creation mode passed the umask; the owner needs both rights.
    if (created) fchmod(fd, kOwnerOnly);
    off_t size = 0;
    if (!usable(fd, &size)) return nullptr;
    if (size == 0 && ftruncate(fd, sizeof(Segment)) != 0) return nullptr;
    Segment* seg = map_segment(fd);
    if (!seg) return nullptr;
    bool ok = is_ready(seg) ? header_matches(*seg) : init_segment(seg, PTHREAD_PROCESS_SHARED);
    if (!ok) {
        unmap_segment(seg);
        return nullptr;
    }
    return seg;
}

// Opens the named backing, creating it owner-only when it does not exist.
int open_backing(MutexBacking b, const char* name, bool create, bool* created) {
    auto open_one = [&](int flags) {
        return b == MutexBacking::SharedMemory
                   ? shm_open(name, flags, kOwnerOnly)
                   : open(name, flags | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    };
    *created = false;
    if (create) {
        int fd = open_one(O_RDWR | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) {
            *created = fd >= 0;
            return fd;
        }
    }
    return open_one(O_RDWR);
}

// The backing's name: the shared-memory object's or the file's path.
bool backing_name(MutexBacking b, char* out, size_t size) {
    char leaf[128];
    std::snprintf(leaf, sizeof leaf, "qvtav400.locks.u%u.v%u.p%um%u", unsigned(geteuid()),
                  kLayoutVersion, kPointerBits, unsigned(sizeof(pthread_mutex_t)));
    char dir[PATH_MAX] = "/";
    if (b == MutexBacking::TempFile && plat_temp_path(dir, sizeof dir) == 0) return false;
    int n = std::snprintf(out, size, "%s%s", dir, leaf);
    return n > 0 && size_t(n) < size;
}

Segment* attach_named(MutexBacking b) {
    if (!backing_name(b, g_at.name, sizeof g_at.name)) return nullptr;
    bool created = false;
    Descriptor fd(open_backing(b, g_at.name, true, &created));
    if (fd.get() < 0) return nullptr;
    Segment* seg = map_backing(fd.get(), created);
    if (seg) g_at.backing = b;
    return seg;
}

void after_fork_in_child() {
    // A thread of the parent may have held the guard; it does not exist here.
    pthread_mutex_init(&g_at.guard, nullptr);
    // Process-local mutexes held by the parent's threads would stay held
    // in the child's copy forever.
    if (g_at.backing == MutexBacking::ProcessOnly && g_at.mapped.load())
        init_segment(&g_processSegment, PTHREAD_PROCESS_PRIVATE);
}

// Maps the segment (under the guard), trying each backing in turn.
Segment* attach_segment() {
    int saved = errno;
    Segment* seg = nullptr;
    if (g_at.allowSharedMemory) seg = attach_named(MutexBacking::SharedMemory);
    if (!seg) seg = attach_named(MutexBacking::TempFile);
    if (!seg) {
        g_at.backing = MutexBacking::ProcessOnly;
        g_at.name[0] = 0;
        seg = &g_processSegment;
        if (ready_word(seg).load() != kReady) init_segment(seg, PTHREAD_PROCESS_PRIVATE);
    }
    errno = saved;
    return seg;
}

Segment* attach_now() {
    GuardLock guard;
    if (!g_at.atforkInstalled)
        g_at.atforkInstalled = pthread_atfork(nullptr, nullptr, after_fork_in_child) == 0;
    Segment* seg = g_at.mapped.load();
    if (!seg) {
        seg = attach_segment();
        g_at.mapped.store(seg);
    }
    g_at.open.store(seg);
    return seg;
}

Segment* attached() {
    Segment* seg = g_at.open.load();
    return seg ? seg : attach_now();
}

pthread_mutex_t* native(Segment* seg, NamedMutex m) { return &seg->slots[size_t(m)].mutex; }

// Only a program outside the library leaves a mutex unrecoverable: it
// released the mutex after its holder died without declaring it consistent.
// One process at a time (under the backing's flock) initialises it afresh;
// then it is taken as usual.
void lock_unrecoverable(pthread_mutex_t* m) {
    for (;;) {
        {
            GuardLock guard;
            bool created = false;
            bool named = g_at.backing != MutexBacking::ProcessOnly;
            Descriptor fd(named ? open_backing(g_at.backing, g_at.name, false, &created) : -1);
            FileLock repairLock(fd.get());
            if (named && !repairLock.held()) return;  // the mutex stays unusable; go unlocked
            int r = pthread_mutex_trylock(m);
            if (r == 0) return;
            if (r == EOWNERDEAD) {
                pthread_mutex_consistent(m);
                return;
            }
            if (r == ENOTRECOVERABLE && !init_mutex(m, pshared_of(g_at.backing))) return;
        }
        int r = pthread_mutex_lock(m);
        if (r == EOWNERDEAD) pthread_mutex_consistent(m);
        if (r != ENOTRECOVERABLE) return;
    }
}

}  // namespace

void plat_mutex_lock(NamedMutex m) {
    // Counted before the segment is read, so a detach that runs meanwhile
    // sees the acquisition and leaves the segment mapped.
    g_at.held.fetch_add(1);
    pthread_mutex_t* mutex = native(attached(), m);
    int r = pthread_mutex_lock(mutex);
    if (r == EOWNERDEAD) {
        // The holder died; what it held is per process, so nothing to repair.
        pthread_mutex_consistent(mutex);
    } else if (r == ENOTRECOVERABLE) {
        int saved = errno;
        lock_unrecoverable(mutex);
        errno = saved;
    }
}

void plat_mutex_unlock(NamedMutex m) {
    // The segment cannot have changed since the lock: held was not zero.
    // A thread that does not hold the mutex (a child unwinding a section its
    // parent's thread entered before the fork) gets EPERM, and nothing changes.
    if (Segment* seg = g_at.mapped.load(std::memory_order_acquire))
        pthread_mutex_unlock(native(seg, m));
    g_at.held.fetch_sub(1);
}

void plat_mutexes_create() { attach_now(); }

void plat_mutexes_close() {
    GuardLock guard;
    Segment* seg = g_at.mapped.load();
    if (!seg) return;
    g_at.open.store(nullptr);
    if (g_at.held.load() != 0) {
        // A thread of this process is inside a locked section: stay attached.
        g_at.open.store(seg);
        return;
    }
    if (seg != &g_processSegment) unmap_segment(seg);
    g_at.mapped.store(nullptr);
}

MutexBacking plat_mutex_backing(char* name, uint32_t size) {
    attached();
    GuardLock guard;
    if (size) std::snprintf(name, size, "%s", g_at.name);
    return g_at.backing;
}

void plat_mutex_allow_shared_memory(bool allowed) {
    GuardLock guard;
    g_at.allowSharedMemory = allowed;
}

pthread_mutex_t* plat_mutex_native(NamedMutex m) { return native(attached(), m); }
