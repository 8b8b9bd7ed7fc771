// The compound-file engine beside libgsf in one run: writing a 100 MB
// stream into a new file and reading it back (gsf createole and gsf cat,
// whole processes, against the engine's stream writes and reads), and
// opening a file of N streams and listing them (N from 1 250 to 10 000:
// the time per stream should stay flat).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "storage/stg_api.h"

namespace {

constexpr size_t kBigStream = 100u << 20;
constexpr uint32_t kChunk = 1u << 20;

std::string dir() {
    static std::string d = [] {
        char tmpl[] = "/tmp/qvtav-stgbench-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    return d;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

const std::string& big_source() {
    static std::string path = [] {
        std::string p = dir() + "/data";
        std::vector<char> buf(kChunk);
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = char(i * 7);
        FILE* f = std::fopen(p.c_str(), "wb");
        for (size_t n = 0; n < kBigStream; n += kChunk) std::fwrite(buf.data(), 1, kChunk, f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_EngineWrite100MB(benchmark::State& state) {
    std::vector<char> buf(kChunk, 'x');
    std::string path = dir() + "/engine.cfb";
    for (auto _ : state) {
        StgStorage* root = nullptr;
        StgCreateDocfile(wide(path).c_str(), kStgModeCreate, 0, &root);
        StgStream* s = nullptr;
        root->ops->CreateStream(root, u"data", kStgModeCreate, 0, 0, &s);
        for (size_t n = 0; n < kBigStream; n += kChunk) {
            uint32_t done = 0;
            if (s->ops->Write(s, buf.data(), kChunk, &done)) state.SkipWithError("write failed");
        }
        s->ops->Release(s);
        root->ops->Release(root);  // includes the fsync of a writer's close
    }
    state.SetBytesProcessed(int64_t(state.iterations() * kBigStream));
}

void BM_GsfCreateole100MB(benchmark::State& state) {
    std::string src = big_source();
    std::string cmd = "cd " + dir() + " && gsf createole gsf.ole data >/dev/null 2>&1 && sync gsf.ole";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("gsf createole failed");
    state.SetBytesProcessed(int64_t(state.iterations() * kBigStream));
}

void BM_EngineRead100MB(benchmark::State& state) {
    std::vector<char> buf(kChunk);
    std::string path = dir() + "/engine.cfb";
    for (auto _ : state) {
        StgStorage* root = nullptr;
        if (StgOpenStorage(wide(path).c_str(), nullptr, kStgModeRead, nullptr, 0, &root)) {
            state.SkipWithError("run the write benchmark first");
            break;
        }
        StgStream* s = nullptr;
        root->ops->OpenStream(root, u"data", nullptr, kStgModeRead, 0, &s);
        uint32_t done = 0;
        size_t total = 0;
        while (s->ops->Read(s, buf.data(), kChunk, &done) == 0 && done) total += done;
        benchmark::DoNotOptimize(total);
        s->ops->Release(s);
        root->ops->Release(root);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * kBigStream));
}

void BM_GsfCat100MB(benchmark::State& state) {
    std::string cmd = "gsf cat " + dir() + "/gsf.ole data >/dev/null";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("gsf cat failed");
    state.SetBytesProcessed(int64_t(state.iterations() * kBigStream));
}

// Opening a file of N small streams and enumerating every element.
void BM_EngineOpenAndList(benchmark::State& state) {
    int64_t n = state.range(0);
    std::string path = dir() + "/many" + std::to_string(n) + ".cfb";
    {
        StgStorage* root = nullptr;
        StgCreateDocfile(wide(path).c_str(), kStgModeCreate, 0, &root);
        for (int64_t i = 0; i < n; ++i) {
            StgStream* s = nullptr;
            std::u16string name = wide("stream " + std::to_string(i));
            root->ops->CreateStream(root, name.c_str(), kStgModeCreate, 0, 0, &s);
            uint32_t done = 0;
            s->ops->Write(s, "data", 4, &done);
            s->ops->Release(s);
        }
        root->ops->Release(root);
    }
    StgMalloc* malloc = nullptr;
    StgGetMalloc(kStgTaskMemory, &malloc);
    for (auto _ : state) {
        StgStorage* root = nullptr;
        StgOpenStorage(wide(path).c_str(), nullptr, kStgModeRead, nullptr, 0, &root);
        StgEnum* e = nullptr;
        root->ops->EnumElements(root, 0, nullptr, 0, &e);
        StatStg st{};
        uint32_t got = 0;
        int64_t listed = 0;
        while (e->ops->Next(e, 1, &st, &got) == 0 && got) {
            malloc->ops->Free(malloc, st.name);
            ++listed;
        }
        if (listed != n) state.SkipWithError("wrong count");
        e->ops->Release(e);
        root->ops->Release(root);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

BENCHMARK(BM_EngineWrite100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_GsfCreateole100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_EngineRead100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_GsfCat100MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_EngineOpenAndList)->RangeMultiplier(2)->Range(1250, 10000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
