// Process information for names and the shell check of thread detach.
#include "platform/plat_proc.h"

#include <time.h>
#include <unistd.h>

uint32_t plat_process_id() { return uint32_t(getpid()); }

uint32_t plat_tick_count() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
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
