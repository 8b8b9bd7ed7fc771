// Named mutexes: an in-process mutex serialises threads, and an flock on a
// lock file named after the mutex serialises processes. The kernel drops an
// flock when its holder dies, so a crashed holder never leaves one locked.
// The lock file is opened afresh after a fork (pthread_atfork), so a child
// never shares its parent's open file description and lock.
#include "platform/plat_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr int kMutexCount = 4;
const char* const kNames[kMutexCount] = {"TAV_FCT_GLOBAL_MUTEX", "TAV_MEMTBL", "TAV_str1_seed",
                                         "TAV_WritePos"};

struct MutexState {
    std::recursive_mutex inProcess;  // recursive: a detach may run inside a locked section
    int fd = -1;                      // lock file descriptor, opened lazily
    int depth = 0;                    // recursion depth of this process's holder
};

MutexState g_mutex[kMutexCount];
std::once_flag g_atforkOnce;

void lock_dir(char* buf, size_t size) {
    struct stat st {};
    const char* dir = "/dev/shm";
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || access(dir, W_OK) != 0) {
        const char* t = std::getenv("TMPDIR");
        dir = (t && *t && stat(t, &st) == 0 && S_ISDIR(st.st_mode)) ? t : "/tmp";
    }
    std::snprintf(buf, size, "%s", dir);
}

int open_lock_file(int index) {
    char dir[200];
    lock_dir(dir, sizeof dir);
    char path[320];
    std::snprintf(path, sizeof path, "%s/qvtav.%u.%s.lock", dir, unsigned(getuid()), kNames[index]);
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd;
}

void after_fork_in_child() {
    // The child must not share the parent's lock file description. Its
    // in-process mutexes are reset too: a mutex another thread of the parent
    // held is meaningless in the child.
    for (auto& m : g_mutex) {
        if (m.fd >= 0) close(m.fd);
        m.fd = -1;
        m.depth = 0;
        new (&m.inProcess) std::recursive_mutex();
    }
}

void install_atfork() { pthread_atfork(nullptr, nullptr, after_fork_in_child); }

}  // namespace

const char* plat_mutex_name(NamedMutex m) { return kNames[int(m)]; }

void plat_mutex_lock(NamedMutex m) {
    std::call_once(g_atforkOnce, install_atfork);
    MutexState& s = g_mutex[int(m)];
    s.inProcess.lock();
    if (s.depth++ > 0) return;
    if (s.fd < 0) s.fd = open_lock_file(int(m));
    if (s.fd >= 0) {
        while (flock(s.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void plat_mutex_unlock(NamedMutex m) {
    MutexState& s = g_mutex[int(m)];
    if (--s.depth == 0 && s.fd >= 0) {
        int saved = errno;
        flock(s.fd, LOCK_UN);
        errno = saved;
    }
    s.inProcess.unlock();
}

void plat_mutexes_create() {
    std::call_once(g_atforkOnce, install_atfork);
    int saved = errno;
    for (int i = 0; i < kMutexCount; ++i) {
        std::lock_guard<std::recursive_mutex> g(g_mutex[i].inProcess);
        if (g_mutex[i].fd < 0) g_mutex[i].fd = open_lock_file(i);
    }
    errno = saved;
}

void plat_mutexes_close() {
    int saved = errno;
    for (auto& s : g_mutex) {
        std::lock_guard<std::recursive_mutex> g(s.inProcess);
        if (s.depth == 0 && s.fd >= 0) {
            close(s.fd);
            s.fd = -1;
        }
    }
    errno = saved;
}
