// qvtav render and qvtav sheet as whole processes, the way a person runs
// them:
//  - a 1728 x 2200 CCITT G4 fax page at 204 x 196 dpi (rows of text-like
//    marks, about as dense as a typed letter) to PNG: `qvtav render` beside
//    ImageMagick's `convert page.tif page.png`, the median of 9 runs each,
//    taken in turns;
//  - a contact sheet of a 100-page fax of such pages (each page its own)
//    with `qvtav sheet`, the median of 5 runs, beside its goal of 2 s; the
//    processor time of those runs is shown too, since on a shared machine
//    the elapsed time also counts the other programs' turns;
//    (ImageMagick's montage cannot take 100 fax pages within its default
//    resource limits, so it has no time to stand beside).
// The pages are written with libtiff; the qvtav program is the one beside
// this benchmark.
#include <sys/resource.h>
#include <tiffio.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "libtiff_page.h"

namespace {

using namespace bench;

constexpr uint32_t kWidth = 1728, kLength = 2200;
constexpr uint32_t kRowBytes = kWidth / 8;
constexpr uint32_t kSheetPages = 100;
constexpr int kPageRuns = 9, kSheetRuns = 5;
constexpr double kSheetGoalSeconds = 2.0;
// Text lines of marks 12 x 18 pixels, 44 pixels apart, inside margins.
constexpr uint32_t kMargin = 120, kLineStep = 44, kMarkWidth = 12, kMarkHeight = 18;

void mark(std::vector<uint8_t>& rows, uint32_t x0, uint32_t y0, std::mt19937& rng) {
    // A glyph-like mark: a few strokes of a 3 x 3 grid of cells.
    const uint32_t strokes = rng();
    for (uint32_t y = 0; y < kMarkHeight; ++y)
        for (uint32_t x = 0; x < kMarkWidth; ++x) {
            const uint32_t cell = (y / 6) * 3 + x / 4;
            const bool edge = x % 4 == 0 || y % 6 == 0;
            if ((strokes >> cell) & 1 && edge) rows[(y0 + y) * kRowBytes + (x0 + x) / 8] |= uint8_t(0x80 >> ((x0 + x) % 8));
        }
}

// A page of text-like rows, 1 black (min-is-white).
std::vector<uint8_t> fax_rows(uint32_t seed) {
    std::vector<uint8_t> rows(size_t(kRowBytes) * kLength, 0);
    std::mt19937 rng(seed);
    for (uint32_t y = kMargin; y + kMarkHeight < kLength - kMargin; y += kLineStep) {
        uint32_t x = kMargin;
        while (x + 10 * kMarkWidth < kWidth - kMargin) {
            const uint32_t letters = 2 + rng() % 8;
            for (uint32_t k = 0; k < letters; ++k, x += kMarkWidth + 2) mark(rows, x, y, rng);
            x += kMarkWidth;
        }
    }
    return rows;
}

void write_fax(const std::string& path, uint32_t pages) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) std::abort();
    for (uint32_t p = 0; p < pages; ++p) {
        std::vector<uint8_t> rows = fax_rows(p + 1);
        bench::libtiff_bilevel_page(t, kWidth, kLength, COMPRESSION_CCITTFAX4, 204.0, 196.0);
        for (uint32_t y = 0; y < kLength; ++y)
            if (TIFFWriteScanline(t, rows.data() + size_t(y) * kRowBytes, y, 0) != 1) std::abort();
        if (!TIFFWriteDirectory(t)) std::abort();
    }
    TIFFClose(t);
}

std::string beside_me(const char* program) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return self.substr(0, self.rfind('/') + 1) + program;
}

double run_seconds(const std::string& cmd) {
    return seconds_of([&] {
        if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", cmd.c_str());
            std::exit(1);
        }
    });
}

// Processor time (user and system) used so far by the programs this one ran.
double children_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

}  // namespace

int main() {
    const std::string page = bench_dir().file("page.tif"), fax = bench_dir().file("fax100.tif");
    write_fax(page, 1);
    write_fax(fax, kSheetPages);
    const std::string qvtav = beside_me("qvtav");
    const std::string render = qvtav + " render " + page + " -o " + bench_dir().file("q.png");
    const std::string convert = "convert " + page + " " + bench_dir().file("m.png");
    const bool haveConvert = std::system("command -v convert >/dev/null 2>&1") == 0;

    std::vector<double> ours, theirs;
    for (int i = 0; i < kPageRuns; ++i) {
        ours.push_back(run_seconds(render));
        if (haveConvert) theirs.push_back(run_seconds(convert));
    }
    std::printf("page: %u x %u CCITT G4, %lld bytes; median of %d runs each\n", kWidth, kLength,
                static_cast<long long>(std::filesystem::file_size(page)), kPageRuns);
    std::printf("qvtav render page.tif -o page.png : %8.4f s\n", median(ours));
    if (haveConvert)
        std::printf("convert page.tif page.png         : %8.4f s  ratio qvtav / convert = %.2f (goal <= 1)\n",
                    median(theirs), median(ours) / median(theirs));
    else
        std::printf("ImageMagick's convert not installed: comparison skipped\n");

    std::vector<double> sheets, sheetCpu;
    for (int i = 0; i < kSheetRuns; ++i) {
        const double cpu0 = children_cpu_seconds();
        sheets.push_back(run_seconds(qvtav + " sheet " + fax + " -o " + bench_dir().file("s.png")));
        sheetCpu.push_back(children_cpu_seconds() - cpu0);
    }
    std::printf("qvtav sheet of %u fax pages       : %8.4f s  (goal: under %.0f s)\n", kSheetPages, median(sheets),
                kSheetGoalSeconds);
    std::printf("  its processor time (user + system): %8.4f s\n", median(sheetCpu));
    std::printf("goal for a sheet of %u fax pages   : %8.4f s\n", kSheetPages, kSheetGoalSeconds);
    return 0;
}
