// New AWD files, written through the encoder's own copy of the
// compound-file engine.
#include "outside/awd/awd_skeleton.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formats/awd/awd_tree.h"
#include "platform/plat_text.h"
#include "storage/stg_api.h"

namespace {

// An empty summary property set: the header (byte order mark, version,
// system, class, one section) and a section of no properties, in the
// format's format identifier.
constexpr std::array<uint8_t, 56> kEmptySummary = {
    0xFE, 0xFF, 0x00, 0x00, 0x06, 0x00, 0x02, 0x00,                          // order, version, system
    0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // class
    0x01, 0x00, 0x00, 0x00,                                                  // sections
    0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,                          // summary format id
    0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9,                          //
    0x30, 0x00, 0x00, 0x00,                                                  // section offset 48
    0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // size 8, 0 properties
};
constexpr uint32_t kCopyPiece = 32768;

struct AwdFile {
    StgStorage* root = nullptr;
};

// Releases an engine object at the end of a scope.
template <class T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->ops->Release(p);
    }
};

std::u16string wide(const char* s) {
    size_t n = std::strlen(s);
    std::u16string w(n + 1, u'\0');
    size_t got = plat_utf8_to_utf16(s, n, w.data(), w.size());
    w.resize(n == 0 ? 0 : got);
    return w;
}

bool make_storage(StgStorage* parent, const char* name, Held<StgStorage>& out) {
    return parent->ops->CreateStorage(parent, wide(name).c_str(), kStgModeWrite, 0, 0, &out.p) == 0;
}

bool write_all(StgStream* s, const void* data, uint32_t n) {
    uint32_t done = 0;
    return s->ops->Write(s, data, n, &done) == 0 && done == n;
}

bool make_stream(StgStorage* parent, const char* name, const void* data, uint32_t n) {
    Held<StgStream> s;
    if (parent->ops->CreateStream(parent, wide(name).c_str(), kStgModeWrite, 0, 0, &s.p) != 0) return false;
    return n == 0 || write_all(s.p, data, n);
}

bool build_tree(StgStorage* root) {
    Held<StgStorage> docs, persistent, global, docInfo, pageInfo;
    return make_storage(root, kAwdDocuments, docs) &&
           make_stream(root, kAwdSummary, kEmptySummary.data(), uint32_t(kEmptySummary.size())) &&
           make_storage(root, kAwdPersistent, persistent) && make_storage(persistent.p, kAwdGlobal, global) &&
           make_stream(global.p, kAwdDisplayOrder, nullptr, 0) &&
           make_storage(persistent.p, kAwdDocInfo, docInfo) && make_storage(persistent.p, kAwdPageInfo, pageInfo);
}

const char* name_part(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') name = p + 1;
    return name;
}

bool copy_file_into(int fd, StgStream* s) {
    std::vector<uint8_t> piece(kCopyPiece);
    for (;;) {
        ssize_t n = read(fd, piece.data(), piece.size());
        if (n < 0) return false;
        if (n == 0) return true;
        if (!write_all(s, piece.data(), uint32_t(n))) return false;
    }
}

// Puts name behind the last name of the display order (before any empty
// names that end it).
bool append_name(StgStorage* root, const std::string& name) {
    Held<StgStorage> persistent, global;
    Held<StgStream> order;
    if (root->ops->OpenStorage(root, wide(kAwdPersistent).c_str(), nullptr, kStgModeWrite, nullptr, 0,
                               &persistent.p) != 0 ||
        persistent.p->ops->OpenStorage(persistent.p, wide(kAwdGlobal).c_str(), nullptr, kStgModeWrite,
                                       nullptr, 0, &global.p) != 0 ||
        global.p->ops->OpenStream(global.p, wide(kAwdDisplayOrder).c_str(), nullptr, kStgModeWrite, 0,
                                  &order.p) != 0)
        return false;
    StatStg st{};
    if (order.p->ops->Stat(order.p, &st, kStatNoName) != 0 || st.size > kCopyPiece * 64) return false;
    std::vector<uint8_t> bytes(size_t(st.size));
    uint32_t got = 0;
    if (!bytes.empty() && (order.p->ops->Read(order.p, bytes.data(), uint32_t(bytes.size()), &got) != 0 ||
                           got != bytes.size()))
        return false;
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    if (!bytes.empty()) bytes.push_back(0);
    bytes.insert(bytes.end(), name.begin(), name.end());
    bytes.push_back(0);
    uint64_t at = 0;
    return order.p->ops->Seek(order.p, 0, kStgSeekSet, &at) == 0 &&
           write_all(order.p, bytes.data(), uint32_t(bytes.size())) &&
           order.p->ops->SetSize(order.p, bytes.size()) == 0;
}

}  // namespace

void* awd_skeleton_create(const char* path) {
    try {
        auto* f = new AwdFile;
        std::u16string w = wide(path);
        // Mode 0x12 refuses a path that exists.
        if (w.empty() || StgCreateDocfile(w.c_str(), kStgModeWrite, 0, &f->root) != 0) {
            delete f;
            return nullptr;
        }
        if (!build_tree(f->root)) {
            f->root->ops->Release(f->root);
            delete f;
            unlink(path);
            return nullptr;
        }
        return f;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool awd_skeleton_add_image(void* awd, const char* imagePath) {
    try {
        StgStorage* root = static_cast<AwdFile*>(awd)->root;
        std::string name = name_part(imagePath);
        if (name.empty() || name.size() > kAwdNameMax) return false;
        int fd = open(imagePath, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        bool ok;
        {
            Held<StgStorage> docs;
            Held<StgStream> doc;
            ok = root->ops->OpenStorage(root, wide(kAwdDocuments).c_str(), nullptr, kStgModeWrite, nullptr, 0,
                                        &docs.p) == 0 &&
                 docs.p->ops->CreateStream(docs.p, wide(name.c_str()).c_str(), kStgModeWrite, 0, 0, &doc.p) == 0 &&
                 copy_file_into(fd, doc.p);
        }
        close(fd);
        return ok && append_name(root, name);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void awd_skeleton_close(void* awd) {
    auto* f = static_cast<AwdFile*>(awd);
    if (f->root) f->root->ops->Release(f->root);
    delete f;
}
