// xtavread of a 256 MB single-strip TIFF page in 1 MB pieces, side by side
// with reading the same file with read(2) in 1 MB pieces. The file is read
// once first, so both run from the page cache.
//
// After the benchmarks a summary prints both throughputs and the ratio
// qvtav / read(2) (the goal is at least 0.8).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

namespace {

constexpr uint32_t kWidth = 16384;              // 8-bit grey
constexpr uint32_t kLength = 16384;             // 256 MB of pixels
constexpr uint32_t kPixels = kWidth * kLength;
constexpr uint32_t kPiece = 1u << 20;

using namespace bench;

// Header, one directory, then the strip up to the end of the file.
struct BenchFile {
    std::string path = bench_dir().file("big.tif");
    uint32_t stripOffset = 0;
    BenchFile() {
        LeBytes head;
        head.v = {'I', 'I', 42, 0, 8, 0, 0, 0};
        const uint16_t n = 9;
        stripOffset = 8 + 2 + 12 * n + 4;
        struct E { uint16_t tag, type; uint32_t value; } es[n] = {
            {256, 4, kWidth}, {257, 4, kLength}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
            {273, 4, stripOffset}, {277, 3, 1}, {278, 4, kLength}, {279, 4, kPixels}};
        head.put16(n);
        for (const E& e : es) head.entry(e.tag, e.type, 1, e.value);
        head.put32(0);
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, head.v.data(), head.v.size()) != ssize_t(head.v.size())) std::abort();
        std::vector<uint8_t> chunk(kPiece);
        for (uint32_t i = 0; i < kPiece; ++i) chunk[i] = uint8_t(i * 31 + 7);
        for (uint32_t done = 0; done < kPixels; done += kPiece)
            if (::write(fd, chunk.data(), kPiece) != ssize_t(kPiece)) std::abort();
        ::close(fd);
    }
};

BenchFile& bench_file() {
    static BenchFile f;
    return f;
}

std::vector<uint8_t>& piece_buffer() {
    static std::vector<uint8_t> buf(kPiece);
    return buf;
}

// xtavopen, xtavgeti page 1, then xtavread in 1 MB pieces to the end.
uint64_t qv_read_all() {
    PathBuf p(bench_file().path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, &pages, &err);
    if (h < 0) std::abort();
    PageInfo pi;
    std::memset(&pi, 0, sizeof pi);
    PageSizes ps;
    std::memset(&ps, 0, sizeof ps);
    if (xtavgeti(&h, 1, &pi, &ps, &err) < 0 || ps.dataBytes != kPixels) std::abort();
    uint8_t* buf = piece_buffer().data();
    uint64_t total = 0;
    uint32_t remaining = ps.dataBytes;
    for (uint32_t pos = 0; remaining > 0;) {
        uint32_t want = std::min(kPiece, ps.dataBytes - pos);
        int32_t r = xtavread(&h, buf, pos, want, &remaining, 1, &err);
        if (r <= 0) std::abort();
        pos += uint32_t(r);
        total += uint32_t(r);
    }
    xtavclose(&h, &err);
    return total;
}

// open, then read(2) in 1 MB pieces to the end.
uint64_t sys_read_all() {
    int fd = ::open(bench_file().path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    uint8_t* buf = piece_buffer().data();
    uint64_t total = 0;
    ssize_t r;
    while ((r = ::read(fd, buf, kPiece)) > 0) total += uint64_t(r);
    ::close(fd);
    return total;
}

void BM_Xtavread1MB(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(qv_read_all());
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
}

void BM_Read2_1MB(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sys_read_all());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPixels + bench_file().stripOffset));
}

BENCHMARK(BM_Xtavread1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read2_1MB)->Unit(benchmark::kMillisecond);

// Best of 5 runs, in MB/s.
template <typename F>
double mb_per_s(F f) {
    uint64_t bytes = 0;
    double best = best_seconds([&] { return bytes = f(); }, 5);
    return double(bytes) / (1 << 20) / best;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    sys_read_all();  // into the page cache
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    double q = mb_per_s(qv_read_all);
    double s = mb_per_s(sys_read_all);
    std::printf("\n256 MB page in 1 MB pieces (best of 5)   xtavread %8.0f MB/s   read(2) %8.0f MB/s"
                "   ratio %.2f\n", q, s, q / s);
    return 0;
}
