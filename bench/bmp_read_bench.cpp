// A 32-bit BMP page of 10 000 x 10 000 pixels (400 MB stored) delivered by
// xtavread as 24-bit rows (300 MB) in 1 MB pieces, side by side with
// Pillow's decode of the same file (Image.open(path).load(), which unpacks
// the pixels to its own RGB layout), run by /usr/bin/python3. Both read the
// file from the page cache (it is read once first).
//
// The summary prints both throughputs in megapixels per second and the
// ratio qvtav / Pillow (the goal is at least 1.0).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bench_util.h"

namespace {

using namespace bench;

constexpr uint32_t kSide = 10000;
constexpr uint64_t kPixels = uint64_t(kSide) * kSide;
constexpr uint32_t kHeaderBytes = 14 + 40;
constexpr uint32_t kPiece = 1u << 20;
constexpr int kRuns = 5;

// File header, 40-byte information header (32 bits, no compression), then
// the pixels, row after row.
std::string make_file() {
    std::string path = bench_dir().file("big32.bmp");
    const uint32_t storedRow = 4 * kSide;
    LeBytes h;
    h.v = {'B', 'M'};
    h.put32(uint32_t(kHeaderBytes + uint64_t(storedRow) * kSide));
    h.put32(0);
    h.put32(kHeaderBytes);
    h.put32(40), h.put32(kSide), h.put32(kSide);
    h.put16(1), h.put16(32);
    // Compression, image size, pixels per metre (x, y), colours used and
    // important.
    for (uint32_t v : {0u, 0u, 3780u, 3780u, 0u, 0u}) h.put32(v);
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, h.v.data(), h.v.size()) != ssize_t(h.v.size())) std::abort();
    std::vector<uint8_t> row(storedRow);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < storedRow; ++x) row[x] = uint8_t(x * 7 + y * 13);
        if (::write(fd, row.data(), row.size()) != ssize_t(row.size())) std::abort();
    }
    ::close(fd);
    return path;
}

const std::string& bench_file() {
    static const std::string path = make_file();
    return path;
}

// xtavopen, xtavgeti, then xtavread in 1 MB pieces to the end: the
// delivered bytes.
uint64_t qv_deliver_all() {
    static std::vector<uint8_t> buf(kPiece);
    PathBuf p(bench_file());
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, 0, &type, &pages, &err);
    if (h < 0) std::abort();
    PageInfo pi;
    std::memset(&pi, 0, sizeof pi);
    PageSizes ps;
    std::memset(&ps, 0, sizeof ps);
    if (xtavgeti(&h, 1, &pi, &ps, &err) < 0 || ps.dataBytes != 3 * kPixels) std::abort();
    uint64_t total = 0;
    uint32_t remaining = ps.dataBytes;
    for (uint32_t pos = 0; remaining > 0;) {
        int32_t r = xtavread(&h, buf.data(), pos, std::min(kPiece, ps.dataBytes - pos), &remaining, 1, &err);
        if (r <= 0) std::abort();
        pos += uint32_t(r);
        total += uint32_t(r);
    }
    xtavclose(&h, &err);
    return total;
}

void BM_XtavreadBmp32To24(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(qv_deliver_all());
    state.SetItemsProcessed(int64_t(state.iterations() * kPixels));
}
BENCHMARK(BM_XtavreadBmp32To24)->Unit(benchmark::kMillisecond)->Iterations(3);

// Pillow's best of kRuns decodes, in seconds; negative when Python or
// Pillow cannot be run.
double pillow_seconds() {
    std::string cmd = "/usr/bin/python3 -c '"
                      "import sys, time\n"
                      "from PIL import Image\n"
                      "best = 1e9\n"
                      "for _ in range(" + std::to_string(kRuns) + "):\n"
                      "    t = time.perf_counter()\n"
                      "    im = Image.open(sys.argv[1]); im.load()\n"
                      "    best = min(best, time.perf_counter() - t)\n"
                      "    assert im.size == (" + std::to_string(kSide) + ", " + std::to_string(kSide) + ")\n"
                      "    del im\n"
                      "print(best)' " + bench_file() + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double s = -1;
    if (std::fscanf(p, "%lf", &s) != 1) s = -1;
    pclose(p);
    return s;
}

void summary() {
    const double mp = double(kPixels) / 1e6;
    const double qvSeconds = best_seconds(qv_deliver_all, kRuns);
    const double pil = pillow_seconds();
    std::printf("\n10 000 x 10 000 32-bit BMP, best of %d\n", kRuns);
    std::printf("xtavread as 24-bit rows : %8.3f s  (%.0f Mpixel/s)\n", qvSeconds, mp / qvSeconds);
    if (pil <= 0) {
        std::printf("Pillow: not available\n");
        return;
    }
    std::printf("Pillow load()           : %8.3f s  (%.0f Mpixel/s)  ratio qvtav / Pillow throughput %.2f\n", pil,
                mp / pil, pil / qvSeconds);
}

// Reads the file once, so both readers start from the page cache.
void warm() {
    int fd = ::open(bench_file().c_str(), O_RDONLY);
    std::vector<uint8_t> buf(kPiece);
    while (fd >= 0 && ::read(fd, buf.data(), buf.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    warm();
    return run_benchmarks(argc, argv, summary);
}
