// Writing block files of 1000 and 10 000 small pre-compressed pages, side
// by side with the library's TIFF writer and libtiff writing the same
// pages. A block file page takes a chunk and a record block whatever the
// page count, and the directory grows by whole blocks written at close, so
// the time per page should not grow with the page count.
//
// After the benchmarks a summary times every writer in alternation (so disk
// write-back and other load fall on all alike) and prints the median time
// per page at both page counts and their ratio (the goal for the block file
// is at most 1.2).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include "libtiff_page.h"
#endif

namespace {

using namespace bench;

constexpr uint32_t kWidth = 1728, kLength = 2200;
constexpr uint32_t kPageBytes = 300;  // a well-compressed fax page
constexpr uint32_t kChunkSize = 4096;  // the smallest chunk: one block
constexpr int kFewPages = 1000, kManyPages = 10000;

std::vector<uint8_t> page_data() {
    std::vector<uint8_t> v(kPageBytes);
    uint32_t x = 12345;
    for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

PageInfo page_info() {
    PageInfo info{};
    info.xResNum = info.yResNum = 200;
    info.xResDen = info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = kWidth;
    info.imageLength = kLength;
    info.bitsPerSample[0] = 1;
    info.samplesPerPixel = 1;
    info.fillOrder = 1;
    info.compression = TAV_COMP_CCITT_T6;
    info.rowsPerStrip = kLength;
    info.stripCount = 1;
    info.maxStripSize = kChunkSize;
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return info;
}

// The library writing `pages` pages into a new file of `type`.
bool write_library(uint32_t type, const std::string& path, int pages, const std::vector<uint8_t>& data) {
    PathBuf p(path);
    uint32_t err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    if (h <= 0) return false;
    for (int i = 1; i <= pages; ++i) {
        PageInfo info = page_info();
        if (xtavputi(&h, uint16_t(i), &info, nullptr, &err) < 0 ||
            xtavwrite(&h, const_cast<uint8_t*>(data.data()), uint32_t(data.size()), uint16_t(i), 1, &err) < 0) {
            xtavabort(&h, &err);
            return false;
        }
    }
    return xtavclose(&h, &err) == 0;
}

bool write_block(const std::string& path, int pages, const std::vector<uint8_t>& data) {
    return write_library(FILETYPE_BLOCK, path, pages, data);
}

bool write_tiff(const std::string& path, int pages, const std::vector<uint8_t>& data) {
    return write_library(FILETYPE_TIFF, path, pages, data);
}

#ifdef QVTAV_HAVE_LIBTIFF
bool write_libtiff(const std::string& path, int pages, const std::vector<uint8_t>& data) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    bool ok = true;
    for (int i = 0; i < pages && ok; ++i) {
        bench::libtiff_bilevel_page(t, kWidth, kLength, COMPRESSION_CCITTFAX4, 200.0, 200.0);
        ok = TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(data.data()), tmsize_t(data.size())) >= 0 &&
             TIFFWriteDirectory(t) == 1;
    }
    TIFFClose(t);
    return ok;
}
#endif

using Writer = bool (*)(const std::string&, int, const std::vector<uint8_t>&);

struct Peer {
    const char* name;
    Writer writer;
    const char* file;
};
const Peer kPeers[] = {
    {"block file", write_block, "w.blk"},
    {"qvtav TIFF", write_tiff, "w.tif"},
#ifdef QVTAV_HAVE_LIBTIFF
    {"libtiff", write_libtiff, "l.tif"},
#endif
};

// state.range(0) pages into a new file each iteration.
void write_pages(benchmark::State& state, const Peer& peer) {
    const int pages = int(state.range(0));
    const std::vector<uint8_t> data = page_data();
    const std::string path = bench_dir().file(peer.file);
    for (auto _ : state) {
        if (!peer.writer(path, pages, data)) state.SkipWithError("write failed");
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.counters["us_per_page"] = benchmark::Counter(
        double(pages) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BlockWritePages(benchmark::State& state) { write_pages(state, kPeers[0]); }
void BM_QvtavTiffWritePages(benchmark::State& state) { write_pages(state, kPeers[1]); }
BENCHMARK(BM_BlockWritePages)->Arg(kFewPages)->Arg(kManyPages)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_QvtavTiffWritePages)->Arg(kFewPages)->Arg(kManyPages)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
#ifdef QVTAV_HAVE_LIBTIFF
void BM_LibtiffWritePages(benchmark::State& state) { write_pages(state, kPeers[2]); }
BENCHMARK(BM_LibtiffWritePages)->Arg(kFewPages)->Arg(kManyPages)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
#endif

// ---- summary ----

constexpr int kSummaryRounds = 9;

// Wall time of one whole write, in microseconds per page; the file is
// removed afterwards, outside the timing.
double us_per_page(const Peer& peer, int pages, const std::vector<uint8_t>& data) {
    const std::string path = bench_dir().file(peer.file);
    bool ok = true;
    double s = seconds_of([&] { ok = peer.writer(path, pages, data); });
    std::remove(path.c_str());
    if (!ok) std::printf("%s: write of %d pages failed!\n", peer.name, pages);
    return s * 1e6 / pages;
}

void summary() {
    const std::vector<uint8_t> data = page_data();
    constexpr size_t kPeerCount = std::size(kPeers);
    std::vector<double> few[kPeerCount], many[kPeerCount];
    for (int round = 0; round < kSummaryRounds; ++round) {
        for (size_t k = 0; k < kPeerCount; ++k) {
            few[k].push_back(us_per_page(kPeers[k], kFewPages, data));
            many[k].push_back(us_per_page(kPeers[k], kManyPages, data));
        }
    }
    std::printf("\nus per page (%u-byte pages), median of %d, writers alternating\n", kPageBytes, kSummaryRounds);
    std::printf("%-12s %12s %12s %16s\n", "writer", "1000 pages", "10000 pages", "10000 / 1000");
    for (size_t k = 0; k < kPeerCount; ++k) {
        double a = median(few[k]), b = median(many[k]);
        std::printf("%-12s %12.2f %12.2f %16.3f\n", kPeers[k].name, a, b, b / a);
    }
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }
