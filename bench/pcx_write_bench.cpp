// PCX run-length coding of a 50-megapixel 8-bit document page (7071 x
// 7071: white paper with lines of dark, anti-aliased strokes), written by
// xtavwrite in calls of 128 rows, side by side with Pillow's PCX encoder
// saving the same pixels ("L" image, so also an 8-bit page with its
// 256-colour palette) to a file in the same directory, run by
// /usr/bin/python3. Each side's best of five runs, file writing included.
//
// Prints "label : SECONDS s" lines (tools/bench_table.py reads them) and
// the throughputs in megapixels per second with the ratio qvtav / Pillow
// (the goal is at least 1.0).
#include <cstdio>
#include <cstring>

#include "bench_util.h"

namespace {

using namespace bench;

constexpr uint32_t kSide = 7071;
constexpr uint64_t kPixels = uint64_t(kSide) * kSide;
constexpr uint32_t kRowsPerCall = 128;
constexpr int kRuns = 5;
constexpr uint8_t kPaper = 0xFF;

// Text lines 40 rows apart, 22 rows high; inside a line, words of strokes
// 1 to 4 pixels wide in greys from black to light, between gaps of paper.
const std::vector<uint8_t>& page() {
    static const std::vector<uint8_t> px = [] {
        std::vector<uint8_t> v(kPixels, kPaper);
        uint32_t x = 12345;
        auto next = [&] { return (x = x * 1103515245u + 12345u) >> 16; };
        for (uint32_t y = 300; y + 22 < kSide - 300; y += 40) {
            for (uint32_t col = 400; col < kSide - 400;) {
                const uint32_t word = 30 + next() % 90;
                for (uint32_t end = std::min(col + word, kSide - 400); col < end;) {
                    const uint32_t stroke = 1 + next() % 4, gap = 1 + next() % 6;
                    for (uint32_t r = y + next() % 4; r < y + 22 - next() % 4; ++r)
                        for (uint32_t k = 0; k < stroke && col + k < kSide; ++k)
                            v[size_t(r) * kSide + col + k] = uint8_t(next() % 160);
                    col += stroke + gap;
                }
                col += 12 + next() % 10;
            }
        }
        return v;
    }();
    return px;
}

const std::string& raw_file() {
    static const std::string path = [] {
        std::string p = bench_dir().file("page.raw");
        write_file(p, page());
        return p;
    }();
    return path;
}

// One PCX file written through the library: its size.
uint64_t qv_write() {
    static std::vector<uint8_t> grey = [] {
        std::vector<uint8_t> g(768);
        for (uint32_t k = 0; k < 768; ++k) g[k] = uint8_t(k / 3);
        return g;
    }();
    const std::string path = bench_dir().file("qvtav.pcx");
    std::filesystem::remove(path);
    PathBuf p(path);
    uint32_t type = FILETYPE_PCX, err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    if (h < 0) std::abort();
    PageInfo info;
    std::memset(&info, 0, sizeof info);
    info.imageWidth = info.imageLength = kSide;
    info.bitsPerSample[0] = 8;
    info.samplesPerPixel = 1;
    info.photometric = TAV_PHOTO_PALETTE;
    info.area.palette.colorMapSize = 768;
    info.area.palette.colorMapBuffer = grey.data();
    if (xtavputi(&h, 1, &info, nullptr, &err) < 0) std::abort();
    const std::vector<uint8_t>& px = page();
    for (uint32_t y = 0; y < kSide; y += kRowsPerCall) {
        const uint32_t n = std::min(kRowsPerCall, kSide - y);
        auto* rows = const_cast<uint8_t*>(px.data() + size_t(y) * kSide);
        if (xtavwrite(&h, rows, n * kSide, 1, y + n == kSide, &err) < 0) std::abort();
    }
    if (xtavclose(&h, &err) < 0) std::abort();
    return std::filesystem::file_size(path);
}

// Pillow's best of kRuns saves, in seconds; negative when Python or Pillow
// cannot be run.
double pillow_seconds() {
    const std::string out = bench_dir().file("pillow.pcx");
    std::string cmd = "/usr/bin/python3 -c '"
                      "import sys, time\n"
                      "from PIL import Image\n"
                      "im = Image.frombytes(\"L\", (" + std::to_string(kSide) + ", " + std::to_string(kSide) +
                      "), open(sys.argv[1], \"rb\").read())\n"
                      "best = 1e9\n"
                      "for _ in range(" + std::to_string(kRuns) + "):\n"
                      "    t = time.perf_counter()\n"
                      "    im.save(sys.argv[2], \"PCX\")\n"
                      "    best = min(best, time.perf_counter() - t)\n"
                      "print(best)' " + raw_file() + " " + out + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double s = -1;
    if (std::fscanf(p, "%lf", &s) != 1) s = -1;
    pclose(p);
    return s;
}

}  // namespace

int main() {
    raw_file();
    const double qv = best_seconds(qv_write, kRuns);
    const uint64_t size = qv_write();
    const double pil = pillow_seconds();
    const double mp = double(kPixels) / 1e6;
    std::printf("50-megapixel 8-bit document page, PCX (best of %d); qvtav file %llu bytes\n", kRuns,
                static_cast<unsigned long long>(size));
    std::printf("pcx encode, qvtav xtavwrite : %.4f s\n", qv);
    if (pil <= 0) {
        std::printf("Pillow: not available\n");
        return 0;
    }
    std::printf("pcx encode, Pillow save : %.4f s\n", pil);
    std::printf("qvtav %.0f Mpixel/s   Pillow %.0f Mpixel/s   ratio %.2f\n", mp / qv, mp / pil, pil / qv);
    return 0;
}
