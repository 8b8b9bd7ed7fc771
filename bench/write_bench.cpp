// Writing multi-page TIFF files of pre-compressed pages, side by side with
// libtiff writing the same raw strips and directories (TIFFWriteRawStrip,
// TIFFWriteDirectory): 1000 pages of 100 KB and 10 000 pages of 300 bytes.
// And the cost of appending one page to a large file that carries a page
// offset table.
//
// After the benchmarks a summary times both writers in alternation (so disk
// write-back and other load fall on both alike) and prints the median time
// per page and the ratio qvtav / libtiff (the goal is at most 1.0): once on
// its own, once while another process writes small pages through the
// library and so takes the same named locks.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
using TempDir = BenchDir;

constexpr uint32_t kWidth = 1024, kLength = 800;  // 1 bit: 102400 bytes a page uncompressed

// The two page sizes written: a large page and a small (well compressed) one.
constexpr uint32_t kLargePage = kWidth / 8 * kLength;
constexpr uint32_t kSmallPage = 300;

struct WriteCase {
    int pages;
    uint32_t pageBytes;
};
constexpr WriteCase kCases[] = {{1000, kLargePage}, {10000, kSmallPage}};

// Stand-in compressed data: the first `bytes` of a fixed pseudo-random page.
std::vector<uint8_t> page_data(uint32_t bytes = kLargePage) {
    static const std::vector<uint8_t> full = [] {
        std::vector<uint8_t> v(kLargePage);
        uint32_t x = 12345;
        for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        return v;
    }();
    return std::vector<uint8_t>(full.begin(), full.begin() + std::min(bytes, kLargePage));
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

bool write_ours(const std::string& path, int pages, const std::vector<uint8_t>& data) {
    PathBuf p(path);
    uint32_t type = FILETYPE_TIFF, err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    if (h <= 0) return false;
    for (int i = 1; i <= pages; ++i) {
        PageInfo info = page_info();
        if (xtavputi(&h, uint16_t(i), &info, nullptr, &err) < 0) return false;
        if (xtavwrite(&h, const_cast<uint8_t*>(data.data()), uint32_t(data.size()), uint16_t(i), 1,
                      &err) < 0)
            return false;
    }
    return xtavclose(&h, &err) == 0;
}

#ifdef QVTAV_HAVE_LIBTIFF
bool write_libtiff(const std::string& path, int pages, const std::vector<uint8_t>& data) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    bool ok = true;
    for (int i = 0; i < pages && ok; ++i) {
        bench::libtiff_bilevel_page(t, kWidth, kLength, COMPRESSION_CCITTFAX4, 200.0, 200.0);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_SOFTWARE, "libtiff bench");
        ok = TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(data.data()), tmsize_t(data.size())) >= 0 &&
             TIFFWriteDirectory(t) == 1;
    }
    TIFFClose(t);
    return ok;
}
#endif

using Writer = bool (*)(const std::string&, int, const std::vector<uint8_t>&);

// One benchmark body for either writer: pages of state.range(1) bytes,
// state.range(0) of them, into a new file each iteration.
void write_pages(benchmark::State& state, Writer writer, const char* name) {
    TempDir dir;
    int pages = int(state.range(0));
    std::vector<uint8_t> data = page_data(uint32_t(state.range(1)));
    for (auto _ : state) {
        std::string path = dir.file(name);
        if (!writer(path, pages, data)) state.SkipWithError("write failed");
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * pages * int64_t(data.size()));
    state.counters["us_per_page"] = benchmark::Counter(
        double(pages) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_QvtavWritePages(benchmark::State& state) { write_pages(state, write_ours, "q.tif"); }
BENCHMARK(BM_QvtavWritePages)
    ->Args({kCases[0].pages, kCases[0].pageBytes})
    ->Args({kCases[1].pages, kCases[1].pageBytes})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

#ifdef QVTAV_HAVE_LIBTIFF
void BM_LibtiffWritePages(benchmark::State& state) { write_pages(state, write_libtiff, "l.tif"); }
BENCHMARK(BM_LibtiffWritePages)
    ->Args({kCases[0].pages, kCases[0].pageBytes})
    ->Args({kCases[1].pages, kCases[1].pageBytes})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
#endif

// System calls of this process so far (reads, writes).
void io_calls(uint64_t* reads, uint64_t* writes) {
    auto io = io_counters();
    *reads = uint64_t(io["syscr:"]);
    *writes = uint64_t(io["syscw:"]);
}

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

// ---- summary ----

constexpr int kSummaryRounds = 9;

// Wall time of one whole write, in microseconds per page; the file is
// removed afterwards, outside the timing.
double us_per_page(Writer writer, const std::string& path, int pages, const std::vector<uint8_t>& data) {
    bool ok = true;
    double s = seconds_of([&] { ok = writer(path, pages, data); });
    std::remove(path.c_str());
    if (!ok) std::printf("write of %s failed!\n", path.c_str());
    return s * 1e6 / pages;
}

// A process that writes small pages through the library, file after file,
// until it is stopped.
class BackgroundWriter {
public:
    BackgroundWriter() : pid_(fork()) {
        if (pid_ != 0) return;
        std::vector<uint8_t> data = page_data(kSmallPage);
        std::string path = bench_dir().file("background.tif");
        for (;;) {
            write_ours(path, 1000, data);
            std::remove(path.c_str());
        }
    }
    ~BackgroundWriter() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

private:
    pid_t pid_;
};

void summary_rows(const char* condition) {
    for (const WriteCase& c : kCases) {
        std::vector<uint8_t> data = page_data(c.pageBytes);
        std::vector<double> ours, theirs;
        for (int round = 0; round < kSummaryRounds; ++round) {
            ours.push_back(us_per_page(write_ours, bench_dir().file("q.tif"), c.pages, data));
#ifdef QVTAV_HAVE_LIBTIFF
            theirs.push_back(us_per_page(write_libtiff, bench_dir().file("l.tif"), c.pages, data));
#endif
        }
        std::printf("%-34s %5d %6u %8.2f", condition, c.pages, c.pageBytes, median(ours));
#ifdef QVTAV_HAVE_LIBTIFF
        std::printf(" %8.2f %14.2f", median(theirs), median(ours) / median(theirs));
#endif
        std::printf("\n");
    }
}

void summary() {
    std::printf("\nus per page, median of %d, writers alternating\n", kSummaryRounds);
    std::printf("%-34s %5s %6s %8s", "", "pages", "bytes", "qvtav");
#ifdef QVTAV_HAVE_LIBTIFF
    std::printf(" %8s %14s", "libtiff", "qvtav/libtiff");
#endif
    std::printf("\n");
    summary_rows("alone");
    BackgroundWriter other;
    summary_rows("another process writing meanwhile");
}

}  // namespace

int main(int argc, char** argv) { return run_benchmarks(argc, argv, summary); }
