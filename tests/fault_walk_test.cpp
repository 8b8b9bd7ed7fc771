// Every editing operation under injected faults: the nth allocation, write,
// sync, rename or link, or create fails, for n from 1 until the operation
// runs to its end without meeting the fault. After every run the calls'
// results and error cells, the memory table, the open descriptors, the
// document and the files in its directory and in the temporary directory
// are checked against what the operation promises.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "edit_tiff_util.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "page_test_util.h"
#include "platform/plat_fault.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"
#include "write_test_util.h"

namespace {

using Pages = std::vector<std::vector<uint8_t>>;
using Names = std::set<std::string>;

std::string title_of(const std::string& path) {
    OpenedFile f(path);
    if (!f.ok() || f.info(1) != 0 || !f.pi.title) return "";
    return f.pi.title;
}

Names names_in(const std::string& dir) {
    const std::vector<std::string> v = dir_names(dir);
    return {v.begin(), v.end()};
}


PageInfo properties(const char* title) {
    PageInfo info{};
    info.title = const_cast<char*>(title);
    info.author = const_cast<char*>("walker");
    info.subject = info.keywords = info.comments = const_cast<char*>("");
    return info;
}

// The calls of one run: each result with its error cell.
class Calls {
public:
    // False when the call failed. Frames that fill the error cell must put
    // a code there on failure; the others leave it at 0 always. (The cell
    // is taken by reference: it is read after the call has run.)
    bool check(const char* name, int32_t result, const uint32_t& cell, bool fillsCell) {
        if (result >= 0) {
            EXPECT_EQ(cell, 0u) << name;
            return true;
        }
        if (fillsCell)
            EXPECT_NE(cell, 0u) << name << " failed with an empty error cell";
        else
            EXPECT_EQ(cell, 0u) << name << " filled its error cell";
        if (failed_.empty()) failed_ = name;
        return false;
    }
    bool ok() const { return failed_.empty(); }
    const std::string& failed() const { return failed_; }

private:
    std::string failed_;
};

// One editing operation: fresh files, the calls, and what must hold after
// a failure and after success.
class Operation {
public:
    virtual ~Operation() = default;
    virtual void prepare() = 0;
    virtual void run(Calls& calls) = 0;
    virtual void check_failed() = 0;
    virtual void check_done() = 0;

