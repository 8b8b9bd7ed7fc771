// Pieces the benchmarks share: a scratch directory, path buffers for the
// char* exports, file helpers, timing loops and the process's I/O counters.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "qvtav.h"

namespace bench {

// A directory of its own under $TMPDIR (or /tmp), removed with its content.
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
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// One directory for the whole run, removed at exit.
inline BenchDir& bench_dir() {
    static BenchDir dir;
    return dir;
}

struct PathBuf {
    char s[TAV_PATH_SIZE] = {};
    explicit PathBuf(const std::string& p) { std::snprintf(s, sizeof s, "%s", p.c_str()); }
    operator char*() { return s; }
};

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()))) std::abort();
}

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Little-endian TIFF bytes appended field by field (the hand-made files).
struct LeBytes {
    std::vector<uint8_t> v;
    uint32_t size() const { return uint32_t(v.size()); }
    void put16(uint16_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }
    void put32(uint32_t x) { put16(uint16_t(x)), put16(uint16_t(x >> 16)); }
    void set32(uint32_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
    }
    // An entry: tag, type, count and a value field holding one u32.
    void entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put16(tag), put16(type), put32(count), put32(value);
    }
};

// A plain chain of `pages` small bilevel pages, each with two strips,
// resolution and two texts, as a scanner writes them; made under `name` in
// the run's directory.
inline std::string scanner_file(uint32_t pages, const std::string& name) {
    std::string path = bench_dir().file(name);
    LeBytes b;
    b.v = {'I', 'I', 42, 0, 0, 0, 0, 0};
    uint32_t prevLink = 4;
    const char desc[] = "Page of a long fax document";
    const char soft[] = "Scanner software 2.1";
    auto text = [&](const char* t, size_t n) {
        uint32_t at = b.size();
        b.v.insert(b.v.end(), t, t + n);
        if (b.size() % 2) b.v.push_back(0);
        return at;
    };
    for (uint32_t p = 0; p < pages; ++p) {
        uint32_t s1 = b.size();
        for (int i = 0; i < 8; ++i) b.put16(0xAA55);
        uint32_t s2 = b.size();
        for (int i = 0; i < 8; ++i) b.put16(0x55AA);
        uint32_t res = b.size();
        b.put32(200), b.put32(1);
        uint32_t offs = b.size();
        b.put32(s1), b.put32(s2);
        uint32_t cnts = b.size();
        b.put32(16), b.put32(16);
        uint32_t d = text(desc, sizeof desc), sw = text(soft, sizeof soft);
        b.set32(prevLink, b.size());
        struct E { uint16_t tag, type; uint32_t count, value; } es[] = {
            {254, 4, 1, 2},   {256, 4, 1, 128}, {257, 4, 1, 2},   {258, 3, 1, 1},
            {259, 3, 1, 1},   {262, 3, 1, 0},   {270, 2, sizeof desc, d},
            {273, 4, 2, offs}, {277, 3, 1, 1},  {278, 4, 1, 1},   {279, 4, 2, cnts},
            {282, 5, 1, res}, {283, 5, 1, res}, {296, 3, 1, 2},   {305, 2, sizeof soft, sw},
        };
        b.put16(uint16_t(sizeof es / sizeof es[0]));
        for (const E& e : es) b.entry(e.tag, e.type, e.count, e.value);
        prevLink = b.size();
        b.put32(0);
    }
    write_file(path, b.v);
    return path;
}

template <typename F>
double seconds_of(F&& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The best of `runs` timings of fn, in seconds (fn's result is kept alive).
template <typename F>
double best_seconds(F&& fn, int runs) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) best = std::min(best, seconds_of([&] { volatile auto r = fn(); (void)r; }));
    return best;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The counters of /proc/self/io ("wchar:", "syscr:", "syscw:", ...), read in
// one pass (the read itself counts as one read call).
inline std::map<std::string, long long> io_counters() {
    std::map<std::string, long long> out;
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) out[key] = value;
    return out;
}

// Best of 7 runs of f, in nanoseconds per page.
template <typename F>
double ns_per_page(F&& f, uint32_t pages) {
    return best_seconds(f, 7) * 1e9 / pages;
}

// A benchmark body that runs f(path) once per iteration over a file of
// state.range(0) pages made by make.
template <typename Make, typename F>
void every_page(benchmark::State& state, Make make, F f) {
    std::string path = make(uint32_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(f(path));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Runs the registered benchmarks, then prints the summary.
inline int run_benchmarks(int argc, char** argv, void (*summary)()) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    summary();
    return 0;
}

}  // namespace bench
