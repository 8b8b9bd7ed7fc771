// Named mutexes across processes and threads, start-up and the platform id,
// and the fault seam the fault-injection tests stand on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <string>
#include <thread>

#include "platform/plat_fault.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"
#include "platform/plat_mutex.h"
#include "platform/plat_version.h"
#include "qvtav.h"
#include "storage/stg_utils.h"
#include "test_util.h"

namespace {

using namespace std::chrono_literals;

// A counter updated without atomics under the mutex: lost updates show when
// it does not exclude. The flags tell a forked child what its parent did.
struct Shared {
    volatile int counter;
    volatile int holderReady;
    volatile int parentReleased;
};

Shared* shared_page() {
    void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return static_cast<Shared*>(p);
}

void hammer(Shared* s, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        NamedLock lock(NamedMutex::WritePos);
        int v = s->counter;
        if ((i & 63) == 0) sched_yield();
        s->counter = v + 1;
    }
}

constexpr auto kChildDeadline = 20s;

// A child that runs fn and exits with its result; an alarm ends a child
// that deadlocks.
template <typename F>
pid_t fork_child(F fn) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(unsigned(kChildDeadline.count()));
        _exit(fn());
    }
    return pid;
}

int exit_code(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A thread that takes the mutex and holds it until it is destroyed. The
// test must have released the mutex by then.
class Contender {
public:
    explicit Contender(NamedMutex m)
        : thread_([this, m] {
              NamedLock lock(m);
              got_ = true;
              while (!done_) std::this_thread::sleep_for(1ms);
          }) {}
    ~Contender() {
        done_ = true;
        thread_.join();
    }
    Contender(const Contender&) = delete;
    Contender& operator=(const Contender&) = delete;
    bool holds_it_within(std::chrono::milliseconds within) {
        for (auto waited = 0ms; waited < within && !got_; waited += 5ms) std::this_thread::sleep_for(5ms);
        return got_;
    }

private:
    std::atomic<bool> got_{false}, done_{false};
    std::thread thread_;
};

constexpr auto kBriefly = 50ms;  // long enough for a thread that could take a free mutex
constexpr auto kSurely = 5s;

// This thread holds the mutex `depth` times: another thread gets it only
// after the last release.
void expect_held_until_released(NamedMutex m, int depth) {
    Contender other(m);
    for (int i = 0; i < depth; ++i) {
        EXPECT_FALSE(other.holds_it_within(kBriefly)) << "after " << i << " releases";
        plat_mutex_unlock(m);
    }
    EXPECT_TRUE(other.holds_it_within(kSurely));
}

// Threads of this process, a forked child using the mapping it inherited
// and a child that detached and attached again by name all exclude each
// other.
TEST(NamedMutex, ExcludesForkedChildrenAndThreads) {
    Shared* s = shared_page();
    s->counter = 0;
    pid_t inherited = fork_child([&] {
        hammer(s, 10000);
        return 0;
    });
    pid_t byName = fork_child([&] {
        plat_mutexes_close();
        hammer(s, 10000);
        return 0;
    });
    std::thread a(hammer, s, 10000), b(hammer, s, 10000);
    a.join();
    b.join();
    EXPECT_EQ(exit_code(inherited), 0);
    EXPECT_EQ(exit_code(byName), 0);
    EXPECT_EQ(s->counter, 40000);
    munmap(s, 4096);
}

TEST(NamedMutex, HolderKilledDoesNotBlockOthers) {
    Shared* s = shared_page();
    s->holderReady = 0;
    pid_t child = fork();
    if (child == 0) {
        plat_mutex_lock(NamedMutex::FctGlobal);
        s->holderReady = 1;
        pause();
        _exit(0);
    }
    while (!s->holderReady) std::this_thread::sleep_for(1ms);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    Contender other(NamedMutex::FctGlobal);
    EXPECT_TRUE(other.holds_it_within(kSurely));
    munmap(s, 4096);
}

// The owner takes the mutex again while holding it. A detach while it is
// held keeps the segment; after a detach the next lock attaches again.
TEST(NamedMutex, OwnerTakesItAgainAcrossDetachAndAttach) {
    plat_mutex_lock(NamedMutex::NameSeed);
    plat_mutex_lock(NamedMutex::NameSeed);
    plat_mutexes_close();
    expect_held_until_released(NamedMutex::NameSeed, 2);
    plat_mutexes_close();
    plat_mutexes_close();
    plat_mutex_lock(NamedMutex::NameSeed);
    expect_held_until_released(NamedMutex::NameSeed, 1);
}

// A child forked inside a locked section does not own its parent's lock:
// leaving the section releases nothing, and taking the mutex waits for the
// parent instead of deadlocking or entering beside it.
TEST(NamedMutex, ChildForkedWhileParentHoldsWaitsForTheParent) {
    Shared* s = shared_page();
    s->parentReleased = 0;
    pid_t child;
    {
        NamedLock lock(NamedMutex::WritePos);
        child = fork_child([&] {
            plat_mutex_unlock(NamedMutex::WritePos);  // the section the parent entered
            NamedLock mine(NamedMutex::WritePos);
            return s->parentReleased ? 0 : 1;
        });
        std::this_thread::sleep_for(100ms);
        s->parentReleased = 1;
    }
    EXPECT_EQ(exit_code(child), 0);
    munmap(s, 4096);
}

TEST(NamedMutex, SegmentIsTheUsersOwnAndNamedForItsLayout) {
    char name[4096];
    ASSERT_EQ(plat_mutex_backing(name, sizeof name), MutexBacking::SharedMemory);
    std::string n = name;
    EXPECT_NE(n.find(".u" + std::to_string(geteuid()) + "."), std::string::npos) << n;
    EXPECT_NE(n.find(".p" + std::to_string(sizeof(void*) * 8)), std::string::npos) << n;
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + n).c_str(), &st), 0) << n;
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
}

// The mutexes of this process in a segment of their own, in a file of a
// fresh temporary directory (shared memory refused); put back afterwards.
class IsolatedMutexes : public ::testing::Test {
protected:
    void SetUp() override {
        const char* t = std::getenv("TMPDIR");
        if (t) savedTmp_ = t;
        hadTmp_ = t != nullptr;
        plat_mutexes_close();
        plat_mutex_allow_shared_memory(false);
        setenv("TMPDIR", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        plat_mutexes_close();
        plat_mutex_allow_shared_memory(true);
        if (hadTmp_)
            setenv("TMPDIR", savedTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    MutexBacking backing() {
        char name[4096];
        MutexBacking b = plat_mutex_backing(name, sizeof name);
        name_ = name;
        return b;
    }
    TempDir dir_;
    std::string name_;

private:
    std::string savedTmp_;
    bool hadTmp_ = false;
};

// Without shared memory the segment is an owner-only file in the temporary
// directory. One whose ready word is unset (its maker died) is initialised.
TEST_F(IsolatedMutexes, FileInTheTemporaryDirectoryWhenNoSharedMemory) {
    ASSERT_EQ(backing(), MutexBacking::TempFile);
    std::string path = name_;
    EXPECT_EQ(path.rfind(dir_.path() + "/", 0), 0u) << path;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Shared* s = shared_page();
    s->counter = 0;
    pid_t byName = fork_child([&] {
        plat_mutexes_close();
        hammer(s, 10000);
        return 0;
    });
    hammer(s, 10000);
    EXPECT_EQ(exit_code(byName), 0);
    EXPECT_EQ(s->counter, 20000);
    munmap(s, 4096);

    plat_mutexes_close();
    write_file(path, std::string(size_t(st.st_size), '\0'));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(backing(), MutexBacking::TempFile);
    plat_mutex_lock(NamedMutex::NameSeed);
    expect_held_until_released(NamedMutex::NameSeed, 1);
}

// A segment file that is not this user's private one of the right size is
// not used; the process then locks on its own, and a child forked while it
// holds a lock is not stuck with a copy of that lock.
TEST_F(IsolatedMutexes, ForeignSegmentFileRefused) {
    struct Case {
        const char* what;
        mode_t mode;
        std::string content;
    } cases[] = {{"open to others", 0644, ""}, {"wrong size", 0600, "1234567"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plat_mutexes_close();
        ASSERT_EQ(backing(), MutexBacking::TempFile);
        std::string path = name_;
        plat_mutexes_close();
        ASSERT_EQ(unlink(path.c_str()), 0);
        write_file(path, c.content);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        EXPECT_EQ(backing(), MutexBacking::ProcessOnly);
        plat_mutex_lock(NamedMutex::FctGlobal);
        pid_t child = fork_child([] {
            NamedLock mine(NamedMutex::FctGlobal);
            return 0;
        });
        EXPECT_EQ(exit_code(child), 0);
        expect_held_until_released(NamedMutex::FctGlobal, 1);
        unlink(path.c_str());
    }
}

// A foreign program may release a mutex whose holder died without declaring
// it consistent, which leaves it unrecoverable; it is then made afresh.
TEST_F(IsolatedMutexes, UnrecoverableMutexMadeAfresh) {
    ASSERT_EQ(backing(), MutexBacking::TempFile);
    pid_t child = fork_child([] {
        plat_mutex_lock(NamedMutex::MemTable);  // and dies holding it
        return 0;
    });
    ASSERT_EQ(exit_code(child), 0);
    pthread_mutex_t* m = plat_mutex_native(NamedMutex::MemTable);
    ASSERT_EQ(pthread_mutex_lock(m), EOWNERDEAD);
    pthread_mutex_unlock(m);
    ASSERT_EQ(pthread_mutex_lock(m), ENOTRECOVERABLE);
    plat_mutex_lock(NamedMutex::MemTable);
    plat_mutex_lock(NamedMutex::MemTable);
    expect_held_until_released(NamedMutex::MemTable, 2);
}

TEST(Startup, DllMainReasonsAndPlatformId) {
    for (uint32_t reason : {2u, 3u, 0u, 0u, 1u}) EXPECT_EQ(DllMain(nullptr, reason, nullptr), 1);
    EXPECT_TRUE(stg_supported());
    plat_set_platform_id(2);
    DllMain(nullptr, 1, nullptr);
    EXPECT_FALSE(stg_supported());
    plat_set_platform_id(0);
    DllMain(nullptr, 1, nullptr);
    EXPECT_TRUE(stg_supported());
    OsVersionInfo v{};
    v.size = 12;  // a record of the wrong size is refused
    EXPECT_EQ(plat_get_version(&v), 0);
}

// The nth write fails once or for good; a short one leaves half its bytes;
// every kind is counted apart; a disarmed seam fails nothing.
TEST(FaultSeam, FailsTheNthStepOnceOrForGood) {
    TempDir d;
    std::string path = d.file("f");
    const char data[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    for (bool persistent : {false, true}) {
        int fd = plat_creat(path.c_str(), 0);
        ASSERT_GE(fd, 0);
        plat_fault_arm({PlatStep::Write, 2, PlatFailure::Short, persistent});
        EXPECT_EQ(plat_write(fd, data, 8), 8);
        EXPECT_EQ(plat_write(fd, data, 8), -1);
        EXPECT_EQ(errno, TAV_EIO);
        EXPECT_EQ(plat_write(fd, data, 8), persistent ? -1 : 8);
        void* block = plat_alloc(16);
        EXPECT_NE(block, nullptr);
        plat_free(block);
        EXPECT_TRUE(plat_fault_fired());
        EXPECT_EQ(plat_fault_count(PlatStep::Write), 3u);
        EXPECT_EQ(plat_fault_count(PlatStep::Alloc), 1u);
        plat_fault_disarm();
        EXPECT_EQ(plat_write(fd, data, 8), 8);
        plat_close(fd);
        // Each short write left its first four bytes.
        EXPECT_EQ(read_file(path).size(), persistent ? 8u + 4 + 4 + 8 : 8u + 4 + 8 + 8);
        plat_unlink(path.c_str());
    }
}

}  // namespace
