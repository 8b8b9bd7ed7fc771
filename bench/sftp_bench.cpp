// Remote files over SSH beside OpenSSH's own sftp client, both against one
// sshd on 127.0.0.1 (the tests' fixture: generated keys, a Host alias):
// a 64 MB raw file read through xtavread in 1 MB pieces against `sftp get`,
// written through xtavwrite in 1 MB pieces against `sftp put`; and the
// page sweep of a 1000-page TIFF (the page information and data of every
// page, two strips of 1500 bytes each) through sshd against `sftp get` of the file and the same sweep on
// the local copy. The library keeps its SSH session between iterations;
// every sftp run makes its own connection (about 40 ms here, the cost of
// BM_SftpConnectOnly).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "block_test_util.h"
#include "edit_tiff_util.h"
#include "page_test_util.h"
#include "platform/plat_loader.h"
#include "platform/plat_remote.h"
#include "sshd_fixture.h"

namespace {

constexpr uint32_t kFileSize = 64u << 20;
constexpr uint32_t kPiece = 1u << 20;
constexpr int kSweepPages = 1000;

struct Site {
    SshdServer* server = nullptr;
    std::string dir;  // the served files, by absolute path
    FileLocation loc{};
    uint32_t (*count)(const char*) = nullptr;
    void (*reset)() = nullptr;
    std::vector<uint8_t> raw;

    Site() {
        server = SshdServer::shared();
        char templ[] = "/tmp/qvtav-sftp-bench-XXXXXX";
        if (!server || !mkdtemp(templ)) return;
        dir = templ;
        raw = bt::data(kFileSize, 5);
        write_file(dir + "/big.bin", raw);
        write_file(dir + "/sweep.tif",
                   edit_test::build_tiff(edit_test::numbered_pages(kSweepPages, 2, 1500), false, 0, true));
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", SshdServer::kAlias);
        if (plat_remote_bind()) {
            void* m = plat_remote_module();
            count = reinterpret_cast<uint32_t (*)(const char*)>(plat_symbol(m, "RPCSTUBcount"));
            reset = reinterpret_cast<void (*)()>(plat_symbol(m, "RPCSTUBreset"));
        }
    }
    ~Site() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    bool ok() const { return server && !dir.empty() && count && reset; }
    // One sftp run of a batch of commands against the fixture's Host alias.
    bool sftp(const std::string& commands) const {
        std::string batch = dir + "/batch";
        write_file(batch, commands + "\n");
        return run_command("sftp -q -F " + server->config() + " -b " + batch + " " + SshdServer::kAlias +
                           " >/dev/null 2>&1") == 0;
    }
};

Site& site() {
    static Site s;
    return s;
}

#define NEED_SITE(s)                                                         \
    Site& s = site();                                                        \
    if (!s.ok()) {                                                           \
        state.SkipWithError("sshd, sftp or the remote-access library missing"); \
        return;                                                              \
    }

void BM_QvtavRead64MB(benchmark::State& state) {
    NEED_SITE(s);
    std::vector<uint8_t> back(kFileSize);
    for (auto _ : state) {
        s.reset();
        OpenedFile f(s.dir + "/big.bin", TAV_OPEN_RAW, &s.loc);
        uint32_t err = 0;
        if (!f.ok() || f.stream(1, kFileSize, kPiece, &err).size() != kFileSize) {
            state.SkipWithError("remote read failed");
            return;
        }
    }
    state.counters["read_requests"] = s.count("RPCIFSread");
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

void BM_SftpGet64MB(benchmark::State& state) {
    NEED_SITE(s);
    for (auto _ : state) {
        if (!s.sftp("get " + s.dir + "/big.bin " + s.dir + "/got.bin")) {
            state.SkipWithError("sftp get failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

void BM_QvtavWrite64MB(benchmark::State& state) {
    NEED_SITE(s);
    const std::string path = s.dir + "/written.bin";
    for (auto _ : state) {
        std::filesystem::remove(path);
        s.reset();
        bt::Handle w;
        w.loc = s.loc;
        w.type = FILETYPE_RAW;
        w.h = xtavcreat(&w.loc, PathBuf(path), &w.type, &w.err);
        bool ok = w.h > 0;
        for (uint32_t at = 0; ok && at < kFileSize; at += kPiece)
            ok = xtavwrite(&w.h, s.raw.data() + at, kPiece, 1, 0, &w.err) == int32_t(kPiece);
        if (!ok || w.close() != 0) {
            state.SkipWithError("remote write failed");
            return;
        }
    }
    state.counters["write_requests"] = s.count("RPCIFSwrite");
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

void BM_SftpPut64MB(benchmark::State& state) {
    NEED_SITE(s);
    for (auto _ : state) {
        if (!s.sftp("put " + s.dir + "/big.bin " + s.dir + "/put.bin")) {
            state.SkipWithError("sftp put failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}

// The page information and every byte of every page's data.
bool sweep(const std::string& path, FileLocation* where) {
    OpenedFile f(path, 0, where);
    if (!f.ok() || f.pages != kSweepPages) return false;
    for (uint16_t p = 1; p <= f.pages; ++p) {
        uint32_t err = 0;
        if (f.info(p) != 0 || f.stream(p, f.ps.dataBytes, 31744, &err).empty()) return false;
    }
    return true;
}

void BM_QvtavPageSweep1000(benchmark::State& state) {
    NEED_SITE(s);
    for (auto _ : state) {
        s.reset();
        if (!sweep(s.dir + "/sweep.tif", &s.loc)) {
            state.SkipWithError("remote sweep failed");
            return;
        }
    }
    uint32_t all = 0;
    for (const char* entry : {"RPCIFSaccess", "RPCIFSstatobject", "RPCIFSopen", "RPCIFSread", "RPCIFSsetpos",
                              "RPCIFSgetpos", "RPCIFSclose"})
        all += s.count(entry);
    state.counters["read_requests"] = s.count("RPCIFSread");
    state.counters["all_requests"] = all;
}

void BM_SftpGetThenSweep1000(benchmark::State& state) {
    NEED_SITE(s);
    const std::string copy = s.dir + "/sweep-copy.tif";
    for (auto _ : state) {
        if (!s.sftp("get " + s.dir + "/sweep.tif " + copy) || !sweep(copy, nullptr)) {
            state.SkipWithError("sftp get or local sweep failed");
            return;
        }
    }
}

void BM_SftpConnectOnly(benchmark::State& state) {
    NEED_SITE(s);
    for (auto _ : state) {
        if (!s.sftp("pwd")) {
            state.SkipWithError("sftp failed");
            return;
        }
    }
}

BENCHMARK(BM_QvtavRead64MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SftpGet64MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_QvtavWrite64MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SftpPut64MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_QvtavPageSweep1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SftpGetThenSweep1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SftpConnectOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
