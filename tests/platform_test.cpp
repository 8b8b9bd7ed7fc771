// Named mutexes across processes and threads, start-up and the platform id.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "frame/startup.h"
#include "platform/plat_mutex.h"
#include "platform/plat_version.h"
#include "qvtav.h"

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

}  // namespace
