// Writing multi-page TIFF files of pre-compressed pages, side by side with
// libtiff writing the same raw strips and directories; and the cost of
// appending one page to a large file that carries a page offset table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

using namespace bench;
using TempDir = BenchDir;

constexpr uint32_t kWidth = 1024, kLength = 800;  // 1 bit: 102400 bytes a page

const std::vector<uint8_t>& page_data() {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(kWidth / 8 * kLength);
        uint32_t x = 12345;
        for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        return v;
    }();
    return data;
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
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return info;
}

bool write_ours(const std::string& path, int pages) {
    PathBuf p(path);
    uint32_t type = FILETYPE_TIFF, err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    if (h <= 0) return false;
    std::vector<uint8_t> data = page_data();
    for (int i = 1; i <= pages; ++i) {
        PageInfo info = page_info();
        if (xtavputi(&h, uint16_t(i), &info, nullptr, &err) < 0) return false;
        if (xtavwrite(&h, data.data(), uint32_t(data.size()), uint16_t(i), 1, &err) < 0) return false;
    }
    return xtavclose(&h, &err) == 0;
}

// System calls of this process so far (reads, writes).
void io_calls(uint64_t* reads, uint64_t* writes) {
    auto io = io_counters();
    *reads = uint64_t(io["syscr:"]);
    *writes = uint64_t(io["syscw:"]);
}

void BM_QvtavWritePages(benchmark::State& state) {
    TempDir dir;
    int pages = int(state.range(0));
    for (auto _ : state) {
        std::string path = dir.file("q.tif");
        if (!write_ours(path, pages)) state.SkipWithError("write failed");
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * pages * int64_t(page_data().size()));
    state.counters["us_per_page"] = benchmark::Counter(
        double(pages) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QvtavWritePages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef QVTAV_HAVE_LIBTIFF
void BM_LibtiffWritePages(benchmark::State& state) {
    TempDir dir;
    int pages = int(state.range(0));
    std::vector<uint8_t> data = page_data();
    for (auto _ : state) {
        std::string path = dir.file("l.tif");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        for (int i = 0; i < pages; ++i) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, kLength);
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
            TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kLength);
            TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0f);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0f);
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            TIFFSetField(t, TIFFTAG_SOFTWARE, "libtiff bench");
            TIFFWriteRawStrip(t, 0, data.data(), tmsize_t(data.size()));
            TIFFWriteDirectory(t);
        }
        TIFFClose(t);
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * pages * int64_t(data.size()));
    state.counters["us_per_page"] = benchmark::Counter(
        double(pages) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LibtiffWritePages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

// Open a file of many small pages with a page offset table for update,
// append one page, close: the read and write calls it costs.
void BM_AppendOneToLargeFile(benchmark::State& state) {
    TempDir dir;
    int pages = int(state.range(0));
    std::string base = dir.file("base.tif");
    {
        PathBuf p(base);
        uint32_t type = FILETYPE_TIFF, err = 0;
        int32_t h = xtavcreat(nullptr, p, &type, &err);
        uint8_t small[16] = {};
        for (int i = 1; i <= pages; ++i) {
            PageInfo info = page_info();
            info.imageLength = 1;
            xtavputi(&h, uint16_t(i), &info, nullptr, &err);
            xtavwrite(&h, small, sizeof small, uint16_t(i), 1, &err);
        }
        xtavclose(&h, &err);
    }
    std::vector<uint8_t> original = read_file(base);
    std::string path = dir.file("append.tif");
    uint64_t reads = 0, writes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        write_file(path, original);
        state.ResumeTiming();
        uint64_t r0 = 0, w0 = 0, r1 = 0, w1 = 0;
        io_calls(&r0, &w0);
        PathBuf p(path);
        uint32_t type = 0, count = 0, err = 0;
        int32_t h = xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &type, &count, &err);
        if (h <= 0 || count != uint32_t(pages)) {
            state.SkipWithError("open for update failed");
            break;
        }
        PageInfo info = page_info();
        std::vector<uint8_t> data = page_data();
        xtavputi(&h, uint16_t(pages + 1), &info, nullptr, &err);
        xtavwrite(&h, data.data(), uint32_t(data.size()), uint16_t(pages + 1), 1, &err);
        if (xtavclose(&h, &err) != 0) state.SkipWithError("close failed");
        io_calls(&r1, &w1);
        // The /proc reads of io_calls itself count one read each time.
        reads = r1 - r0;
        writes = w1 - w0;
    }
    state.counters["read_calls"] = double(reads);
    state.counters["write_calls"] = double(writes);
}
BENCHMARK(BM_AppendOneToLargeFile)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
