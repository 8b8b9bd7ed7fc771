// Page information for every page of a TIFF in order (xtavgeti 1..N after
// xtavopen), side by side with a libtiff program that reads every directory
// with TIFFReadDirectory and fetches the same fields. Files of 1000 and
// 10 000 pages show whether the cost is linear in the page count. Then 200
// pages in a scattered order, xtavgeti beside TIFFSetDirectory.
//
// After the benchmarks a summary prints the time per page of each and the
// ratio qvtav / libtiff (below 1: qvtav is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

using namespace bench;

std::string make_file(uint32_t pages) {
    static std::map<uint32_t, std::string> made;
    auto it = made.find(pages);
    if (it != made.end()) return it->second;
    return made[pages] = scanner_file(pages, "pages" + std::to_string(pages) + ".tif");
}

// ---- qvtav ----

uint64_t qv_info_all(const std::string& path) {
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, &pages, &err);
    if (h < 0) std::abort();
    PageInfo pi;
    std::memset(&pi, 0, sizeof pi);
    TextTagBuf tags[9];
    std::memset(tags, 0, sizeof tags);
    pi.textTags = tags;
    uint32_t sizes[4];
    PageSizes ps;
    std::memset(&ps, 0, sizeof ps);
    ps.sizeCapacity = 4;
    ps.sizes = sizes;
    uint64_t sum = 0;
    for (uint32_t pg = 1; pg <= pages; ++pg) {
        if (xtavgeti(&h, uint16_t(pg), &pi, &ps, &err) < 0) std::abort();
        sum += pi.imageWidth + ps.dataBytes + tags[1].length;
    }
    xtavclose(&h, &err);
    return sum;
}

void BM_QvtavPageInfoEveryPage(benchmark::State& state) { every_page(state, make_file, qv_info_all); }
BENCHMARK(BM_QvtavPageInfoEveryPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Random access: the same pages in the same scattered order for both
// readers, after one open.
constexpr uint32_t kRandomLookups = 200;

std::vector<uint32_t> random_pages(uint32_t pages) {
    std::vector<uint32_t> order(kRandomLookups);
    uint32_t x = 12345;
    for (uint32_t& p : order) p = 1 + (x = x * 1103515245u + 12345u) % pages;
    return order;
}

uint64_t qv_info_random(const std::string& path, uint32_t pages) {
    PathBuf p(path);
    uint32_t type = 0, count = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, &count, &err);
    if (h < 0) std::abort();
    PageInfo pi;
    std::memset(&pi, 0, sizeof pi);
    PageSizes ps;
    std::memset(&ps, 0, sizeof ps);
    uint64_t sum = 0;
    for (uint32_t pg : random_pages(pages)) {
        if (xtavgeti(&h, uint16_t(pg), &pi, &ps, &err) < 0) std::abort();
        sum += pi.imageWidth + ps.dataBytes;
    }
    xtavclose(&h, &err);
    return sum;
}

void BM_QvtavPageInfoRandom(benchmark::State& state) {
    const uint32_t pages = uint32_t(state.range(0));
    std::string path = make_file(pages);
    for (auto _ : state) benchmark::DoNotOptimize(qv_info_random(path, pages));
    state.SetItemsProcessed(state.iterations() * kRandomLookups);
}
BENCHMARK(BM_QvtavPageInfoRandom)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// ---- libtiff ----

#ifdef QVTAV_HAVE_LIBTIFF
uint64_t lt_info_all(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "rc");
    if (!t) std::abort();
    uint64_t sum = 0;
    do {
        uint32_t w = 0;
        uint64_t* counts = nullptr;
        char* desc = nullptr;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
        TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &desc);
        sum += w + (counts ? counts[0] : 0) + (desc ? std::strlen(desc) : 0);
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return sum;
}

void BM_LibtiffReadDirectoryEveryPage(benchmark::State& state) { every_page(state, make_file, lt_info_all); }
BENCHMARK(BM_LibtiffReadDirectoryEveryPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

uint64_t lt_info_random(const std::string& path, uint32_t pages) {
    TIFF* t = TIFFOpen(path.c_str(), "rc");
    if (!t) std::abort();
    uint64_t sum = 0;
    for (uint32_t pg : random_pages(pages)) {
        if (!TIFFSetDirectory(t, tdir_t(pg - 1))) std::abort();
        uint32_t w = 0;
        uint64_t* counts = nullptr;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
        sum += w + (counts ? counts[0] : 0);
    }
    TIFFClose(t);
    return sum;
}

void BM_LibtiffSetDirectoryRandom(benchmark::State& state) {
    const uint32_t pages = uint32_t(state.range(0));
    std::string path = make_file(pages);
    for (auto _ : state) benchmark::DoNotOptimize(lt_info_random(path, pages));
    state.SetItemsProcessed(state.iterations() * kRandomLookups);
}
BENCHMARK(BM_LibtiffSetDirectoryRandom)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
#endif

void summary() {
    std::printf("\npage information, ns per page (best of 7)   pages   qvtav");
#ifdef QVTAV_HAVE_LIBTIFF
    std::printf("   libtiff   qvtav/libtiff");
#endif
    std::printf("\n");
    for (uint32_t pages : {1000u, 10000u}) {
        std::string path = make_file(pages);
        double q = ns_per_page([&] { return qv_info_all(path); }, pages);
#ifdef QVTAV_HAVE_LIBTIFF
        double l = ns_per_page([&] { return lt_info_all(path); }, pages);
        std::printf("every page in order                         %5u %7.1f %9.1f %11.2f\n", pages,
                    q, l, q / l);
#else
        std::printf("every page in order                         %5u %7.1f\n", pages, q);
#endif
    }
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }
