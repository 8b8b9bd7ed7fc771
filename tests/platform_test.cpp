// Named mutexes across processes and threads, start-up and the platform id,
// and the fault seam the fault-injection tests stand on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "frame/startup.h"
#include "platform/plat_fault.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"
#include "platform/plat_mutex.h"
#include "platform/plat_version.h"
#include "qvtav.h"
#include "test_util.h"

namespace {

using namespace std::chrono_literals;

// A counter updated without atomics under the mutex: lost updates show when
// it does not exclude.
struct Shared {
    volatile int counter;
    volatile int holderReady;
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

TEST(NamedMutex, ExcludesForkedChildAndThreads) {
    Shared* s = shared_page();
    s->counter = 0;
    pid_t child = fork();
    if (child == 0) {
        hammer(s, 20000);
        _exit(0);
    }
    std::thread a(hammer, s, 10000), b(hammer, s, 10000);
    a.join();
    b.join();
    waitpid(child, nullptr, 0);
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
    std::atomic<bool> got{false};
    std::thread t([&] {
        NamedLock lock(NamedMutex::FctGlobal);
        got = true;
    });
    for (int i = 0; i < 500 && !got; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(got);
    t.join();
    munmap(s, 4096);
}

TEST(Startup, DllMainReasonsAndPlatformId) {
    for (uint32_t reason : {2u, 3u, 0u, 0u, 1u}) EXPECT_EQ(DllMain(nullptr, reason, nullptr), 1);
    EXPECT_TRUE(awd_supported());
    plat_set_platform_id(2);
    DllMain(nullptr, 1, nullptr);
    EXPECT_FALSE(awd_supported());
    plat_set_platform_id(0);
    DllMain(nullptr, 1, nullptr);
    EXPECT_TRUE(awd_supported());
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
