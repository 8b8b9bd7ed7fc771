// Many threads, one library, as a document server uses it: every thread
// works on files of its own of every writable type (TIFF created, appended
// to, a page moved, a page deleted and the properties set by path; block
// file; PCX, DCX, BMP; AWD with the storage calls; raw data; duplicate and
// replace), local and, for TIFF and block files, remote through the
// directory server; all threads read the same files of every readable
// type, local and remote; and all threads race to append to one shared
// TIFF file, where the writer's lock lets one handle in at a time (13 to
// the others). Every result is checked against what was written or, for
// the shared files, against one reading made before the threads started.
//
//   threads_stress [THREADS [ROUNDS]]        (8 threads, 2 rounds)
//
// Exit status 0 when every check held, 1 otherwise.
//
// The library's descriptor table is the process's: 20 descriptors for all
// threads together, and a step holds several at once (a property update:
// the document, its writer and the work file; a TIFF being written, two).
// Eight threads in their busiest steps can fill the table (the call then
// fails with TAV_ENOMEM), so, as a server on a pool of threads must, the
// program lets five steps run at a time; the other threads wait a turn.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "qvtav.hpp"
#include "test_util.h"
#include "tiff_builder.h"

namespace {

namespace fs = std::filesystem;
using Data = std::vector<uint8_t>;

// ---- checks ----

std::atomic<uint64_t> g_checks{0};
std::atomic<uint32_t> g_failures{0};
std::mutex g_print;

void fail(const std::string& what) {
    if (++g_failures <= 30) {
        std::lock_guard<std::mutex> lock(g_print);
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

bool check(bool ok, const std::string& what) {
    ++g_checks;
    if (!ok) fail(what);
    return ok;
}

// Runs one step; a library error it throws is a failure of the step.
template <typename F>
void step(const std::string& name, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        fail(name + ": " + e.what());
    }
}

Data pattern(size_t n, uint32_t seed) {
    Data v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

bool starts_with(const Data& got, const Data& want) {
    return got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin());
}

void save(const std::string& path, const Data& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// ---- where a file lives ----

// A directory of this machine, or the same through the directory server.
struct Place {
    std::string root;        // local directory (the server's directory when remote)
    std::string sub;         // directory inside it
    bool remote = false;
    FileLocation loc{};      // the thread's own record: the library writes into it

    Place(std::string r, std::string s, bool isRemote) : root(std::move(r)), sub(std::move(s)), remote(isRemote) {
        loc.isRemote = remote ? 1 : 0;
        std::snprintf(loc.server, sizeof loc.server, "%s", root.c_str());
    }
    FileLocation* where() { return remote ? &loc : nullptr; }
    // The path the library is given, and the same file seen locally.
    std::string path(const std::string& name) const { return remote ? sub + "/" + name : root + "/" + sub + "/" + name; }
    std::string local(const std::string& name) const { return root + "/" + sub + "/" + name; }
};

// ---- reading ----

void append_u32(std::string& d, uint32_t v) { d.append(reinterpret_cast<const char*>(&v), sizeof v); }
void append_bytes(std::string& d, const Data& v) {
    append_u32(d, uint32_t(v.size()));
    d.append(v.begin(), v.end());
}

// Raw data: the file's bytes through xtavread (a read of one byte tells
// how many follow).
Data read_raw(const std::string& path, FileLocation* where, uint32_t* typeOut = nullptr) {
    qvtav::detail::PathBuffer p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(where, p.text, TAV_OPEN_RAW, &type, &pages, &err);
    if (h < 0) throw qvtav::Error("xtavopen " + path, err);
    if (typeOut) *typeOut = type;
    uint8_t first = 0;
    uint32_t left = 0;
    Data out;
    if (xtavread(&h, &first, 0, 1, &left, 0, &err) == 1) {
        out.resize(size_t(left) + 1);
        if (xtavread(&h, out.data(), 0, uint32_t(out.size()), &left, 0, &err) != int32_t(out.size())) out.clear();
    }
    xtavclose(&h, &err);
    return out;
}

// Everything a reader sees of a file: its type, page count, and each
// page's geometry, coding, data, palette and texts.
std::string digest(const std::string& path, FileLocation* where) {
    qvtav::File f = qvtav::File::open(path, TAV_OPEN_READ, where);
    std::string d;
    append_u32(d, f.type());
    append_u32(d, f.page_count());
    for (uint16_t p = 1; p <= f.page_count(); ++p) {
        const PageInfo& i = f.info(p);
        for (uint32_t v : {i.imageWidth, i.imageLength, i.compression, i.photometric, i.bitsPerSample[0],
                           i.samplesPerPixel, i.xResNum, f.sizes(p).dataBytes})
            append_u32(d, v);
        append_bytes(d, f.read(p));
        append_bytes(d, f.palette(p));
        if (f.type() == FILETYPE_TIFF)
            for (const std::string& t : f.texts(p)) d += t + '\n';
    }
    return d;
}

// ---- writing ----

constexpr uint32_t kWidth = 128, kLength = 64;  // bilevel pages of 1024 bytes

PageInfo bilevel() {
    PageInfo i{};
    i.xResNum = 200, i.yResNum = 100, i.xResDen = i.yResDen = 1, i.resolutionUnit = 2;
    i.imageWidth = kWidth;
    i.imageLength = i.rowsPerStrip = kLength;
    i.bitsPerSample[0] = i.samplesPerPixel = i.fillOrder = i.stripCount = 1;
    i.compression = TAV_COMP_NONE;
    i.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return i;
}

// An 8-bit palette page: rows of width bytes, and its colour map.
struct PalettePage {
    uint32_t width = 40, length = 20;
    Data rows, map;
    PalettePage(uint32_t seed, bool bmp) : rows(pattern(size_t(width) * length, seed)) {
        for (uint32_t k = 0; k < 256; ++k) {
            map.insert(map.end(), {uint8_t(k), uint8_t(255 - k), uint8_t(k * 7)});
            if (bmp) map.push_back(0);
        }
    }
    PageInfo info() {
        PageInfo i{};
        i.xResNum = 200, i.yResNum = 100, i.xResDen = i.yResDen = 1, i.resolutionUnit = 2;
        i.imageWidth = width, i.imageLength = length;
        i.bitsPerSample[0] = 8, i.samplesPerPixel = 1;
        i.compression = TAV_COMP_NONE;
        i.photometric = TAV_PHOTO_PALETTE;
        i.area.palette.colorMapSize = uint32_t(map.size());
        i.area.palette.colorMapBuffer = map.data();
        return i;
    }
};

// PCX run-length rows back to plain bytes (n bytes at most).
Data pcx_decode(const Data& in, size_t n) {
    Data out;
    for (size_t k = 0; k < in.size() && out.size() < n; ++k) {
        uint8_t b = in[k];
        if ((b & 0xC0) == 0xC0 && k + 1 < in.size())
            out.insert(out.end(), b & 0x3F, in[++k]);
        else
            out.push_back(b);
    }
    out.resize(std::min(out.size(), n));
    return out;
}

// ---- the shared files ----

struct SharedFile {
    std::string name;
    uint32_t type;
    std::map<bool, std::string> reference;  // by remote
};

Data gif_bytes() {
    Bytes g;
    g.text("GIF89a").le16(40).le16(30).u8({0x87, 0, 0});
    for (uint32_t k = 0; k < 256; ++k) g.u8({uint8_t(k), uint8_t(2 * k), uint8_t(3 * k)});
    g.u8({0x2C}).le16(0).le16(0).le16(40).le16(30).u8({0});
    return g.u8({8, 3, 0x11, 0x22, 0x33, 0, 0x3B}).b;
}

Data tga_bytes() {
    Bytes t;
    t.u8({0, 0, 2}).le16(0).le16(0).u8({0}).le16(0).le16(0).le16(8).le16(4).u8({24, 0x20});
    return t.raw(pattern(8 * 4 * 3, 77)).b;
}

Data jpeg_bytes() {
    Bytes j;
    j.u8({0xFF, 0xD8, 0xFF, 0xE0}).be16(16).text("JFIF").u8({0, 1, 2, 1}).be16(300).be16(300).u8({0, 0});
    j.u8({0xFF, 0xC0}).be16(17).u8({8}).be16(21).be16(35).u8({3});
    for (uint8_t c = 1; c <= 3; ++c) j.u8({c, 0x11, 0});
    j.u8({0xFF, 0xDA}).be16(8).u8({1, 1, 0, 0, 63, 0});
    return j.fill(40, 0x33).u8({0xFF, 0xD9}).b;
}

// A big-endian TIFF of three pages with texts, as another program leaves it.
Data tiff_bytes() {
    TiffBuilder b(true);
    std::vector<uint32_t> strips;
    for (uint32_t p = 0; p < 3; ++p) strips.push_back(b.add_data(pattern(kWidth / 8 * kLength, 500 + p)));
    for (uint32_t p = 0; p < 3; ++p)
        b.add_ifd().longs(256, {kWidth}).longs(257, {kLength}).shorts(258, {1}).shorts(259, {1})
            .shorts(262, {0}).ascii(270, "shared page " + std::to_string(p + 1)).longs(273, {strips[p]})
            .shorts(277, {1}).longs(278, {kLength}).longs(279, {kWidth / 8 * kLength});
    return b.build();
}

Data xiff_bytes() {
    TiffBuilder b;
    Data mark{'X', 'E', 'R', 'O', 'X', ' ', 'D', 'I', 'F', 'F', 1, 0};
    b.add_data(mark, 1);
    uint32_t strip = b.add_data(pattern(kWidth / 8 * kLength, 600));
    b.add_ifd().longs(256, {kWidth}).longs(257, {kLength}).shorts(258, {1}).shorts(259, {1}).shorts(262, {0})
        .longs(273, {strip}).shorts(277, {1}).longs(278, {kLength}).longs(279, {kWidth / 8 * kLength})
        .rationals(282, {{300, 1}}).rationals(283, {{300, 1}}).shorts(296, {2});
    return b.build();
}

// A file of pages written through the library.
void write_pages(const std::string& path, uint32_t type, const std::vector<PageInfo>& infos,
                 const std::vector<Data>& data, FileLocation* where = nullptr) {
    qvtav::File f = qvtav::File::create(path, type, where);
    for (size_t p = 0; p < infos.size(); ++p) f.put_page(uint16_t(p + 1), infos[p], data[p]);
    f.close();
}

PageInfo awd_page() {
    PageInfo i{};
    i.imageWidth = kWidth;
    i.xResNum = i.yResNum = 200;
    i.xResDen = i.yResDen = 1;
    i.stripCount = TAV_AWD_PAIR(100, 100);
    return i;
}

PageInfo block_page() {
    PageInfo i = bilevel();
    i.compression = TAV_COMP_CCITT_T6;
    return i;
}

std::vector<SharedFile> make_shared(const std::string& dir) {
    save(dir + "/shared.tif", tiff_bytes());
    save(dir + "/shared.gif", gif_bytes());
    save(dir + "/shared.tga", tga_bytes());
    save(dir + "/shared.jpg", jpeg_bytes());
    save(dir + "/shared.xif", xiff_bytes());
    save(dir + "/shared.raw", pattern(10000, 700));
    PalettePage pcx(701, false), bmp(702, true);
    write_pages(dir + "/shared.pcx", FILETYPE_PCX, {pcx.info()}, {pcx.rows});
    write_pages(dir + "/shared.dcx", FILETYPE_DCX, {pcx.info(), pcx.info()}, {pcx.rows, pattern(800, 703)});
    write_pages(dir + "/shared.bmp", FILETYPE_BMP, {bmp.info()}, {bmp.rows});
    write_pages(dir + "/shared.blk", FILETYPE_BLOCK, {block_page(), block_page()}, {pattern(3000, 704), pattern(5000, 705)});
    write_pages(dir + "/shared.awd", FILETYPE_AWD, {awd_page(), awd_page()},
                {pattern(kWidth / 8 * 40, 706), pattern(kWidth / 8 * 70, 707)});
    return {{"shared.tif", FILETYPE_TIFF, {}}, {"shared.gif", FILETYPE_GIF, {}}, {"shared.tga", FILETYPE_TGA, {}},
            {"shared.jpg", FILETYPE_JPEG, {}}, {"shared.xif", FILETYPE_XIFF, {}}, {"shared.raw", FILETYPE_RAW, {}},
            {"shared.pcx", FILETYPE_PCX, {}}, {"shared.dcx", FILETYPE_DCX, {}}, {"shared.bmp", FILETYPE_BMP, {}},
            {"shared.blk", FILETYPE_BLOCK, {}}, {"shared.awd", FILETYPE_AWD, {}}};
}

// What a reader sees of a shared file (raw data as its bytes).
std::string shared_digest(const SharedFile& s, Place& at) {
    if (s.type == FILETYPE_RAW) {
        uint32_t type = 0;
        Data bytes = read_raw(at.path(s.name), at.where(), &type);
        std::string d;
        append_u32(d, type);
        append_bytes(d, bytes);
        return d;
    }
    return digest(at.path(s.name), at.where());
}

// Steps that may run at once: the descriptor table's 20 entries, up to four
// to a step.
constexpr std::ptrdiff_t kStepsAtOnce = 5;

struct Run {
    std::counting_semaphore<kStepsAtOnce> turns{kStepsAtOnce};
    std::string dir;                  // local files; its "server" directory is the server's
    std::vector<SharedFile> shared;
    std::mutex appendedMutex;
    std::vector<Data> appended;       // pages the shared append let in
    std::atomic<uint32_t> refused{0};  // appends refused (13)
    std::atomic<uint32_t> awdBusy{0};  // opens of the shared AWD document refused
};

// ---- one thread's work ----

class Worker {
public:
    Worker(Run& run, uint32_t t)
        : run_(run), t_(t), local_(run.dir, "t" + std::to_string(t), false),
          remote_(run.dir + "/server", "t" + std::to_string(t), true), sharedLocal_(run.dir, ".", false),
          sharedRemote_(run.dir + "/server", ".", true) {}

    void round(uint32_t r) {
        r_ = r;
        run("tiff local", [&] { tiff_cycle(local_); });
        run("tiff remote", [&] { tiff_cycle(remote_); });
        run("block local", [&] { block_cycle(local_); });
        run("block remote", [&] { block_cycle(remote_); });
        run("pcx dcx bmp", [&] { palette_cycle(); });
        run("awd", [&] { awd_cycle(); });
        run("raw", [&] { raw_cycle(); });
        run("duplicate replace", [&] { duplicate_cycle(); });
        run("remote replace", [&] { remote_replace_cycle(); });
        run("shared reads", [&] { shared_reads(); });
        run("shared append", [&] { shared_append(); });
    }

private:
    template <typename F>
    void run(const char* name, F&& f) {
        step_ = name;
        run_.turns.acquire();
        step(tag(""), f);
        run_.turns.release();
    }
    std::string tag(const std::string& what) const {
        const std::string at = "thread " + std::to_string(t_) + " round " + std::to_string(r_) + " " + step_;
        return what.empty() ? at : at + ": " + what;
    }
    uint32_t seed(uint32_t k) const { return t_ * 1000000 + r_ * 1000 + k; }
    std::string name(const std::string& base) const { return base + std::to_string(r_); }

    // The file's pages, read back, against the pages expected. (The one
    // strip of a TIFF page reads up to the end of the file: the page's
    // bytes come first.)
    void expect_pages(Place& at, const std::string& path, const std::vector<Data>& pages, const std::string& what) {
        qvtav::File f = qvtav::File::open(path, TAV_OPEN_READ, at.where());
        if (!check(f.page_count() == pages.size(), tag(what + ": page count " + std::to_string(f.page_count()))))
            return;
        for (uint16_t p = 1; p <= pages.size(); ++p)
            check(starts_with(f.read(p), pages[p - 1]), tag(what + ": page " + std::to_string(p)));
    }

    // Create 12 pages, append one, move it to the front, delete it by
    // path, set the properties by path.
    void tiff_cycle(Place& at) {
        const std::string path = at.path(name("doc") + ".tif");
        std::vector<Data> pages;
        for (uint32_t p = 0; p < 12; ++p) pages.push_back(pattern(kWidth / 8 * kLength, seed(p)));
        write_pages(path, FILETYPE_TIFF, std::vector<PageInfo>(12, bilevel()), pages, at.where());
        expect_pages(at, path, pages, "created");

        Data extra = pattern(kWidth / 8 * kLength, seed(99));
        {
            qvtav::File f = qvtav::File::open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, at.where());
            f.put_page(13, bilevel(), extra);
            f.close();
        }
        pages.push_back(extra);
        expect_pages(at, path, pages, "appended");

        {
            qvtav::File f = qvtav::File::open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, at.where());
            TavPageMove move{1, 13};
            uint32_t err = 0;
            int32_t h = f.handle();
            int32_t r = xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&move), &err);
            check(r == 0, tag("move: error " + std::to_string(err)));
            f.close();
        }
        pages.insert(pages.begin(), pages.back());
        pages.pop_back();
        expect_pages(at, path, pages, "moved");

        qvtav::detail::PathBuffer p(path);
        uint32_t err = 0;
        int32_t r = xtavdelpgs(at.where(), p.text, 1, 1, &err);
        check(r == 0, tag("xtavdelpgs: errno " + std::to_string(errno)));
        pages.erase(pages.begin());
        expect_pages(at, path, pages, "deleted");

        const std::string title = "thread " + std::to_string(t_) + " round " + std::to_string(r_);
        PageInfo props{};
        props.title = const_cast<char*>(title.c_str());
        props.author = props.subject = props.keywords = props.comments = const_cast<char*>("");
        r = xtavputprops(at.where(), p.text, &props, &err);
        check(r == 0, tag("xtavputprops: errno " + std::to_string(errno)));
        {
            qvtav::File f = qvtav::File::open(path, TAV_OPEN_READ, at.where());
            const PageInfo& i = f.info(1);
            check(i.title && title == i.title, tag("title read back"));
        }
        expect_pages(at, path, pages, "properties set");
        erase(at, path);
    }

    void block_cycle(Place& at) {
        const std::string path = at.path(name("doc") + ".blk");
        std::vector<Data> pages = {pattern(1000, seed(1)), pattern(9000, seed(2)), pattern(300, seed(3))};
        write_pages(path, FILETYPE_BLOCK, std::vector<PageInfo>(3, block_page()), pages, at.where());
        expect_pages(at, path, pages, "block file");
        erase(at, path);
    }

    void palette_cycle() {
        PalettePage a(seed(10), false), b(seed(11), false), c(seed(12), true);
        const std::string pcx = local_.path(name("img") + ".pcx"), dcx = local_.path(name("img") + ".dcx"),
                          bmp = local_.path(name("img") + ".bmp");
        write_pages(pcx, FILETYPE_PCX, {a.info()}, {a.rows});
        write_pages(dcx, FILETYPE_DCX, {a.info(), b.info(), a.info()}, {a.rows, b.rows, a.rows});
        write_pages(bmp, FILETYPE_BMP, {c.info()}, {c.rows});
        const size_t n = a.rows.size();
        {
            qvtav::File f = qvtav::File::open(pcx);
            check(pcx_decode(f.read(1), n) == a.rows && f.palette(1) == a.map, tag("pcx page"));
        }
        {
            qvtav::File f = qvtav::File::open(dcx);
            check(f.page_count() == 3, tag("dcx page count"));
            const Data* want[] = {&a.rows, &b.rows, &a.rows};
            for (uint16_t p = 1; p <= 3; ++p) check(pcx_decode(f.read(p), n) == *want[p - 1], tag("dcx page"));
        }
        {
            // Rows stand bottom-up in a BMP file.
            qvtav::File f = qvtav::File::open(bmp);
            Data got = f.read(1), flipped;
            for (uint32_t y = c.length; y-- > 0;)
                flipped.insert(flipped.end(), got.begin() + y * c.width, got.begin() + (y + 1) * c.width);
            check(got.size() == c.rows.size() && flipped == c.rows && f.palette(1) == c.map, tag("bmp page"));
        }
        for (const std::string& path : {pcx, dcx, bmp}) fs::remove(path);
    }

    // An AWD document and the storage calls. A storage reference path counts
    // only for a storage object alive in the process, which a caller of the
    // interface never holds here: the copy is refused.
    void awd_cycle() {
        const std::string path = local_.path(name("fax") + ".awd"), copy = local_.path(name("copy") + ".awd");
        std::vector<Data> rows = {pattern(kWidth / 8 * 50, seed(20)), pattern(kWidth / 8 * 90, seed(21))};
        write_pages(path, FILETYPE_AWD, {awd_page(), awd_page()}, rows);
        {
            qvtav::File f = qvtav::File::open(path);
            check(f.page_count() == 2, tag("awd page count"));
            for (uint16_t p = 1; p <= 2 && f.page_count() == 2; ++p)
                check(starts_with(f.read(p), rows[p - 1]), tag("awd page " + std::to_string(p)));
        }
        uint32_t isAwd = 0;
        check(IsAWDFile(path.c_str(), &isAwd) == 0 && isAwd == 1, tag("IsAWDFile"));
        const std::string reference = "texo:\\inboxawd\\fakefile\\" + std::to_string(1000 + t_);
        check(IsStorage(path.c_str()) == 0 && IsStorage(reference.c_str()) == 1, tag("IsStorage"));
        check(CopyStorage(reference.c_str(), copy.c_str(), 0) == 0xFFFFFFFFu && !fs::exists(copy), tag("CopyStorage"));
        fs::remove(path);
    }

    void raw_cycle() {
        const std::string path = local_.path(name("bytes") + ".raw");
        Data bytes = pattern(20000, seed(30));
        {
            qvtav::File f = qvtav::File::create(path, FILETYPE_RAW);
            uint32_t err = 0;
            int32_t h = f.handle();
            check(xtavwrite(&h, bytes.data(), uint32_t(bytes.size()), 0, 1, &err) == int32_t(bytes.size()),
                  tag("raw write"));
            f.close();
        }
        check(read_raw(path, nullptr) == bytes, tag("raw read"));
        fs::remove(path);
    }

    // A copy under a fresh name beside the file, then the copy takes the
    // file's place.
    void duplicate_cycle() {
        const std::string path = local_.path(name("dup") + ".tif");
        write_pages(path, FILETYPE_TIFF, {bilevel()}, {pattern(kWidth / 8 * kLength, seed(40))});
        const std::string before = digest(path, nullptr);
        qvtav::detail::PathBuffer src(path), dest("");
        uint32_t err = 0;
        int32_t r = xifsduplicate(nullptr, src.text, dest.text, &err);
        if (!check(r == 0, tag("xifsduplicate: errno " + std::to_string(errno)))) return;
        check(digest(dest.text, nullptr) == before, tag("duplicate reads alike"));
        r = xifsreplace(nullptr, src.text, nullptr, dest.text, &err);
        check(r == 0, tag("xifsreplace: errno " + std::to_string(errno)));
        check(!fs::exists(dest.text) && digest(path, nullptr) == before, tag("replaced"));
        fs::remove(path);
    }

    // A local file replaces a remote one: the library keeps a copy of its
    // own, and read-only opens of the remote file are served from it while
    // the file is unchanged (and from the server after any change).
    void remote_replace_cycle() {
        const std::string target = remote_.path(name("rep") + ".tif"), source = local_.path(name("src") + ".tif");
        write_pages(target, FILETYPE_TIFF, {bilevel()}, {pattern(kWidth / 8 * kLength, seed(50))}, remote_.where());
        Data page = pattern(kWidth / 8 * kLength, seed(51));
        write_pages(source, FILETYPE_TIFF, {bilevel(), bilevel()}, {page, page});
        const std::string want = digest(source, nullptr);
        FileLocation src{};
        qvtav::detail::PathBuffer t(target), s(source);
        uint32_t err = 0;
        int32_t r = xifsreplace(remote_.where(), t.text, &src, s.text, &err);
        check(r == 0, tag("remote xifsreplace: errno " + std::to_string(errno)));
        check(digest(target, remote_.where()) == want, tag("replaced remote reads alike"));
        erase(remote_, target);
        fs::remove(source);
    }

    // A compound file is open once at a time in a process: while another
    // thread reads the shared AWD document, its open is refused.
    void shared_reads() {
        for (const SharedFile& s : run_.shared)
            for (bool remote : {false, true}) {
                const std::string what = tag(s.name + (remote ? " remote" : " local"));
                try {
                    check(shared_digest(s, remote ? sharedRemote_ : sharedLocal_) == s.reference.at(remote), what);
                } catch (const qvtav::Error& e) {
                    if (s.type == FILETYPE_AWD && !remote && e.code() == TAV_STG_E_SHAREVIOLATION)
                        ++run_.awdBusy;
                    else
                        fail(what + ": " + e.what());
                }
            }
    }

    // One handle at a time may append; the others are refused with 13.
    void shared_append() {
        qvtav::detail::PathBuffer p(run_.dir + "/append.tif");
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, p.text, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
        if (h < 0) {
            if (check(err == TAV_EACCES, tag("shared append refused with " + std::to_string(err)))) ++run_.refused;
            return;
        }
        Data page = pattern(kWidth / 8 * kLength, seed(60));
        PageInfo info = bilevel();
        bool ok = xtavputi(&h, uint16_t(pages + 1), &info, nullptr, &err) == 0 &&
                  xtavwrite(&h, page.data(), uint32_t(page.size()), uint16_t(pages + 1), 1, &err) == int32_t(page.size());
        check(ok, tag("shared append: error " + std::to_string(err)));
        if (check(xtavclose(&h, &err) == 0, tag("shared append close")) && ok) {
            std::lock_guard<std::mutex> lock(run_.appendedMutex);
            run_.appended.push_back(page);
        }
    }

    static void erase(Place& at, const std::string& path) { fs::remove(at.remote ? at.root + "/" + path : path); }

    Run& run_;
    uint32_t t_, r_ = 0;
    std::string step_;
    Place local_, remote_, sharedLocal_, sharedRemote_;
};

