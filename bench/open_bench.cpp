// Opening and counting a plain-chain TIFF, and looking up every page in
// order, side by side with libtiff (TIFFNumberOfDirectories, and a
// TIFFReadDirectory loop) over the same file. Files of 1000 and 10 000
// pages show whether the cost is linear in the page count.
//
// After the benchmarks a summary prints the time per page of each and the
// ratio qvtav / libtiff (below 1: qvtav is faster).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frame/fct.h"
#include "qvtav.h"
#include "tiff/tiff.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

// A directory of its own under the temporary directory, removed at exit.
struct BenchDir {
    std::string path;
    BenchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string t = std::string(base && *base ? base : "/tmp") + "/qvtav-bench-XXXXXX";
        std::vector<char> buf(t.begin(), t.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) std::abort();
        path = buf.data();
    }
    ~BenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

BenchDir& bench_dir() {
    static BenchDir dir;
    return dir;
}

struct PathBuf {
    char s[TAV_PATH_SIZE];
    explicit PathBuf(const std::string& p) { std::snprintf(s, sizeof s, "%s", p.c_str()); }
    operator char*() { return s; }
};

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
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16u);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1u);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(p), uint16_t(pages));
        if (TIFFWriteScanline(t, row, 0, 0) < 0 || !TIFFWriteDirectory(t)) std::abort();
    }
    TIFFClose(t);
#else
    std::vector<uint8_t> v = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&](uint16_t x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); };
    auto put32 = [&](uint32_t x) { put16(uint16_t(x)); put16(uint16_t(x >> 16)); };
    uint32_t prevLink = 4;
    for (uint32_t p = 0; p < pages; ++p) {
        uint32_t strip = uint32_t(v.size());
        put16(0xAA55);
        uint32_t ifd = uint32_t(v.size());
        v[prevLink] = uint8_t(ifd);
        v[prevLink + 1] = uint8_t(ifd >> 8);
        v[prevLink + 2] = uint8_t(ifd >> 16);
        v[prevLink + 3] = uint8_t(ifd >> 24);
        const uint16_t tags[][2] = {{256, 16}, {257, 1}, {258, 1}, {259, 1}, {262, 0}, {278, 1}};
        put16(8);
        for (auto& t : tags) { put16(t[0]); put16(3); put32(1); put16(t[1]); put16(0); }
        put16(273); put16(4); put32(1); put32(strip);
        put16(279); put16(4); put32(1); put32(2);
        prevLink = uint32_t(v.size());
        put32(0);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()),
                                                std::streamsize(v.size()));
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

void BM_QvtavOpenCount(benchmark::State& state) {
    std::string path = make_file(uint32_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(qv_count(path));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_QvtavLookupEveryPage(benchmark::State& state) {
    std::string path = make_file(uint32_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(qv_lookup_all(path));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

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

void BM_LibtiffOpenCount(benchmark::State& state) {
    std::string path = make_file(uint32_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(lt_count(path));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LibtiffReadDirectoryLoop(benchmark::State& state) {
    std::string path = make_file(uint32_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(lt_read_all(path));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_LibtiffOpenCount)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffReadDirectoryLoop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
#endif

// ---- summary ----

// Best of several runs, in nanoseconds per page.
double per_page(const std::function<uint32_t()>& f, uint32_t pages) {
    double best = 1e300;
    for (int i = 0; i < 7; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(f());
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    return best / pages;
}

void summary() {
    std::printf("\nns per page (best of 7)        pages   qvtav");
#ifdef QVTAV_HAVE_LIBTIFF
    std::printf("   libtiff   qvtav/libtiff");
#endif
    std::printf("\n");
    for (uint32_t pages : {1000u, 10000u}) {
        std::string path = make_file(pages);
        if (qv_count(path) != pages) std::printf("qvtav counts %u pages!\n", qv_count(path));
        double qc = per_page([&] { return qv_count(path); }, pages);
        double ql = per_page([&] { return qv_lookup_all(path); }, pages);
#ifdef QVTAV_HAVE_LIBTIFF
        if (lt_count(path) != pages) std::printf("libtiff counts %u pages!\n", lt_count(path));
        double lc = per_page([&] { return lt_count(path); }, pages);
        double ll = per_page([&] { return lt_read_all(path); }, pages);
        std::printf("open and count                 %5u %7.1f %9.1f %11.2f\n", pages, qc, lc, qc / lc);
        std::printf("every page in order            %5u %7.1f %9.1f %11.2f\n", pages, ql, ll, ql / ll);
#else
        std::printf("open and count                 %5u %7.1f\n", pages, qc);
        std::printf("every page in order            %5u %7.1f\n", pages, ql);
#endif
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    summary();
    return 0;
}
