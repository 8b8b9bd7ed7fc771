// What the fault-injection seam of the platform layer costs: a platform
// block taken and freed beside the same call without the seam (and beside
// calloc and free), and a platform write beside the same write loop without
// the seam (and beside a bare write(2)), all to /dev/null, the cheapest write
// there is, so any cost of the seam shows at its largest. The platform calls
// run with the seam disarmed, as it always is outside tests, and once more
// while it counts steps (armed, failing none), the path tests take.
//
//   fault_seam_bench [--benchmark_repetitions=N ...]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "bench_util.h"
#include "platform/plat_fault.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"

namespace {

constexpr size_t kBlockBytes = 64;
constexpr uint32_t kWriteBytes = 16;

// Arms the seam to count steps without failing any, for one benchmark.
struct Counting {
    explicit Counting(bool on) : on_(on) {
        if (on_) plat_fault_arm({PlatStep::Write, 0, PlatFailure::Error, false});
    }
    ~Counting() {
        if (on_) plat_fault_disarm();
    }
    bool on_;
};

// plat_alloc and plat_write as they are, less the seam.
[[gnu::noinline]] void* alloc_without_seam(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }

[[gnu::noinline]] int32_t write_without_seam(int fd, const void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) return -1;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, static_cast<const char*>(buf) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return -1;
        done += uint32_t(n);
    }
    return int32_t(count);
}

void BM_HeapBlock(benchmark::State& state) {
    for (auto _ : state) {
        void* p = std::calloc(1, kBlockBytes);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void BM_BlockWithoutSeam(benchmark::State& state) {
    for (auto _ : state) {
        void* p = alloc_without_seam(kBlockBytes);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void BM_PlatformBlock(benchmark::State& state) {
    Counting counting(state.range(0) != 0);
    for (auto _ : state) {
        void* p = plat_alloc(kBlockBytes);
        benchmark::DoNotOptimize(p);
        plat_free(p);
    }
}

int dev_null() {
    static int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

void BM_WriteCall(benchmark::State& state) {
    char buf[kWriteBytes] = {};
    int fd = dev_null();
    for (auto _ : state) benchmark::DoNotOptimize(write(fd, buf, kWriteBytes));
}

void BM_WriteWithoutSeam(benchmark::State& state) {
    char buf[kWriteBytes] = {};
    int fd = dev_null();
    for (auto _ : state) benchmark::DoNotOptimize(write_without_seam(fd, buf, kWriteBytes));
}

void BM_PlatformWrite(benchmark::State& state) {
    Counting counting(state.range(0) != 0);
    char buf[kWriteBytes] = {};
    int fd = dev_null();
    for (auto _ : state) benchmark::DoNotOptimize(plat_write(fd, buf, kWriteBytes));
}

}  // namespace

BENCHMARK(BM_HeapBlock);
BENCHMARK(BM_BlockWithoutSeam);
BENCHMARK(BM_PlatformBlock)->ArgName("counting")->Arg(0)->Arg(1);
BENCHMARK(BM_WriteCall);
BENCHMARK(BM_WriteWithoutSeam);
BENCHMARK(BM_PlatformWrite)->ArgName("counting")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
