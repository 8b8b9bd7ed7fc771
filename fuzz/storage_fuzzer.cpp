// libFuzzer harness for the compound-file engine: each input is written to
// a file, opened read-only, its whole tree walked and every stream read to
// its end. A finding is a crash, a sanitizer report, a leak or a hang.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "storage/stg_api.h"

namespace {

std::u16string input_path() {
    std::string p = "/tmp/qvtav-stgfuzz-" + std::to_string(getpid()) + ".cfb";
    return std::u16string(p.begin(), p.end());
}

void read_stream(StgStream* s) {
    std::vector<uint8_t> buf(64 * 1024);
    uint32_t n = 0;
    while (s->ops->Read(s, buf.data(), uint32_t(buf.size()), &n) == 0 && n > 0) {
    }
    StatStg st{};
    if (s->ops->Stat(s, &st, kStatNoName) == 0) {
        uint64_t pos = 0;
        s->ops->Seek(s, int64_t(st.size / 2), kStgSeekSet, &pos);
        s->ops->Read(s, buf.data(), 100, &n);
    }
}

// Walks every storage below root (depth first, explicit stack).
void walk(StgStorage* root) {
    StgMalloc* malloc = nullptr;
    StgGetMalloc(kStgTaskMemory, &malloc);
    std::vector<StgStorage*> stack{root};
    root->ops->AddRef(root);
    while (!stack.empty()) {
        StgStorage* s = stack.back();
        stack.pop_back();
        StgEnum* e = nullptr;
        if (s->ops->EnumElements(s, 0, nullptr, 0, &e) == 0) {
            StatStg st{};
            uint32_t got = 0;
            while (e->ops->Next(e, 1, &st, &got) == 0 && got == 1) {
                if (st.type == kStgTypeStream) {
                    StgStream* stream = nullptr;
                    if (s->ops->OpenStream(s, st.name, nullptr, kStgModeRead, 0, &stream) == 0) {
                        read_stream(stream);
                        stream->ops->Release(stream);
                    }
                } else {
                    StgStorage* child = nullptr;
                    if (s->ops->OpenStorage(s, st.name, nullptr, kStgModeRead, nullptr, 0, &child) == 0)
                        stack.push_back(child);
                }
                malloc->ops->Free(malloc, st.name);
            }
            e->ops->Release(e);
        }
        s->ops->Release(s);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::u16string path = input_path();
    std::string narrow(path.begin(), path.end());
    FILE* f = std::fopen(narrow.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    StgStorage* root = nullptr;
    if (StgIsStorageFile(path.c_str()) == 0 &&
        StgOpenStorage(path.c_str(), nullptr, kStgModeRead, nullptr, 0, &root) == 0) {
        walk(root);
        root->ops->Release(root);
    }
    return 0;
}
