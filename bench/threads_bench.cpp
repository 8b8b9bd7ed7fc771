// Scaling with threads: two files of 10 000 scanner pages swept page by
// page (page information, then the page's data) by one thread, one file
// after the other, and by two threads at once, one file each. Threads on
// different files share only the library's process-wide tables, so on two
// cores two threads should take little more than half the time of one.
//
// After the benchmarks a summary prints both times and the ratio two
// threads / one thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

namespace {

using namespace bench;

constexpr uint32_t kPages = 10000;

const std::string& file(int which) {
    static const std::string files[2] = {scanner_file(kPages, "sweep0.tif"), scanner_file(kPages, "sweep1.tif")};
    return files[which];
}

// Every page's information and data; a sum of what was read.
uint64_t sweep(const std::string& path) {
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h < 0 || pages != kPages) std::abort();
    PageInfo info;
    std::memset(&info, 0, sizeof info);
    PageSizes sizes;
    std::memset(&sizes, 0, sizeof sizes);
    std::vector<uint8_t> data;
    uint64_t sum = 0;
    for (uint32_t pg = 1; pg <= pages; ++pg) {
        if (xtavgeti(&h, uint16_t(pg), &info, &sizes, &err) < 0) std::abort();
        data.resize(sizes.dataBytes);
        uint32_t left = 0;
        if (xtavread(&h, data.data(), 0, sizes.dataBytes, &left, uint16_t(pg), &err) != int32_t(sizes.dataBytes))
            std::abort();
        sum += info.imageWidth + data[0] + data[sizes.dataBytes - 1];
    }
    xtavclose(&h, &err);
    return sum;
}

void BM_OneThreadTwoFiles(benchmark::State& state) {
    file(0), file(1);
    for (auto _ : state) benchmark::DoNotOptimize(sweep(file(0)) + sweep(file(1)));
    state.SetItemsProcessed(state.iterations() * 2 * kPages);
}
BENCHMARK(BM_OneThreadTwoFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TwoThreadsTwoFiles(benchmark::State& state) {
    file(0), file(1);
    for (auto _ : state) {
        uint64_t other = 0;
        std::thread second([&] { other = sweep(file(1)); });
        uint64_t mine = sweep(file(0));
        second.join();
        benchmark::DoNotOptimize(mine + other);
    }
    state.SetItemsProcessed(state.iterations() * 2 * kPages);
}
BENCHMARK(BM_TwoThreadsTwoFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void summary() {
    file(0), file(1);
    const double one = median({seconds_of([] { sweep(file(0)), sweep(file(1)); }),
                               seconds_of([] { sweep(file(0)), sweep(file(1)); }),
                               seconds_of([] { sweep(file(0)), sweep(file(1)); })});
    auto both = [] {
        std::thread second([] { sweep(file(1)); });
        sweep(file(0));
        second.join();
    };
    const double two = median({seconds_of(both), seconds_of(both), seconds_of(both)});
    std::printf("\ntwo files of %u pages, page information and data (median of 3):\n", kPages);
    std::printf("  one thread, one file after the other : %.4f s\n", one);
    std::printf("  two threads, one file each           : %.4f s\n", two);
    std::printf("  two threads / one thread             : %.2f\n", two / one);
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }
