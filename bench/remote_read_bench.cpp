// Server requests of remote reading: sequential 4 KB pieces, parsing-style
// small reads moving forward, and sparse random reads of a 64 MB file served
// by the remote-access library. Besides the time, each benchmark reports the
// read requests and bytes moved beside the budget (the ideal request count).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fileio/fio.h"
#include "platform/plat_loader.h"
#include "platform/plat_remote.h"

namespace {

constexpr uint32_t kFileSize = 64u << 20;
constexpr const char* kFileName = "big.bin";

struct Stub {
    void (*reset)() = nullptr;
    uint32_t (*count)(const char*) = nullptr;
    uint64_t (*bytes)(const char*) = nullptr;
};

// The served directory with one 64 MB file, made once and removed at exit.
struct Served {
    std::string dir;
    FileLocation loc{};
    Stub stub;
    bool ok = false;

    Served() {
        char templ[] = "/tmp/qvtav-bench-XXXXXX";
        if (!mkdtemp(templ)) return;
        dir = templ;
        std::vector<uint8_t> chunk(1 << 20);
        std::string path = dir + "/" + kFileName;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return;
        for (uint32_t i = 0; i < kFileSize / chunk.size(); ++i) {
            for (size_t j = 0; j < chunk.size(); ++j) chunk[j] = uint8_t(i + j * 31);
            std::fwrite(chunk.data(), 1, chunk.size(), f);
        }
        std::fclose(f);
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", dir.c_str());
        if (!plat_remote_bind()) return;
        void* m = plat_remote_module();
        stub.reset = reinterpret_cast<void (*)()>(plat_symbol(m, "RPCSTUBreset"));
        stub.count = reinterpret_cast<uint32_t (*)(const char*)>(plat_symbol(m, "RPCSTUBcount"));
        stub.bytes = reinterpret_cast<uint64_t (*)(const char*)>(plat_symbol(m, "RPCSTUBbytes"));
        ok = stub.reset && stub.count && stub.bytes;
    }
    ~Served() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
};

Served& served() {
    static Served s;
    return s;
}

// Runs one access pattern per iteration on a fresh descriptor and reports
// the requests of the last iteration beside the budget.
template <typename Pattern>
void run(benchmark::State& state, double budget, Pattern pattern) {
    Served& s = served();
    if (!s.ok) {
        state.SkipWithError("remote-access library or its controls missing");
        return;
    }
    uint32_t requests = 0, moves = 0;
    uint64_t moved = 0, delivered = 0;
    for (auto _ : state) {
        s.stub.reset();
        int fd = fio_open(&s.loc, kFileName, 0);
        if (fd < 0) {
            state.SkipWithError("open failed");
            return;
        }
        delivered = pattern(fd);
        fio_close(fd);
        requests = s.stub.count("RPCIFSread");
        moves = s.stub.count("RPCIFSsetpos");
        moved = s.stub.bytes("RPCIFSread");
    }
    state.counters["read_requests"] = requests;
    state.counters["budget"] = budget;
    state.counters["setpos_requests"] = moves;
    state.counters["bytes_moved"] = double(moved);
    state.counters["bytes_delivered"] = double(delivered);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(delivered));
    state.counters["requests_per_budget"] = budget > 0 ? requests / budget : 0;
    if (requests > budget)
        std::fprintf(stderr, "%u read requests, over the budget of %.0f\n", requests, budget);
}

const double kSequentialBudget = double((kFileSize + 31743) / 31744 + 2);

void BM_RemoteSequential4K(benchmark::State& state) {
    std::vector<uint8_t> buf(4096);
    run(state, kSequentialBudget, [&](int fd) {
        uint64_t total = 0;
        int32_t n;
        while ((n = fio_read(fd, buf.data(), 4096)) > 0) total += uint32_t(n);
        return total;
    });
}

// Field-by-field parsing: 2- to 12-byte reads in increasing order with
// gaps below 2048 bytes, across the whole file.
void BM_RemoteParsing(benchmark::State& state) {
    std::mt19937 rng(7);
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (uint64_t at = 0; at + 12 < kFileSize;) {
        uint32_t len = 2 + rng() % 11;
        reads.emplace_back(uint32_t(at), len);
        at += len + rng() % 2048;
    }
    state.counters["reads"] = double(reads.size());
    run(state, kSequentialBudget, [&](int fd) {
        uint8_t buf[16];
        uint64_t total = 0;
        for (auto [at, len] : reads) {
            fio_seek_to(fd, at);
            total += uint32_t(std::max(0, fio_read(fd, buf, len)));
        }
        return total;
    });
}

// Sparse access: 2000 reads of 4 to 12 bytes at random places, visited in
// increasing order (as directories spread through a file are); at most one
// request per 2048-byte window touched.
void BM_RemoteSparse(benchmark::State& state) {
    std::mt19937 rng(11);
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    std::set<uint32_t> windows;
    for (int i = 0; i < 2000; ++i) {
        uint32_t len = 4 + rng() % 9;
        uint32_t at = rng() % (kFileSize - len);
        reads.emplace_back(at, len);
    }
    std::sort(reads.begin(), reads.end());
    for (auto [at, len] : reads) {
        for (uint32_t w = at / 2048; w <= (at + len - 1) / 2048; ++w) windows.insert(w);
    }
    run(state, double(windows.size()), [&](int fd) {
        uint8_t buf[16];
        uint64_t total = 0;
        for (auto [at, len] : reads) {
            fio_seek_to(fd, at);
            total += uint32_t(std::max(0, fio_read(fd, buf, len)));
        }
        return total;
    });
}

BENCHMARK(BM_RemoteSequential4K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoteParsing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoteSparse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
