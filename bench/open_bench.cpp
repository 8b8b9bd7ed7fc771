// Opening and counting a plain-chain TIFF, and looking up every page in
// order, side by side with libtiff (TIFFNumberOfDirectories, and a
// TIFFReadDirectory loop) over the same file. Files of 1000 and 10 000
// pages show whether the cost is linear in the page count.
//
// After the benchmarks a summary prints the time per page of each and the
// ratio qvtav / libtiff (below 1: qvtav is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench_util.h"
#include "formats/tiff/tiff.h"
#include "frame/fct.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include "libtiff_page.h"
#endif

namespace {

using namespace bench;

// A plain chain of `pages` one-row bilevel pages. Written with libtiff when
// it is there (an independent writer), else byte by byte.
std::string make_file(uint32_t pages) {
    static std::map<uint32_t, std::string> made;
    auto it = made.find(pages);
    if (it != made.end()) return it->second;
    std::string path = bench_dir().file("chain" + std::to_string(pages) + ".tif");
#ifdef QVTAV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) std::abort();
    uint8_t row[2] = {0x55, 0xAA};
    for (uint32_t p = 0; p < pages; ++p) {
        bench::libtiff_bilevel_page(t, 16, 1, COMPRESSION_NONE, 200.0, 200.0);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(p), uint16_t(pages));
        if (TIFFWriteScanline(t, row, 0, 0) < 0 || !TIFFWriteDirectory(t)) std::abort();
    }
    TIFFClose(t);
#else
    LeBytes b;
    b.v = {'I', 'I', 42, 0, 0, 0, 0, 0};
    uint32_t prevLink = 4;
    for (uint32_t p = 0; p < pages; ++p) {
        uint32_t strip = b.size();
        b.put16(0xAA55);
        b.set32(prevLink, b.size());
        const uint16_t tags[][2] = {{256, 16}, {257, 1}, {258, 1}, {259, 1}, {262, 0}, {278, 1}};
        b.put16(8);
        for (auto& t : tags) b.entry(t[0], 3, 1, t[1]);
        b.entry(273, 4, 1, strip);
        b.entry(279, 4, 1, 2);
        prevLink = b.size();
        b.put32(0);
    }
    write_file(path, b.v);
#endif
    made[pages] = path;
    return path;
}

// ---- qvtav ----

int32_t qv_open(const std::string& path, uint32_t* pages) {
    PathBuf p(path);
    uint32_t type = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, pages, &err);
    if (h < 0 || type != FILETYPE_TIFF) std::abort();
    return h;
}

void qv_close(int32_t h) {
    uint32_t err = 0;
    xtavclose(&h, &err);
}

uint32_t qv_count(const std::string& path) {
    uint32_t pages = 0;
    qv_close(qv_open(path, &pages));
    return pages;
}

uint32_t qv_lookup_all(const std::string& path) {
    uint32_t pages = 0;
    int32_t h = qv_open(path, &pages);
    FctEntry* e = fct_entry_at(h);
    TiffDir dir;
    uint32_t sum = 0;
    for (uint32_t p = 0; p < pages; ++p) {
        if (tiff_page_dir(e, p, &dir) < 0) std::abort();
        sum += dir.entryCount;
    }
    qv_close(h);
    return sum;
}

void BM_QvtavOpenCount(benchmark::State& state) { every_page(state, make_file, qv_count); }

void BM_QvtavLookupEveryPage(benchmark::State& state) { every_page(state, make_file, qv_lookup_all); }

BENCHMARK(BM_QvtavOpenCount)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QvtavLookupEveryPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// ---- libtiff ----

#ifdef QVTAV_HAVE_LIBTIFF
uint32_t lt_count(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) std::abort();
    uint32_t n = TIFFNumberOfDirectories(t);
    TIFFClose(t);
    return n;
}

uint32_t lt_read_all(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) std::abort();
    uint32_t n = 1;
    while (TIFFReadDirectory(t)) ++n;
    TIFFClose(t);
    return n;
}

void BM_LibtiffOpenCount(benchmark::State& state) { every_page(state, make_file, lt_count); }

void BM_LibtiffReadDirectoryLoop(benchmark::State& state) { every_page(state, make_file, lt_read_all); }

BENCHMARK(BM_LibtiffOpenCount)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffReadDirectoryLoop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
#endif

// ---- summary ----

void summary() {
    std::printf("\nns per page (best of 7)        pages   qvtav");
#ifdef QVTAV_HAVE_LIBTIFF
    std::printf("   libtiff   qvtav/libtiff");
#endif
    std::printf("\n");
    for (uint32_t pages : {1000u, 10000u}) {
        std::string path = make_file(pages);
        if (qv_count(path) != pages) std::printf("qvtav counts %u pages!\n", qv_count(path));
        double qc = ns_per_page([&] { return qv_count(path); }, pages);
        double ql = ns_per_page([&] { return qv_lookup_all(path); }, pages);
#ifdef QVTAV_HAVE_LIBTIFF
        if (lt_count(path) != pages) std::printf("libtiff counts %u pages!\n", lt_count(path));
        double lc = ns_per_page([&] { return lt_count(path); }, pages);
        double ll = ns_per_page([&] { return lt_read_all(path); }, pages);
        std::printf("open and count                 %5u %7.1f %9.1f %11.2f\n", pages, qc, lc, qc / lc);
        std::printf("every page in order            %5u %7.1f %9.1f %11.2f\n", pages, ql, ll, ql / ll);
#else
        std::printf("open and count                 %5u %7.1f\n", pages, qc);
        std::printf("every page in order            %5u %7.1f\n", pages, ql);
#endif
    }
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }
