#include "update_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "qvtav.h"
#include "tiff_builder.h"

namespace update_session {
namespace {

using Bytes = std::vector<uint8_t>;

// The fuzzer's bytes, one a choice; 0 once they run out.
class Choices {
public:
    Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t below(uint32_t n) { return n <= 1 ? 0 : next() % n; }
    bool flag() { return next() & 1; }

private:
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A page as the checks see it: its width and its stored bytes.
struct Page {
    uint32_t width = 0;
    Bytes data;
    bool operator==(const Page&) const = default;
};

Bytes numbered_bytes(size_t n, uint32_t seed) {
    Bytes v(n);
    for (size_t k = 0; k < n; ++k) v[k] = uint8_t(seed * 37 + k * 11 + 1);
    return v;
}

Bytes file_bytes(const std::string& path) {
    Bytes out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

bool save(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

struct PathBuf {
    char s[TAV_PATH_SIZE] = {};
    explicit PathBuf(const std::string& p) { std::snprintf(s, sizeof s, "%s", p.c_str()); }
};

// ---- the file ----

constexpr uint16_t kTableTag = 32934;
constexpr uint32_t kBeyondTheEnd = 0x7FFFFF00;

// What each directory holds besides its page: a table entry naming the
// table, none, one naming no table, or one naming a stale table.
enum class TableEntry { None, Table, Empty, Stale };

struct Plan {
    bool mm = false, properties = false;
    std::vector<uint32_t> pageDirs;   // the directory of each page the table lists
    std::vector<TableEntry> entries;  // per directory
    std::vector<int> links;           // per directory: a directory, or -1 (0), -2 (beyond), -3 (into data)
    uint32_t firstEntry = 0;          // what the table's first entry names: 0 page 1, 1 another, 2 nothing
};

// The reader opens the file through the chain from directory 0 up to the
// first directory with a table entry (the carrier), which names the table;
// the directories on that path have none. Every other link and entry is
// free: the chain may end early, run in circles, leave the table's pages
// out or take others in, and the table may list a directory twice.
Plan choose_plan(Choices& c) {
    Plan p;
    p.mm = c.flag();
    p.properties = c.flag();
    const uint32_t dirs = 2 + c.below(6);
    const uint32_t pages = 1 + c.below(dirs + 2);
    p.pageDirs = {0};
    for (uint32_t i = 1; i < pages; ++i) p.pageDirs.push_back(c.flag() ? i % dirs : c.below(dirs));
    p.entries.assign(dirs, TableEntry::None);
    p.links.assign(dirs, -1);
    for (uint32_t d = 0; d < dirs; ++d) {
        uint32_t kind = c.below(4);
        p.entries[d] = kind == 0 ? TableEntry::Stale : kind == 1 ? TableEntry::Empty : TableEntry::None;
        uint32_t link = c.below(dirs + 3);
        p.links[d] = link < dirs ? int(link) : -1 - int(link - dirs);
    }
    // The path to the carrier: directory 0, then up to two others.
    std::vector<uint32_t> path = {0};
    for (uint32_t hops = c.below(3), d = 1 + c.below(dirs - 1); hops > 0 && path.size() < dirs; --hops) {
        while (std::find(path.begin(), path.end(), d) != path.end()) d = 1 + d % (dirs - 1);
        p.links[path.back()] = int(d);
        path.push_back(d);
    }
    for (uint32_t d : path) p.entries[d] = TableEntry::None;
    p.entries[path.back()] = TableEntry::Table;
    p.firstEntry = c.below(3);
    return p;
}

Page dir_page(uint32_t d) { return Page{8 * (d + 1), numbered_bytes(2 * (d + 1), d)}; }

// Builds the planned file; *pages gets what each page holds.
Bytes build_file(const Plan& p, std::vector<Page>* pages) {
    TiffBuilder b(p.mm);
    if (p.properties) b.add_property_block(std::string("Title:session") + '\0');
    const uint32_t dirs = uint32_t(p.entries.size()), count = uint32_t(p.pageDirs.size());
    std::vector<uint32_t> strips;
    for (uint32_t d = 0; d < dirs; ++d) strips.push_back(b.add_data(dir_page(d).data));
    const uint32_t tableBytes = 16 + 4 * count;
    const uint32_t table = b.add_data(Bytes(tableBytes), 4), stale = b.add_data(Bytes(tableBytes), 4);
    for (uint32_t d = 0; d < dirs; ++d) {
        const Page page = dir_page(d);
        auto& ifd = b.add_ifd().shorts(256, {uint16_t(page.width)}).shorts(257, {2}).longs(273, {strips[d]})
                        .longs(279, {uint32_t(page.data.size())});
        if (p.entries[d] == TableEntry::Table) ifd.raw(kTableTag, 4, count + 4, table);
        if (p.entries[d] == TableEntry::Stale) ifd.raw(kTableTag, 4, count + 4, stale);
        if (p.entries[d] == TableEntry::Empty) ifd.raw(kTableTag, 4, 1, 0);
    }
    b.build();  // learns where the directories lie
    for (uint32_t d = 0; d < dirs; ++d) {
        auto& ifd = b.ifd(d);
        ifd.hasNextOverride = true;
        const int link = p.links[d];
        ifd.nextOverride = link >= 0 ? b.ifd_offset(uint32_t(link))
                           : link == -1 ? 0 : link == -2 ? kBeyondTheEnd : strips[(d + 1) % dirs];
    }
    Bytes out = b.build();
    const uint32_t length = uint32_t(out.size());
    const uint32_t first[3] = {b.ifd_offset(0), b.ifd_offset(dirs - 1), 0};
    for (uint32_t at : {table, stale}) {
        b.set32(out, at, 0x4F584554);  // "TEXO"
        b.set32(out, at + 4, 1);
        b.set32(out, at + 8, count);
        b.set32(out, at + 12, at == table ? length : length + 4);
        b.set32(out, at + 16, first[p.firstEntry]);
        for (uint32_t i = 1; i < count; ++i) b.set32(out, at + 16 + 4 * i, b.ifd_offset(p.pageDirs[i]));
    }
    for (uint32_t d : p.pageDirs) pages->push_back(dir_page(d));
    return out;
}

// ---- the checks ----

std::string page_fault(int32_t h, uint16_t page, const Page& want) {
    PageInfo info{};
    PageSizes sizes{};
    uint32_t err = 0, remaining = 0;
    if (xtavgeti(&h, page, &info, &sizes, &err) < 0)
        return "page " + std::to_string(page) + " does not read (" + std::to_string(err) + ")";
    Bytes got(want.data.size());
    int32_t n = xtavread(&h, got.data(), 0, uint32_t(got.size()), &remaining, page, &err);
    if (info.imageWidth != want.width || n != int32_t(got.size()) || got != want.data)
        return "page " + std::to_string(page) + " holds another page (width " + std::to_string(info.imageWidth) +
               ", " + std::to_string(want.width) + " expected)";
    return "";
}

std::string pages_fault(const std::string& path, const std::vector<Page>& model) {
    PathBuf p(path);
    uint32_t type = 0, count = 0, err = 0;
    int32_t h = xtavopen(nullptr, p.s, TAV_OPEN_READ, &type, &count, &err);
    if (h < 0) return "the file does not open (" + std::to_string(err) + ")";
    std::string fault;
    if (count != model.size())
        fault = std::to_string(count) + " pages, " + std::to_string(model.size()) + " expected";
    for (uint32_t i = 0; fault.empty() && i < count; ++i) fault = page_fault(h, uint16_t(i + 1), model[i]);
    xtavclose(&h, &err);
    return fault;
}

// ---- the session ----

class Session {
public:
    Session(const std::string& path, std::vector<Page> model, Outcome* out)
        : path_(path), model_(std::move(model)), out_(out) {}

    // Opens; false when the open was refused (then checked).
    bool open(const Bytes& original) {
        PathBuf p(path_);
        uint32_t type = 0, count = 0, err = 0;
        h_ = xtavopen(nullptr, p.s, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &count, &err);
        if (h_ > 0 && count != model_.size()) fail("the update open counts " + std::to_string(count) + " pages");
        if (h_ < 0 && file_bytes(path_) != original) fail("a refused update open changed the file");
        return h_ > 0;
    }

    void move(uint32_t to, uint32_t from) {
        ++out_->calls;
        const Bytes before = settled_ ? file_bytes(path_) : Bytes();
        TavPageMove m{to, from};
        uint32_t err = 0;
        if (xtavopts(&h_, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&m), &err) == 0) {
            std::rotate(model_.begin() + (to - 1), model_.begin() + (from - 1), model_.begin() + from);
        } else {
            ++out_->refused;
            // Only what the calls before left to finish (an appended page's
            // directory, the table for it) may have been written.
            if (settled_ && file_bytes(path_) != before) fail("a refused move changed the file");
        }
        settled_ = true;
    }

    void append() {
        ++out_->calls;
        const uint32_t seed = 100 + uint32_t(model_.size());
        Page page{8 * (seed % 7 + 2), {}};
        page.data = numbered_bytes(page.width / 8, seed);
        PageInfo info{};
        info.imageWidth = page.width;
        info.imageLength = info.rowsPerStrip = 1;
        info.bitsPerSample[0] = info.samplesPerPixel = info.fillOrder = info.stripCount = 1;
        info.compression = TAV_COMP_NONE;
        info.photometric = TAV_PHOTO_BILEVEL_WHITE;
        info.xResNum = info.yResNum = 200;
        info.xResDen = info.yResDen = 1;
        info.resolutionUnit = 2;
        const uint16_t number = uint16_t(model_.size() + 1);
        uint32_t err = 0;
        if (xtavputi(&h_, number, &info, nullptr, &err) == 0 &&
            xtavwrite(&h_, page.data.data(), uint32_t(page.data.size()), number, 1, &err) == int32_t(page.data.size()))
            model_.push_back(page);
        else
            ++out_->refused;
        settled_ = false;
    }

    void end(bool abort, const Bytes& original) {
        uint32_t err = 0;
        out_->closed = !abort;
        if (abort) {
            if (xtavabort(&h_, &err) != 0) return fail("the abort failed (" + std::to_string(err) + ")");
            if (file_bytes(path_) != original) fail("the abort did not give the file back");
            return;
        }
        if (xtavclose(&h_, &err) != 0) return fail("the close failed (" + std::to_string(err) + ")");
        std::string fault = pages_fault(path_, model_);
        if (!fault.empty()) fail("after the close " + fault);
    }

    uint32_t pages() const { return uint32_t(model_.size()); }

private:
    void fail(const std::string& what) {
        if (out_->fault.empty()) out_->fault = what;
    }
    std::string path_;
    std::vector<Page> model_;
    Outcome* out_;
    int32_t h_ = 0;
    bool settled_ = true;  // no appended page waits to be finished
};

}  // namespace

Outcome run(const std::string& path, const uint8_t* data, size_t size) {
    Outcome out;
    Choices c(data, size);
    std::vector<Page> model;
    const Bytes original = build_file(choose_plan(c), &model);
    if (!save(path, original)) {
        out.fault = "cannot write " + path;
        return out;
    }
    // The reader's view of the file is the model the session starts from.
    out.fault = pages_fault(path, model);
    if (!out.fault.empty()) {
        out.fault = "the file as made: " + out.fault;
        return out;
    }
    Session s(path, model, &out);
    if (!s.open(original)) return out;
    for (uint32_t calls = 1 + c.below(6); calls > 0; --calls) {
        const uint32_t pages = s.pages();
        if (c.below(3) == 0 || pages < 2) {
            s.append();
            continue;
        }
        const uint32_t to = 1 + c.below(pages - 1);
        s.move(to, to + 1 + c.below(pages - to));
    }
    s.end(c.below(4) == 0, original);
    return out;
}

}  // namespace update_session
