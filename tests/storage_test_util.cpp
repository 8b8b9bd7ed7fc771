#include "storage_test_util.h"

#include <algorithm>
#include <sys/wait.h>

#include <cstdio>
#include <random>
#include <vector>

#include "platform/plat_text.h"

std::u16string wide(const std::string& utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    size_t n = plat_utf8_to_utf16(utf8.data(), utf8.size(), out.data(), out.size());
    out.resize(n);
    return out;
}

std::string narrow(const char16_t* w) {
    size_t len = 0;
    while (w[len]) ++len;
    std::string out(len * 3 + 1, '\0');
    out.resize(plat_utf16_to_utf8(w, len, out.data(), out.size()));
    return out;
}

uint32_t open_root(const std::string& path, uint32_t mode, StgRef<StgStorage>& out) {
    return StgOpenStorage(wide(path).c_str(), nullptr, mode, nullptr, 0, out.put());
}

uint32_t create_root(const std::string& path, StgRef<StgStorage>& out) {
    return StgCreateDocfile(wide(path).c_str(), kStgModeCreate, 0, out.put());
}

uint32_t put_stream(StgStorage* parent, const std::string& name, const std::string& content) {
    StgRef<StgStream> s;
    uint32_t rc = parent->ops->CreateStream(parent, wide(name).c_str(), kStgModeCreate, 0, 0, s.put());
    if (rc) return rc;
    uint32_t done = 0;
    return s->ops->Write(s.get(), content.data(), uint32_t(content.size()), &done);
}

std::string get_stream(StgStorage* parent, const std::string& name) {
    StgRef<StgStream> s;
    uint32_t rc = parent->ops->OpenStream(parent, wide(name).c_str(), nullptr, kStgModeRead, 0, s.put());
    if (rc) return "<error " + std::to_string(rc) + ">";
    std::string out;
    std::vector<char> buf(1 << 16);
    for (;;) {
        uint32_t n = 0;
        rc = s->ops->Read(s.get(), buf.data(), uint32_t(buf.size()), &n);
        if (rc) return "<error " + std::to_string(rc) + ">";
        if (n == 0) return out;
        out.append(buf.data(), n);
    }
}

uint32_t make_storage(StgStorage* parent, const std::string& name, StgRef<StgStorage>& out) {
    return parent->ops->CreateStorage(parent, wide(name).c_str(), kStgModeCreate, 0, 0, out.put());
}

std::string content_hash(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

namespace {

std::string escaped(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c >= 0x20) {
            out += char(c);
        } else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

void list_into(StgStorage* s, const std::string& prefix, std::vector<std::string>& lines) {
    StgRef<StgEnum> e;
    if (s->ops->EnumElements(s, 0, nullptr, 0, e.put())) {
        lines.push_back(prefix + " <enum failed>");
        return;
    }
    StgMalloc* malloc = nullptr;
    StgGetMalloc(kStgTaskMemory, &malloc);
    StatStg st{};
    uint32_t got = 0;
    while (e->ops->Next(e.get(), 1, &st, &got) == TAV_S_OK && got == 1) {
        std::string name = narrow(st.name);
        std::string path = prefix + "/" + escaped(name);
        if (st.type == kStgTypeStream) {
            std::string data = get_stream(s, name);
            lines.push_back(path + " stream " + std::to_string(data.size()) + " " + content_hash(data));
        } else {
            lines.push_back(path + " storage");
            StgRef<StgStorage> child;
            if (s->ops->OpenStorage(s, st.name, nullptr, kStgModeRead, nullptr, 0, child.put()) == 0)
                list_into(child.get(), path, lines);
        }
        malloc->ops->Free(malloc, st.name);
    }
}

}  // namespace

std::string engine_listing(const std::string& path) {
    StgRef<StgStorage> root;
    uint32_t rc = open_root(path, kStgModeRead, root);
    if (rc) return "<open failed " + std::to_string(rc) + ">";
    std::vector<std::string> lines;
    list_into(root.get(), "", lines);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string command_output(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string olefile_listing(const std::string& path, bool check) {
    std::string cmd = "/usr/bin/python3 " QVTAV_SOURCE_DIR "/tests/scripts/ole_listing.py ";
    if (check) cmd += "--check ";
    return command_output(cmd + "'" + path + "' 2>&1");
}

std::string stream_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = char(gen());
    return s;
}
