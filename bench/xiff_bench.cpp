// A decoded XIFF page through the library (xtavopen, xtavgeti, one xtavread
// of the whole page, xtavclose) side by side with libtiff decoding the same
// page's strip directly: what the reader binding, the byte-stream object,
// the file layer and the resampling add. Pages: a 2550 x 3300 CCITT T.6
// page at 300 dpi (delivered at 1275 x 1650) and a 1200 x 1600 RGB page at
// 150 dpi (delivered as it is).
//
// After the benchmarks a summary prints both times per page and the ratio
// qvtav / libtiff.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include "xiff_files.h"

namespace {

using namespace bench;

XiffPagePlan fax_page() {
    XiffPagePlan p;
    p.width = 2550;
    p.length = 3300;
    p.compression = COMPRESSION_CCITTFAX4;
    return p;
}

XiffPagePlan rgb_page() {
    XiffPagePlan p;
    p.width = 1200;
    p.length = 1600;
    p.bits = 8;
    p.samples = 3;
    p.photometric = PHOTOMETRIC_RGB;
    p.xRes = p.yRes = {150, 1};
    return p;
}

const std::string& page_file(int which) {
    static const std::string paths[2] = {
        [] { std::string p = bench_dir().file("fax.xif"); write_file(p, xiff_file({fax_page()})); return p; }(),
        [] { std::string p = bench_dir().file("rgb.xif"); write_file(p, xiff_file({rgb_page()})); return p; }(),
    };
    return paths[which];
}

// The page through the library: its decoded bytes.
uint64_t qv_page(int which) {
    PathBuf p(page_file(which));
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, &pages, &err);
    if (h < 0) std::abort();
    PageInfo info;
    std::memset(&info, 0, sizeof info);
    PageSizes sizes;
    std::memset(&sizes, 0, sizeof sizes);
    if (xtavgeti(&h, 1, &info, &sizes, &err) < 0) std::abort();
    std::vector<uint8_t> rows(sizes.dataBytes);
    uint32_t remaining = 0;
    if (xtavread(&h, rows.data(), 0, sizes.dataBytes, &remaining, 1, &err) < 0) std::abort();
    xtavclose(&h, &err);
    return rows.size();
}

// The same page decoded by libtiff alone, its one strip at once ("c": not
// cut into smaller strips), at its full size: the least a direct reader does.
uint64_t libtiff_page(int which) {
    TIFF* t = TIFFOpen(page_file(which).c_str(), "rc");
    if (!t) std::abort();
    std::vector<uint8_t> rows(size_t(TIFFStripSize(t)));
    if (TIFFReadEncodedStrip(t, 0, rows.data(), tmsize_t(rows.size())) < 0) std::abort();
    TIFFClose(t);
    return rows.size();
}

void BM_XiffPageQvtav(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(qv_page(int(state.range(0))));
}

void BM_XiffPageLibtiff(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(libtiff_page(int(state.range(0))));
}

BENCHMARK(BM_XiffPageQvtav)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XiffPageLibtiff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void summary() {
    const char* names[2] = {"2550 x 3300 T.6 at 300 dpi", "1200 x 1600 RGB at 150 dpi"};
    for (int which = 0; which < 2; ++which) {
        double q = best_seconds([&] { return qv_page(which); }, 5) * 1e3;
        double t = best_seconds([&] { return libtiff_page(which); }, 5) * 1e3;
        std::printf("%-28s (best of 5)   qvtav %7.2f ms   libtiff %7.2f ms   ratio %.2f\n", names[which], q, t,
                    q / t);
    }
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }

#else
int main() {
    std::puts("xiff_bench needs libtiff");
    return 0;
}
#endif