    TempDir dir;
    std::string doc = dir.file("doc.tif");
    std::vector<uint8_t> original;
    Pages originalPages;
    // The fault of the run stays (every later step of its kind fails too):
    // then not even the undoing of a failed step can write.
    bool persistentFault = false;

protected:
    void write_doc(const std::vector<uint8_t>& bytes) {
        original = bytes;
        write_file(doc, bytes);
        if (originalPages.empty()) originalPages = read_pages(doc).value_or(Pages{});
    }
    void expect_files(const Names& expected) { EXPECT_EQ(names_in(dir.path()), expected); }
    // The document byte for byte as it was, alone in its directory.
    void expect_untouched() {
        EXPECT_EQ(read_file(doc), original);
        expect_files({"doc.tif"});
    }
};

const std::vector<uint8_t>& three_pages() {
    static const auto bytes = edit_test::build_tiff(edit_test::numbered_pages(3, 2, 256), false, 64, true);
    return bytes;
}

// ---- the operations ----

class DeletePage : public Operation {
protected:
    void prepare() override { write_doc(three_pages()); }
    void run(Calls& calls) override {
        uint32_t err = 0;
        calls.check("xtavdelpgs", xtavdelpgs(nullptr, PathBuf(doc), 2, 2, &err), err, false);
    }
    void check_failed() override { expect_untouched(); }
    void check_done() override {
        EXPECT_EQ(read_pages(doc), (Pages{originalPages[0], originalPages[2]}));
        expect_files({"doc.tif"});
    }
};

// Three pages of two strips; page 1 with an Exif directory holding an
// Interoperability directory, page 3 with a SubIFD of one strip.
const std::vector<uint8_t>& pages_with_subdirs() {
    static const auto bytes = [] {
        TiffBuilder b;
        std::vector<uint32_t> strips;
        for (uint8_t k = 0; k < 7; ++k) strips.push_back(b.add_data(std::vector<uint8_t>(256, uint8_t(k * 37))));
        auto& interop = b.add_subifd();
        interop.ascii(1, "R98");
        auto& exif = b.add_subifd();
        exif.ascii(36867, "2024:01:02 03:04:05").links(40965, 4, {interop.index()});
        auto& reduced = b.add_subifd();
        reduced.longs(254, {1}).longs(256, {64}).longs(257, {4}).longs(273, {strips[6]}).longs(279, {256});
        for (uint32_t p = 0; p < 3; ++p) {
            auto& page = b.add_ifd().longs(256, {128}).longs(257, {4}).longs(278, {2});
            page.longs(273, {strips[2 * p], strips[2 * p + 1]}).longs(279, {256, 256});
            if (p == 0) page.links(34665, 4, {exif.index()});
            if (p == 2) page.links(330, 13, {reduced.index()});
        }
        return b.build();
    }();
    return bytes;
}

// Deleting page 2 of a document whose pages carry sub-directories: the
// kept pages' trees come along.
class DeletePageWithSubDirs : public DeletePage {
    void prepare() override { write_doc(pages_with_subdirs()); }
    void check_done() override {
        DeletePage::check_done();
        const edit_test::Reader r(read_file(doc));
        const auto chain = r.chain();
        ASSERT_EQ(chain.size(), 2u);
        const edit_test::Entry *exif = chain[0].find(34665), *sub = chain[1].find(330);
        ASSERT_TRUE(exif && sub);
        const edit_test::Dir exifDir = r.dir(exif->value);
        ASSERT_TRUE(exifDir.find(36867) && exifDir.find(40965));
        EXPECT_EQ(r.ascii(*exifDir.find(36867)), "2024:01:02 03:04:05");
        EXPECT_EQ(r.dir(exifDir.find(40965)->value).find(1)->count, 4u);
        EXPECT_EQ(r.strips(r.dir(sub->value)), std::vector<uint8_t>(256, uint8_t(6 * 37)));
    }
};

// A title longer than the block the file has: the document is rewritten.
class PutPropertiesRewrite : public Operation {
    static constexpr const char* kTitle = "a title far too long for the sixty-four bytes the document reserves";
    void prepare() override { write_doc(three_pages()); }
    void run(Calls& calls) override {
        PageInfo info = properties(kTitle);
        uint32_t err = 0;
        calls.check("xtavputprops", xtavputprops(nullptr, PathBuf(doc), &info, &err), err, false);
    }
    void check_failed() override { expect_untouched(); }
    void check_done() override {
        EXPECT_EQ(title_of(doc), kTitle);
        EXPECT_EQ(read_pages(doc), originalPages);
        expect_files({"doc.tif"});
    }
};

// A short title: written over the block in place.
class PutPropertiesInPlace : public Operation {
    static constexpr uint32_t kBlockStart = 24, kBlockEnd = 24 + 64;
    void prepare() override { write_doc(three_pages()); }
    void run(Calls& calls) override {
        PageInfo info = properties("short");
        uint32_t err = 0;
        calls.check("xtavputprops", xtavputprops(nullptr, PathBuf(doc), &info, &err), err, false);
    }
    // Only the block may differ from the original.
    void expect_outside_block_unchanged() {
        auto now = read_file(doc);
        ASSERT_EQ(now.size(), original.size());
        EXPECT_TRUE(std::equal(now.begin(), now.begin() + kBlockStart, original.begin()));
        EXPECT_TRUE(std::equal(now.begin() + kBlockEnd, now.end(), original.begin() + kBlockEnd));
    }
    void check_failed() override {
        expect_outside_block_unchanged();
        EXPECT_EQ(read_pages(doc), originalPages);
        expect_files({"doc.tif"});
    }
    void check_done() override {
        expect_outside_block_unchanged();
        EXPECT_EQ(title_of(doc), "short");
        EXPECT_EQ(read_pages(doc), originalPages);
        expect_files({"doc.tif"});
    }
};

// A file the library wrote: every page's directory has a table entry, so a
// page moved to the front takes the table over from the first.
const std::vector<uint8_t>& three_written_pages() {
    static const auto bytes = [] {
        TempDir d;
        std::string path = d.file("w.tif");
        int32_t h = wt::create(path);
        for (uint16_t p = 1; p <= 3; ++p) {
            PageInfo info = wt::bilevel(64, 8);
            wt::put_page(h, p, info, wt::pattern(64, p));
        }
        wt::close(h);
        return read_file(path);
    }();
    return bytes;
}

// Opens for update, moves page 3 before page 1, closes.
class MovePage : public Operation {
public:
    explicit MovePage(const std::vector<uint8_t>& file) : file_(file) {}

private:
    const std::vector<uint8_t>& file_;
    void prepare() override { write_doc(file_); }
    void run(Calls& calls) override {
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, PathBuf(doc), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
        if (!calls.check("xtavopen", h, err, true)) return;
        uint32_t value[2] = {1, 3};
        err = 0;
        calls.check("xtavopts 22", xtavopts(&h, 1, 22, value, &err), err, true);
        err = 0;
        calls.check("xtavclose", xtavclose(&h, &err), err, false);
    }
    void check_failed() override {
        auto pages = read_pages(doc);
        ASSERT_TRUE(pages.has_value()) << "the document no longer reads";
        Pages moved{originalPages[2], originalPages[0], originalPages[1]};
        EXPECT_TRUE(*pages == originalPages || *pages == moved) << "pages neither in the old nor the new order";
        expect_files({"doc.tif"});
    }
    void check_done() override {
        EXPECT_EQ(read_pages(doc), (Pages{originalPages[2], originalPages[0], originalPages[1]}));
        expect_files({"doc.tif"});
    }
};

// Opens for update and appends a fourth page; then closes, or after a
// failed page call closes or aborts as chosen.
class AppendPage : public Operation {
public:
    explicit AppendPage(bool abortOnFailure) : abortOnFailure_(abortOnFailure) {}

private:
    void prepare() override { write_doc(three_pages()); }
    void run(Calls& calls) override {
        uint32_t pages = 0, type = 0, err = 0;
        int32_t h = xtavopen(nullptr, PathBuf(doc), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
        if (!calls.check("xtavopen", h, err, true)) return;
        PageInfo info = wt::bilevel(64, 64);
        err = 0;
        bool ok = calls.check("xtavputi", xtavputi(&h, 4, &info, nullptr, &err), err, true);
        err = 0;
        const bool wrote = calls.check("xtavwrite", xtavwrite(&h, data_.data(), uint32_t(data_.size()), 4, 1, &err),
                                       err, true);
        const bool dataLost = ok && !wrote;
        ok = ok && wrote;
        err = 0;
        if (ok || !abortOnFailure_) {
            const bool closed = calls.check("xtavclose", xtavclose(&h, &err), err, false);
            EXPECT_FALSE(dataLost && closed) << "close reported success after a failed write";
        } else {
            calls.check("xtavabort", xtavabort(&h, &err), err, false);
        }
    }
    // The earlier pages read back as they were; a fourth page follows them
    // only when all its data went in (a close that failed later may have
    // kept it), never a broken one.
    void check_failed() override {
        expect_files({"doc.tif"});
        OpenedFile f(doc);
        ASSERT_TRUE(f.ok()) << "the document no longer opens";
        ASSERT_TRUE(f.pages == 3 || f.pages == 4) << f.pages << " pages";
        for (uint16_t p = 1; p <= 3; ++p) EXPECT_EQ(read_page(f, p), originalPages[p - 1]) << "page " << p;
        if (f.pages == 4) {
            EXPECT_EQ(read_page(f, 4), data_) << "a broken fourth page";
        }
    }
    void check_done() override {
        Pages expected = originalPages;
        expected.push_back(data_);
        EXPECT_EQ(read_pages(doc), expected);
        expect_files({"doc.tif"});
    }

    bool abortOnFailure_;
    std::vector<uint8_t> data_ = wt::pattern(512, 4);
};

// Opens a page index file for update, which converts it in place, and
// aborts or closes. A refused open and an abort give the file back byte for
// byte (unless the fault stays, when the bytes cannot be written back); a
// close keeps the converted file, which reads as the original did.
class ConvertIndexOnOpen : public Operation {
public:
    explicit ConvertIndexOnOpen(bool abort) : abort_(abort) {}

private:
    void prepare() override {
        std::vector<std::vector<uint8_t>> streams;
        for (uint32_t p = 0; p < 3; ++p) {
            TiffBuilder b;
            uint32_t strip = b.add_data(wt::pattern(64, p));
            auto& d = b.add_ifd().shorts(256, {64}).shorts(257, {8}).longs(273, {strip}).longs(279, {64});
            if (p == 0) d.longs(32935, {0});
            streams.push_back(b.build());
        }
        write_doc(page_index_file(streams[0], true, {streams[1], streams[2]}).bytes);
    }
    void run(Calls& calls) override {
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, PathBuf(doc), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
        if (!calls.check("xtavopen", h, err, true)) return;
        err = 0;
        if (abort_)
            calls.check("xtavabort", xtavabort(&h, &err), err, false);
        else
            calls.check("xtavclose", xtavclose(&h, &err), err, false);
    }
    void check_failed() override {
        if (!persistentFault) expect_untouched();
    }
    void check_done() override {
        if (abort_) return expect_untouched();
        EXPECT_NE(read_file(doc), original);
        EXPECT_EQ(read_pages(doc), originalPages);
        expect_files({"doc.tif"});
    }

