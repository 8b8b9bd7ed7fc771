#include "awd_test_util.h"

#include <algorithm>
#include <filesystem>
#include <cstring>

#include "fileio/mem.h"
#include "formats/awd/awd_interface.h"
#include "formats/awd/awd_tree.h"
#include "platform/plat_loader.h"
#include "storage_test_util.h"
#include "test_util.h"

BitPage pattern_page(uint32_t width, uint32_t height, uint32_t seed) {
    BitPage p;
    p.width = width;
    p.height = height;
    p.bits.assign(size_t(p.row_bytes()) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            // Bars and a diagonal that move with the seed.
            bool black = ((x / 7 + y / 5 + seed) % 3 == 0) || ((x + seed * 11) % (height + 1) == y);
            if (black) p.bits[size_t(y) * p.row_bytes() + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    return p;
}

void PrintTo(const BitPage& p, std::ostream* os) {
    uint32_t h = 2166136261u;
    for (uint8_t b : p.bits) h = (h ^ b) * 16777619u;
    *os << p.width << "x" << p.height << " #" << std::hex << h << std::dec;
}

PageInfo awd_new_page(uint32_t width, uint32_t dpi) {
    PageInfo i{};
    i.imageWidth = width;
    i.xResNum = i.yResNum = dpi;
    i.xResDen = i.yResDen = 1;
    i.stripCount = TAV_AWD_PAIR(100, 100);
    return i;
}

namespace {
// (err is read after the call: it goes by pointer.)
uint32_t code(int32_t r, const uint32_t* err) { return r < 0 ? (*err ? *err : ~0u) : 0; }
}  // namespace

uint32_t AwdHandle::create(const std::string& path) {
    close();
    PathBuf p(path);
    uint32_t t = FILETYPE_AWD, err = 0;
    int32_t r = xtavcreat(nullptr, p, &t, &err);
    if (r > 0) h = r;
    return code(r, &err);
}

uint32_t AwdHandle::open(const std::string& path, uint32_t flags) {
    close();
    PathBuf p(path);
    uint32_t err = 0;
    int32_t r = xtavopen(nullptr, p, flags, &type, &pages, &err);
    if (r > 0) h = r;
    return code(r, &err);
}

uint32_t AwdHandle::close() {
    if (h <= 0) return 0;
    uint32_t err = 0;
    errno = 0;
    int32_t r = xtavclose(&h, &err);
    h = 0;
    return r < 0 ? uint32_t(errno ? errno : -1) : 0;
}

uint32_t AwdHandle::abort() {
    if (h <= 0) return 0;
    uint32_t err = 0;
    int32_t r = xtavabort(&h, &err);
    h = 0;
    return r < 0 ? ~0u : 0;
}

uint32_t AwdHandle::put(uint16_t page, PageInfo info) {
    uint32_t err = 0;
    return code(xtavputi(&h, page, &info, nullptr, &err), &err);
}

uint32_t AwdHandle::write_rows(uint16_t page, const BitPage& p, uint32_t rows) {
    uint32_t err = 0;
    for (uint32_t y = 0; y < p.height; y += rows) {
        uint32_t n = std::min(rows, p.height - y) * p.row_bytes();
        int32_t r = xtavwrite(&h, const_cast<uint8_t*>(p.row(y)), n, page, 0, &err);
        if (r < 0) return code(r, &err);
        if (uint32_t(r) != n) return ~0u;
    }
    uint8_t none = 0;
    return code(xtavwrite(&h, &none, 0, page, 0, &err), &err);
}

uint32_t AwdHandle::write_page(uint16_t page, const BitPage& p, uint32_t dpi) {
    if (uint32_t rc = put(page, awd_new_page(p.width, dpi))) return rc;
    return write_rows(page, p);
}

uint32_t AwdHandle::info(uint16_t page, uint16_t bandBytes) {
    pi = PageInfo{};
    ps = PageSizes{};
    pi.maxStripSize = TAV_AWD_PAIR(bandBytes, 0);
    uint32_t err = 0;
    return code(xtavgeti(&h, page, &pi, &ps, &err), &err);
}

uint32_t AwdHandle::read_bands(uint16_t page, BitPage* out, uint32_t* bands) {
    const uint32_t band = TAV_AWD_LOW(pi.maxStripSize);
    out->width = pi.imageWidth;
    out->height = 0;
    out->bits.clear();
    std::vector<uint8_t> buf(band);
    if (bands) *bands = 0;
    for (uint32_t start = 0;; start += band) {
        uint32_t remaining = 7, err = 0;
        int32_t r = xtavread(&h, buf.data(), std::min(start, ps.dataBytes), band, &remaining, page, &err);
        if (r < 0) return code(r, &err);
        if (r == 0) break;
        out->bits.insert(out->bits.end(), buf.begin(), buf.begin() + r);
        if (bands) ++*bands;
    }
    out->height = uint32_t(out->bits.size() / std::max<uint32_t>(1, out->row_bytes()));
    return 0;
}

uint32_t AwdHandle::read_page(uint16_t page, BitPage* out) {
    if (uint32_t rc = info(page, 0)) return rc;
    return read_bands(page, out);
}

uint32_t AwdHandle::option(uint32_t opt, void* value) {
    uint32_t err = 0;
    return code(xtavopts(&h, 1, opt, static_cast<uint32_t*>(value), &err), &err);
}

uint32_t make_awd_documents(const std::string& path, const std::vector<std::vector<BitPage>>& docs,
                            uint32_t dpi) {
    void* lib = plat_load_library(kAwdEncoderLibrary);
    if (!lib) return 1;
    auto create = reinterpret_cast<AwdCreateFn>(plat_symbol(lib, "AWDCreate"));
    auto add = reinterpret_cast<AwdAddImageFn>(plat_symbol(lib, "AWDAddImage"));
    auto close = reinterpret_cast<AwdCloseFn>(plat_symbol(lib, "AWDClose"));
    auto image = reinterpret_cast<ImageCreateFn>(plat_symbol(lib, "ImageCreate"));
    auto band = reinterpret_cast<ImageSetBandFn>(plat_symbol(lib, "ImageSetBand"));
    auto finish = reinterpret_cast<ImageCloseFn>(plat_symbol(lib, "ImageClose"));
    void* awd = create(path.c_str(), 0);
    if (!awd) return 1;
    bool ok = true;
    TempDir images;
    for (size_t d = 0; ok && d < docs.size(); ++d) {
        std::string file = images.file("DOC" + std::to_string(d));
        ImageParams params{kImageParamsKind, kImageParamsLineUnit, uint16_t(dpi), uint16_t(dpi)};
        void* im = image(file.c_str(), &params);
        ok = im != nullptr;
        for (const BitPage& p : docs[d]) {
            AwdBand b{0, int32_t(p.width), int32_t(p.height), int32_t(p.row_bytes()), 1, 1,
                      const_cast<uint8_t*>(p.bits.data())};
            ok = ok && band(im, &b);
            b.bmHeight = 0;
            ok = ok && band(im, &b);
        }
        ok = im && finish(im) && ok && add(awd, file.c_str());
    }
    close(awd);
    return ok ? 0 : 1;
}

uint32_t write_awd(const std::string& path, const std::vector<BitPage>& pages) {
    AwdHandle f;
    if (uint32_t rc = f.create(path)) return rc;
    for (size_t i = 0; i < pages.size(); ++i)
        if (uint32_t rc = f.write_page(uint16_t(i + 1), pages[i])) return rc;
    return f.close();
}

std::vector<BitPage> read_awd(const std::string& path) {
    AwdHandle f;
    if (f.open(path) != 0) return {};
    std::vector<BitPage> out(f.pages);
    for (uint32_t p = 0; p < f.pages; ++p)
        if (f.read_page(uint16_t(p + 1), &out[p]) != 0) return {};
    return out;
}

namespace {

std::vector<std::string> split_names(const std::string& bytes) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\0', at);
        if (end == std::string::npos) end = bytes.size();
        if (end == at) break;
        names.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// The storages on a path of names, held open while in use.
constexpr size_t kMaxDepth = 8;
using Held = StgRef<StgStorage>[kMaxDepth];

// Opens the storages on the path of names below the root.
bool walk(StgStorage* root, const std::vector<std::string>& names, size_t count, Held& held) {
    StgStorage* at = root;
    if (count > kMaxDepth) return false;
    for (size_t i = 0; i < count; ++i) {
        if (at->ops->OpenStorage(at, wide(names[i]).c_str(), nullptr, kStgModeRead, nullptr, 0,
                                 held[i].put()) != 0)
            return false;
        at = held[i].get();
    }
    return true;
}

}  // namespace

std::vector<std::string> display_order(const std::string& path) {
    StgRef<StgStorage> root;
    if (open_root(path, kStgModeRead, root)) return {"<no file>"};
    Held held;
    if (!walk(root.get(), {kAwdPersistent, kAwdGlobal}, 2, held)) return {"<no order>"};
    return split_names(get_stream(held[1].get(), kAwdDisplayOrder));
}

std::vector<std::string> document_streams(const std::string& path) {
    StgRef<StgStorage> root;
    Held held;
    if (open_root(path, kStgModeRead, root) || !walk(root.get(), {kAwdDocuments}, 1, held)) return {};
    StgRef<StgEnum> e;
    std::vector<std::string> names;
    if (held[0]->ops->EnumElements(held[0].get(), 0, nullptr, 0, e.put())) return {};
    StgMalloc* m = nullptr;
    StgGetMalloc(kStgTaskMemory, &m);
    StatStg st{};
    uint32_t got = 0;
    while (e->ops->Next(e.get(), 1, &st, &got) == 0 && got == 1) {
        if (st.type == kStgTypeStream) names.push_back(narrow(st.name));
        m->ops->Free(m, st.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool awd_element_exists(const std::string& path, const std::vector<std::string>& names) {
    StgRef<StgStorage> root;
    if (open_root(path, kStgModeRead, root) || names.empty()) return false;
    Held held;
    if (!walk(root.get(), names, names.size() - 1, held)) return false;
    StgStorage* parent = names.size() == 1 ? root.get() : held[names.size() - 2].get();
    StgRef<StgStream> s;
    StgRef<StgStorage> st;
    std::u16string last = wide(names.back());
    return parent->ops->OpenStream(parent, last.c_str(), nullptr, kStgModeRead, 0, s.put()) == 0 ||
           parent->ops->OpenStorage(parent, last.c_str(), nullptr, kStgModeRead, nullptr, 0, st.put()) == 0;
}

namespace {
void stub_fault(const char* library, const char* control, const char* entry, uint32_t after) {
    void* lib = plat_load_library(library);
    auto fn = reinterpret_cast<void (*)(const char*, uint32_t)>(plat_symbol(lib, control));
    // The library stays loaded: the library under test binds the same one.
    if (fn) fn(entry, after);
}
}  // namespace

void viewer_fault(const char* entry, uint32_t after) {
    stub_fault(kAwdViewerLibrary, "AWVSTUBfail", entry, after);
}

void encoder_fault(const char* entry, uint32_t after) {
    stub_fault(kAwdEncoderLibrary, "AWDSTUBfail", entry, after);
}

uint32_t delete_pages(const std::string& path, int32_t first, uint32_t last) {
    PathBuf p(path);
    uint32_t err = 5;
    errno = 0;
    int32_t r = xtavdelpgs(nullptr, p, first, last, &err);
    EXPECT_EQ(err, 0u);  // the cell stays 0; the code is in errno
    return r < 0 ? uint32_t(errno ? errno : -1) : 0;
}

uint32_t move_last(const std::string& path, uint32_t moved, uint32_t target) {
    AwdHandle f;
    if (uint32_t rc = f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE)) return rc;
    TavPageMove m{target, moved};
    uint32_t rc = f.option(TAV_OPT_MOVE_PAGE, &m);
    uint32_t closed = f.close();
    return rc ? rc : closed;
}

void AwdFileTest::SetUp() {
    blocks = mem_live_blocks();
    oldTmp = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp.path().c_str(), 1);
    redirected = true;
}

void AwdFileTest::TearDown() {
    if (!redirected) return;  // skipped before it was set up
    if (oldTmp.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", oldTmp.c_str(), 1);
    EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked";
    EXPECT_TRUE(dir_names(tmp.path()).empty()) << "temporary files left";
}

std::vector<uint32_t> flat(const Docs& docs) {
    std::vector<uint32_t> out;
    for (const auto& d : docs) out.insert(out.end(), d.begin(), d.end());
    return out;
}

size_t cut_at(Docs& docs, uint32_t g) {
    for (size_t i = 0; i < docs.size(); ++i) {
        if (g < docs[i].size()) {
            if (g == 0) return i;
            std::vector<uint32_t> tail(docs[i].begin() + g, docs[i].end());
            docs[i].resize(g);
            docs.insert(docs.begin() + long(i) + 1, tail);
            return i + 1;
        }
        g -= uint32_t(docs[i].size());
    }
    return docs.size();
}

void model_delete(Docs& docs, uint32_t first, uint32_t last) {
    cut_at(docs, last + 1);
    size_t from = cut_at(docs, first);
    uint32_t pages = last - first + 1;
    while (pages > 0) {
        pages -= uint32_t(docs[from].size());
        docs.erase(docs.begin() + long(from));
    }
}