std::string temp_root() {
    const char* base = std::getenv("TMPDIR");
    std::string t = std::string(base && *base ? base : "/tmp") + "/qvtav-threads-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    return buf.data();
}

// The shared files, local and remote, and each one's reference reading.
bool prepare(Run& run, uint32_t threads) {
    fs::create_directories(run.dir + "/server");
    for (uint32_t t = 0; t < threads; ++t) {
        fs::create_directories(run.dir + "/t" + std::to_string(t));
        fs::create_directories(run.dir + "/server/t" + std::to_string(t));
    }
    run.shared = make_shared(run.dir);
    write_pages(run.dir + "/append.tif", FILETYPE_TIFF, {bilevel()}, {pattern(kWidth / 8 * kLength, 1)});
    Place local(run.dir, ".", false), remote(run.dir + "/server", ".", true);
    for (SharedFile& s : run.shared) {
        fs::copy_file(run.dir + "/" + s.name, run.dir + "/server/" + s.name);
        s.reference[false] = shared_digest(s, local);
        s.reference[true] = shared_digest(s, remote);
        uint32_t type = 0;
        std::memcpy(&type, s.reference[false].data(), sizeof type);
        if (!check(type == s.type, s.name + " opens as type " + std::to_string(type))) return false;
    }
    return true;
}

// Every append that got in is in the file, once, behind its first page.
void check_appended(Run& run) {
    qvtav::File f = qvtav::File::open(run.dir + "/append.tif");
    std::vector<Data> pages;
    for (uint16_t p = 2; p <= f.page_count(); ++p) {
        Data page = f.read(p);
        page.resize(std::min<size_t>(page.size(), kWidth / 8 * kLength));
        pages.push_back(page);
    }
    std::sort(pages.begin(), pages.end());
    std::sort(run.appended.begin(), run.appended.end());
    check(pages == run.appended, "shared append: " + std::to_string(pages.size()) + " pages in the file, " +
                                     std::to_string(run.appended.size()) + " appended");
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t threads = argc > 1 ? uint32_t(std::atoi(argv[1])) : 8;
    const uint32_t rounds = argc > 2 ? uint32_t(std::atoi(argv[2])) : 2;
    const auto start = std::chrono::steady_clock::now();
    Run run;
    run.dir = temp_root();
    // Work files and the AWD encoder's page images go to the run's own
    // temporary directory.
    fs::create_directories(run.dir + "/tmp");
    setenv("TMPDIR", (run.dir + "/tmp").c_str(), 1);

    bool ready = false;
    step("preparing the shared files", [&] { ready = prepare(run, threads); });
    if (ready) {
        std::vector<std::thread> pool;
        for (uint32_t t = 0; t < threads; ++t)
            pool.emplace_back([&run, t, rounds] {
                Worker w(run, t);
                for (uint32_t r = 0; r < rounds; ++r) w.round(r);
            });
        for (std::thread& th : pool) th.join();
        step("shared append", [&] { check_appended(run); });
    }
    fs::remove_all(run.dir);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("threads_stress: %u threads x %u rounds: %llu checks, %u failed; refused while another "
                "thread held the file: %u appends (13), %u AWD opens; %.1f s\n",
                threads, rounds, static_cast<unsigned long long>(g_checks.load()), g_failures.load(),
                run.refused.load(), run.awdBusy.load(), seconds);
    return g_failures == 0 && ready ? 0 : 1;
}