    bool abort_;
};

// Creates a TIFF file and writes three pages; after a failed page call the
// handle is closed, keeping what was written.
class CreateThreePages : public Operation {
    Pages data = {wt::pattern(300, 1), wt::pattern(400, 2), wt::pattern(500, 3)};
    // Pages whose data went in; when the close fails, the last of them
    // (whose directory the close writes) is not counted.
    size_t completed = 0;
    bool dataLost = false;  // a page's information went in, its data did not

    void prepare() override { completed = 0, dataLost = false; }
    void run(Calls& calls) override {
        uint32_t type = FILETYPE_TIFF, err = 0;
        int32_t h = xtavcreat(nullptr, PathBuf(doc), &type, &err);
        if (!calls.check("xtavcreat", h, err, true)) return;
        bool ok = true;
        for (uint16_t p = 1; ok && p <= 3; ++p) {
            PageInfo info = wt::bilevel(80, 40);
            auto& bytes = data[p - 1];
            err = 0;
            ok = calls.check("xtavputi", xtavputi(&h, p, &info, nullptr, &err), err, true);
            err = 0;
            const bool put = ok;
            ok = ok && calls.check("xtavwrite", xtavwrite(&h, bytes.data(), uint32_t(bytes.size()), p, 1, &err), err, true);
            dataLost = put && !ok;
            if (ok) completed = p;
        }
        err = 0;
        const bool closed = calls.check("xtavclose", xtavclose(&h, &err), err, false);
        EXPECT_FALSE(dataLost && closed) << "close reported success after a failed write";
        if (!closed && completed > 0) --completed;
    }
    // Before the first page is complete the file may be in any state;
    // after it, the file opens and its complete pages read back, and every
    // page it holds is one whose data all went in.
    void check_failed() override {
        expect_files(file_exists(doc) ? Names{"doc.tif"} : Names{});
        if (completed == 0) return;
        OpenedFile f(doc);
        ASSERT_TRUE(f.ok()) << "a file with complete pages does not open";
        ASSERT_GE(f.pages, completed);
        ASSERT_LE(f.pages, data.size());
        for (uint16_t p = 1; p <= f.pages; ++p) EXPECT_EQ(read_page(f, p), data[p - 1]) << "page " << p;
    }
    void check_done() override {
        EXPECT_EQ(read_pages(doc), data);
        expect_files({"doc.tif"});
    }
};

class Duplicate : public Operation {
    char copy[TAV_PATH_SIZE] = {};
    void prepare() override { write_doc(three_pages()); }
    void run(Calls& calls) override {
        uint32_t err = 0;
        calls.check("xifsduplicate", xifsduplicate(nullptr, PathBuf(doc), copy, &err), err, false);
    }
    void check_failed() override { expect_untouched(); }
    void check_done() override {
        std::string name = std::filesystem::path(copy).filename();
        EXPECT_EQ(read_file(copy), original);
        EXPECT_EQ(read_file(doc), original);
        expect_files({"doc.tif", name});
    }
};

// A file replaces the document: one beside it, or one on another file
// system (then copied beside the document first).
class Replace : public Operation {
public:
    explicit Replace(std::string sourcePath = "") : source_(sourcePath.empty() ? dir.file("new.tif") : sourcePath) {}
    ~Replace() override { std::filesystem::remove(source_); }

private:
    static constexpr mode_t kDocMode = 0640, kSourceMode = 0600;
    void prepare() override {
        write_doc(three_pages());
        write_file(source_, replacement_);
        chmod(doc.c_str(), kDocMode);
        chmod(source_.c_str(), kSourceMode);
    }
    void run(Calls& calls) override {
        uint32_t err = 0;
        calls.check("xifsreplace", xifsreplace(nullptr, PathBuf(doc), nullptr, PathBuf(source_), &err), err, false);
    }
    static mode_t mode_of(const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    bool beside() const { return std::filesystem::path(source_).parent_path() == dir.path(); }
    void check_failed() override {
        EXPECT_EQ(read_file(doc), original);
        EXPECT_EQ(read_file(source_), replacement_);
        EXPECT_EQ(mode_of(doc), kDocMode);
        EXPECT_EQ(mode_of(source_), kSourceMode) << "a failed replace changed the source's permissions";
        expect_files(beside() ? Names{"doc.tif", "new.tif"} : Names{"doc.tif"});
    }
    void check_done() override {
        EXPECT_EQ(read_file(doc), replacement_);
        EXPECT_EQ(mode_of(doc), kDocMode);
        EXPECT_FALSE(file_exists(source_));
        expect_files({"doc.tif"});
    }

    std::string source_;
    std::vector<uint8_t> replacement_ = edit_test::build_tiff(edit_test::numbered_pages(2, 1, 300), true, 0, true);
};

// A local file replaces a document on a server (the stand-in serves the
// document's directory). The copy travels to the server under a name of
// its own, and the library keeps a copy for its replaced-file cache in the
// temporary directory. Under any fault the document is the old or the new
// one, nothing stray stands beside it, and no partial cache copy is left
// (the cache is emptied at the end of each run: its copy lives until the
// library is unloaded).
class RemoteReplace : public Operation {
public:
    RemoteReplace() {
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", dir.path().c_str());
    }

private:
    void prepare() override {
        write_doc(three_pages());
        write_file(source_, replacement_);
    }
    void run(Calls& calls) override {
        uint32_t err = 0;
        calls.check("xifsreplace", xifsreplace(&loc, PathBuf("doc.tif"), nullptr, PathBuf(source_), &err), err, false);
        fio_drop_cached_copy();
    }
    void check_failed() override {
        EXPECT_EQ(read_file(doc), original);
        EXPECT_EQ(read_file(source_), replacement_);
        expect_files({"doc.tif", "new.tif"});
    }
    void check_done() override {
        EXPECT_EQ(read_file(doc), replacement_);
        EXPECT_EQ(read_file(source_), replacement_);  // a local source is copied, and stays
        expect_files({"doc.tif", "new.tif"});
    }

    FileLocation loc{};
    std::string source_ = dir.file("new.tif");
    std::vector<uint8_t> replacement_ = edit_test::build_tiff(edit_test::numbered_pages(2, 1, 300), true, 0, true);
};

// A path on a second file system, or "" when there is none.
std::string far_path(const std::string& here) {
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || stat(here.c_str(), &a) != 0 || a.st_dev == b.st_dev) return "";
    return "/dev/shm/qvtav-walk-" + std::to_string(getpid());
}

// ---- the walk ----

struct FaultKind {
    const char* name;
    PlatStep step;
    PlatFailure failure;
    bool persistent;  // every later step of the kind fails too (a full disk, a dead device)
};

constexpr FaultKind kKinds[] = {
    {"alloc", PlatStep::Alloc, PlatFailure::Error, false},
    {"alloc, all later", PlatStep::Alloc, PlatFailure::Error, true},
    {"write EIO", PlatStep::Write, PlatFailure::Error, false},
    {"write ENOSPC", PlatStep::Write, PlatFailure::NoSpace, false},
    {"write short", PlatStep::Write, PlatFailure::Short, false},
    {"write short, all later", PlatStep::Write, PlatFailure::Short, true},
    {"fsync", PlatStep::Sync, PlatFailure::Error, false},
    {"fsync, all later", PlatStep::Sync, PlatFailure::Error, true},
    {"rename/link", PlatStep::Rename, PlatFailure::Error, false},
    {"rename/link, all later", PlatStep::Rename, PlatFailure::Error, true},
    {"create", PlatStep::Create, PlatFailure::Error, false},
};

constexpr uint32_t kMaxPoints = 2000;  // a walk longer than this is a fault of its own

// Failed checks of the running test so far.
int failed_checks() {
    const ::testing::TestResult* r = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int n = 0;
    for (int i = 0; i < r->total_part_count(); ++i) n += r->GetTestPartResult(i).failed();
    return n;
}

// What the process holds: memory-table blocks, native descriptors, file
// layer descriptors and file control table entries.
struct Holdings {
    int blocks = mem_live_blocks();
    int descriptors = open_descriptors();
    int fioSlots = count_fio();
    int entries = count_entries();

    static int count_fio() {
        int n = 0;
        for (int fd = 1; fd <= kFioSlots; ++fd) n += fio_is_remote(fd) >= 0;
        return n;
    }
    static int count_entries() {
        int n = 0;
        for (int h = 1; h <= kFctSize; ++h) n += fct_entry_at(h)->fd != 0;
        return n;
    }
    bool operator==(const Holdings&) const = default;
};

class FaultWalk : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(tempDir); }
    void TearDown() override { plat_fault_disarm(); }

    // Failure points of one kind: runs that met the fault, and those of
    // them the operation came through (it succeeded all the same).
    struct Points {
        uint32_t met = 0, absorbed = 0;
    };

    // Walks every fault kind over the operation; prints the failure points
    // of each kind.
    void walk(const char* name, Operation& op) {
        TempDirOverride tmp(tempDir);
        std::string report = std::string("[ walk ] ") + name + ":";
        uint32_t total = 0;
        for (const FaultKind& kind : kKinds) {
            Points points = walk_kind(op, kind);
            if (HasFatalFailure()) return;
            total += points.met;
            report += " " + std::string(kind.name) + " " + std::to_string(points.met);
            if (points.absorbed) report += " (" + std::to_string(points.absorbed) + " absorbed)";
            report += ",";
        }
        EXPECT_GT(total, 0u) << "no fault was ever met: the seam is not consulted";
        report += " total " + std::to_string(total);
        std::printf("%s\n", report.c_str());
        RecordProperty("failure_points", int(total));
    }

    // n from 1 until the run meets no fault.
    Points walk_kind(Operation& op, const FaultKind& kind) {
        Points points;
        for (uint32_t n = 1; n <= kMaxPoints; ++n) {
            SCOPED_TRACE(std::string(kind.name) + " at step " + std::to_string(n));
            for (const auto& d : {op.dir.path(), tempDir})
                for (const auto& name : names_in(d)) std::filesystem::remove(d + "/" + name);
            op.prepare();
            op.persistentFault = kind.persistent;
            int failedBefore = failed_checks();
            Holdings before;
            Calls calls;
            plat_fault_arm({kind.step, n, kind.failure, kind.persistent});
            op.run(calls);
            bool fired = plat_fault_fired();
            plat_fault_disarm();

            EXPECT_EQ(Holdings(), before) << "memory blocks, descriptors or handles left behind";
            EXPECT_EQ(names_in(tempDir), Names{}) << "a work file left in the temporary directory";
            if (calls.ok())
                op.check_done();
            else
                op.check_failed();
            if (!fired) {
                EXPECT_TRUE(calls.ok()) << calls.failed() << " failed without an injected fault";
                return points;
            }
            ++points.met;
            points.absorbed += calls.ok();
            if (failed_checks() > failedBefore) {
                ADD_FAILURE() << "first failing call: " << (calls.ok() ? "none" : calls.failed());
                return points;
            }
        }
        ADD_FAILURE() << "the walk did not end";
        return points;
    }

    // The library's temporary directory during the walk.
    TempDir temp;
    std::string tempDir = temp.file("tmp");
};

TEST_F(FaultWalk, DeletePages) {
    DeletePage op;
    walk("delete pages", op);
}

TEST_F(FaultWalk, DeletePageWithSubDirectories) {
    DeletePageWithSubDirs op;
    walk("delete a page, sub-directories kept", op);
}

TEST_F(FaultWalk, PutPropertiesInPlace) {
    PutPropertiesInPlace op;
    walk("put properties in place", op);
}

TEST_F(FaultWalk, PutPropertiesByRewrite) {
    PutPropertiesRewrite op;
    walk("put properties by rewrite", op);
}

TEST_F(FaultWalk, MovePage) {
    MovePage op(three_pages());
    walk("move", op);
}

TEST_F(FaultWalk, MovePageTakingTheTableOver) {
    MovePage op(three_written_pages());
    walk("move, the table named by the new first page", op);
}

TEST_F(FaultWalk, AppendThenClose) {
    AppendPage op(false);
    walk("append then close", op);
}

TEST_F(FaultWalk, AppendThenAbort) {
    AppendPage op(true);
    walk("append, abort on failure", op);
}

TEST_F(FaultWalk, ConvertIndexThenAbort) {
    ConvertIndexOnOpen op(true);
    walk("page index update open, abort", op);
}

TEST_F(FaultWalk, ConvertIndexThenClose) {
    ConvertIndexOnOpen op(false);
    walk("page index update open, close", op);
}

TEST_F(FaultWalk, CreateAndWriteThreePages) {
    CreateThreePages op;
    walk("create and write 3 pages", op);
}

TEST_F(FaultWalk, Duplicate) {
    Duplicate op;
    walk("duplicate", op);
}

TEST_F(FaultWalk, Replace) {
    Replace op;
    walk("replace", op);
}

TEST_F(FaultWalk, ReplaceOnAServer) {
    RemoteReplace op;
    walk("replace on a server", op);
}

TEST_F(FaultWalk, ReplaceFromAnotherFileSystem) {
    std::string far = far_path(temp.path());
    if (far.empty()) GTEST_SKIP() << "no second file system";
    Replace op(far);
    walk("replace from another file system", op);
}

}  // namespace
