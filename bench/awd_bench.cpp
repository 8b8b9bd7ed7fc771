// AWD documents through the library side by side with libtiff on the same
// pages: 20 fax pages of 1728 x 2200 at 200 dpi.
//  - reading: every page of an AWD file (xtavopen, xtavgeti with bands of
//    about 64 KB, xtavread band by band, xtavclose) against libtiff decoding
//    the same pages, row by row, from a 20-page CCITT T.6 TIFF file;
//  - writing: a new AWD file of the 20 pages (xtavcreat, xtavputi and
//    xtavwrite of each page's rows, xtavclose) against libtiff writing the
//    20-page T.6 file. Each AWD page becomes a document of its own, stored
//    into the compound file, with its records and the display order.
//
// After the benchmarks a summary prints both times per run and the ratio
// qvtav / libtiff.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>

namespace {

using namespace bench;

constexpr uint32_t kPages = 20;
constexpr uint32_t kWidth = 1728, kHeight = 2200, kRowBytes = kWidth / 8;
constexpr uint16_t kBandBytes = 65000;

// A fax-like page: text lines of short black runs on white.
const std::vector<uint8_t>& page_rows(uint32_t page) {
    static std::vector<std::vector<uint8_t>> pages = [] {
        std::vector<std::vector<uint8_t>> all(kPages, std::vector<uint8_t>(size_t(kRowBytes) * kHeight, 0));
        for (uint32_t p = 0; p < kPages; ++p)
            for (uint32_t y = 0; y < kHeight; ++y)
                if ((y / 12 + p) % 3 != 0 && y % 12 < 9)
                    for (uint32_t b = 4; b < kRowBytes - 4; b += 3 + (y + b + p) % 5)
                        all[p][size_t(y) * kRowBytes + b] = uint8_t(0x3C ^ (y * 7 + b));
        return all;
    }();
    return pages[page];
}

uint64_t qv_write(const std::string& path) {
    std::remove(path.c_str());
    PathBuf p(path);
    uint32_t type = FILETYPE_AWD, err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    if (h < 0) std::abort();
    for (uint16_t page = 1; page <= kPages; ++page) {
        PageInfo info;
        std::memset(&info, 0, sizeof info);
        info.imageWidth = kWidth;
        info.xResNum = info.yResNum = 200;
        info.stripCount = TAV_AWD_PAIR(100, 100);
        const std::vector<uint8_t>& rows = page_rows(page - 1u);
        uint8_t none = 0;
        if (xtavputi(&h, page, &info, nullptr, &err) < 0 ||
            xtavwrite(&h, const_cast<uint8_t*>(rows.data()), uint32_t(rows.size()), page, 0, &err) < 0 ||
            xtavwrite(&h, &none, 0, page, 0, &err) < 0)
            std::abort();
    }
    if (xtavclose(&h, &err) < 0) std::abort();
    return kPages;
}

uint64_t libtiff_write(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) std::abort();
    std::vector<uint8_t> row(kRowBytes);
    for (uint32_t p = 0; p < kPages; ++p) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kHeight);
        for (uint32_t y = 0; y < kHeight; ++y) {
            std::memcpy(row.data(), page_rows(p).data() + size_t(y) * kRowBytes, kRowBytes);
            if (TIFFWriteScanline(t, row.data(), y, 0) != 1) std::abort();
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return kPages;
}

const std::string& awd_file() {
    static const std::string path = [] {
        std::string p = bench_dir().file("read.awd");
        qv_write(p);
        return p;
    }();
    return path;
}

const std::string& tiff_file() {
    static const std::string path = [] {
        std::string p = bench_dir().file("read.tif");
        libtiff_write(p);
        return p;
    }();
    return path;
}

uint64_t qv_read() {
    PathBuf p(awd_file());
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h < 0 || pages != kPages) std::abort();
    std::vector<uint8_t> band(kBandBytes);
    uint64_t bytes = 0;
    for (uint16_t page = 1; page <= pages; ++page) {
        PageInfo info;
        std::memset(&info, 0, sizeof info);
        info.maxStripSize = TAV_AWD_PAIR(kBandBytes, 0);
        PageSizes sizes;
        std::memset(&sizes, 0, sizeof sizes);
        if (xtavgeti(&h, page, &info, &sizes, &err) < 0) std::abort();
        for (;;) {
            uint32_t remaining = 0;
            int32_t got = xtavread(&h, band.data(), 0, TAV_AWD_LOW(info.maxStripSize), &remaining, page, &err);
            if (got < 0) std::abort();
            if (got == 0) break;
            bytes += uint32_t(got);
        }
    }
    xtavclose(&h, &err);
    return bytes;
}

uint64_t libtiff_read() {
    TIFF* t = TIFFOpen(tiff_file().c_str(), "r");
    if (!t) std::abort();
    std::vector<uint8_t> row(kRowBytes);
    uint64_t bytes = 0;
    do {
        for (uint32_t y = 0; y < kHeight; ++y, bytes += kRowBytes)
            if (TIFFReadScanline(t, row.data(), y, 0) != 1) std::abort();
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return bytes;
}

void BM_AwdRead20Pages(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(qv_read());
}
void BM_LibtiffRead20Pages(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(libtiff_read());
}
void BM_AwdWrite20Pages(benchmark::State& state) {
    std::string path = bench_dir().file("write.awd");
    for (auto _ : state) benchmark::DoNotOptimize(qv_write(path));
}
void BM_LibtiffWrite20Pages(benchmark::State& state) {
    std::string path = bench_dir().file("write.tif");
    for (auto _ : state) benchmark::DoNotOptimize(libtiff_write(path));
}

BENCHMARK(BM_AwdRead20Pages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffRead20Pages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AwdWrite20Pages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffWrite20Pages)->Unit(benchmark::kMillisecond);

void summary() {
    std::string awd = bench_dir().file("sum.awd"), tif = bench_dir().file("sum.tif");
    double qr = best_seconds(qv_read, 5) * 1e3, tr = best_seconds(libtiff_read, 5) * 1e3;
    double qw = best_seconds([&] { return qv_write(awd); }, 3) * 1e3;
    double tw = best_seconds([&] { return libtiff_write(tif); }, 3) * 1e3;
    std::printf("read 20 pages  (best of 5)   qvtav %8.2f ms   libtiff %8.2f ms   ratio %.2f\n", qr, tr, qr / tr);
    std::printf("write 20 pages (best of 3)   qvtav %8.2f ms   libtiff %8.2f ms   ratio %.2f\n", qw, tw, qw / tw);
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }

#else
int main() {
    std::puts("awd_bench needs libtiff");
    return 0;
}
#endif
