// Process information for names and the shell check of thread detach.
#include "platform/plat_proc.h"

#include <time.h>
#include <unistd.h>

#include <atomic>

uint32_t plat_process_id() { return uint32_t(getpid()); }

namespace {
// A tick count a test has fixed, or 0 for the clock.
std::atomic<uint32_t> g_fixedTick{0};
}  // namespace

void plat_fix_tick_count(uint32_t tick) { g_fixedTick = tick; }

uint32_t plat_tick_count() {
    if (uint32_t fixed = g_fixedTick) return fixed;
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

namespace {
// 100-ns units from 1601-01-01 to 1970-01-01.
constexpr uint64_t kFiletimeAt1970 = 116444736000000000ull;
constexpr uint64_t kUnitsPerSecond = 10000000ull;
constexpr uint64_t kNanosPerUnit = 100;
}  // namespace

uint64_t plat_local_filetime() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local {};
    time_t now = ts.tv_sec;
    localtime_r(&now, &local);
    int64_t seconds = int64_t(ts.tv_sec) + local.tm_gmtoff;
    return kFiletimeAt1970 + uint64_t(seconds) * kUnitsPerSecond + uint64_t(ts.tv_nsec) / kNanosPerUnit;
}

uint32_t plat_main_module_name(char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", buf, size - 1);
    if (n <= 0) {
        buf[0] = 0;
        return 0;
    }
    buf[n] = 0;
    return uint32_t(n);
}
