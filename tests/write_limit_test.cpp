// The length limit of the files the library writes (2^31 - 1 bytes), and
// close after a write that failed. What would end beyond the limit is
// refused (279) before any byte of it is written, and a page whose data did
// not all reach the file is dropped at close, which then fails: the file
// left behind opens with every page completed before.
//
// TIFF and block files are driven to the real limit over sparse files (the
// test grows the file behind the library's back, so that the next page
// starts near 2^31); the other paths run with the platform's limit lowered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "awd_test_util.h"
#include "block_test_util.h"
#include "page_test_util.h"
#include "platform/plat_fault.h"
#include "platform/plat_loader.h"
#include "platform/plat_remote.h"
#include "storage_test_util.h"
#include "write_formats_util.h"
#include "write_test_util.h"

namespace {

constexpr uint64_t kLimit = 0x7FFFFFFF;

uint64_t length_of(const std::string& path) { return std::filesystem::file_size(path); }

// Makes the file `length` bytes long; what it gains is a hole.
void grow_to(const std::string& path, uint64_t length) { ASSERT_EQ(truncate(path.c_str(), off_t(length)), 0); }

// The first n bytes of a file.
std::vector<uint8_t> head_of(const std::string& path, size_t n) {
    std::vector<uint8_t> b(n);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    b.resize(std::fread(b.data(), 1, n, f));
    std::fclose(f);
    return b;
}

// The platform's limit lowered for a scope.
struct LoweredLimit {
    explicit LoweredLimit(uint32_t bytes) { plat_fault_limit_file_length(bytes); }
    ~LoweredLimit() { plat_fault_limit_file_length(0); }
};

using Pages = std::vector<std::vector<uint8_t>>;

// Every page of a TIFF file as stored; nothing when the file does not open
// or a page does not read.
Pages tiff_pages(const std::string& path) { return read_pages(path).value_or(Pages{}); }

// Every page's data as the library delivers it (block, DCX files); nothing
// when the file does not open or a page does not read.
Pages delivered_pages(const std::string& path) {
    OpenedFile f(path);
    Pages pages;
    for (uint16_t p = 1; f.ok() && p <= f.pages; ++p) {
        uint32_t err = 0;
        if (f.info(p) != 0) return {};
        pages.push_back(f.stream(p, f.ps.dataBytes, 1 << 20, &err));
        if (err) return {};
    }
    return pages;
}

// The first n bytes of page p's data (a page before a hole runs, as a
// single strip, to the end of the file: reading all of it would read the
// hole).
std::vector<uint8_t> page_start(OpenedFile& f, uint16_t p, uint32_t n) {
    std::vector<uint8_t> b(n);
    uint32_t left = 0, err = 0;
    if (f.info(p) != 0 || f.read(b.data(), 0, n, &left, p, &err) != int32_t(n)) return {};
    return b;
}

uint32_t write_call(int32_t h, const std::vector<uint8_t>& bytes, uint16_t page, uint8_t flag) {
    uint32_t err = 0;
    return xtavwrite(&h, const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), page, flag, &err) < 0
               ? (err ? err : ~0u)
               : 0;
}

struct WriteLimit : ::testing::Test {
    TempDir dir;
    void TearDown() override { plat_fault_disarm(); }
};

// A page whose data, strip and page offset tables end at 2^31 - 1 or below
// is taken; one byte more is refused before it is written, and close drops
// the page: the file ends where the page began and holds the first page.
TEST_F(WriteLimit, TiffPageEndsAtTheLimitAndNotBeyond) {
    const std::vector<uint8_t> first = wt::pattern(512, 1);
    for (bool beyond : {false, true}) {
        SCOPED_TRACE(beyond ? "one byte beyond" : "at the limit");
        const std::string path = dir.file(beyond ? "beyond.tif" : "at.tif");
        int32_t h = wt::create(path);
        PageInfo info = wt::bilevel(64, 64);
        ASSERT_EQ(wt::put_page(h, 1, info, first), 0u);
        const uint64_t hole = kLimit - (1 << 20);
        grow_to(path, hole);
        info = wt::bilevel(8192, 1024);
        ASSERT_EQ(wt::put_page(h, 2, info, {}), 0u);
        // Behind the data: the page offset table of two pages, 24 bytes.
        const uint64_t values = length_of(path), room = ((kLimit - 24) & ~3ull) - values;
        std::vector<uint8_t> data = wt::pattern(size_t(room) + (beyond ? 1 : 0), 2);
        const std::vector<uint8_t> head(data.begin(), data.end() - 100), tail(data.end() - 100, data.end());
        ASSERT_EQ(write_call(h, head, 2, 0), 0u);
        EXPECT_EQ(write_call(h, tail, 2, 1), beyond ? uint32_t(TAV_E_SEEK) : 0u);
        EXPECT_EQ(length_of(path), values + data.size() - (beyond ? 100 : 0)) << "refused bytes were written";
        uint32_t err = 0;
        errno = 0;
        EXPECT_EQ(xtavclose(&h, &err), beyond ? -1 : 0);
        if (beyond) {
            EXPECT_EQ(errno, TAV_E_SEEK);
        }
        EXPECT_EQ(length_of(path), beyond ? hole : (kLimit - 24) / 4 * 4 + 24);

        OpenedFile f(path);
        ASSERT_TRUE(f.ok()) << f.error;
        ASSERT_EQ(f.pages, beyond ? 1u : 2u);
        EXPECT_EQ(page_start(f, 1, uint32_t(first.size())), first);
        if (!beyond) {
            ASSERT_EQ(f.info(2), 0u);
            std::vector<uint8_t> last(100);
            uint32_t left = 1;
            EXPECT_EQ(f.read(last.data(), uint32_t(data.size() - 100), 100, &left, 2, &err), 100);
            EXPECT_EQ(last, tail);
        }
#ifdef QVTAV_HAVE_LIBTIFF
        EXPECT_EQ(wt::libtiff_read(path).size(), f.pages);
#endif
    }
}

// Appending to a file near the limit: data that does not fit breaks the
// page and close gives the file back as it was; page information whose
// values do not fit is refused at once.
TEST_F(WriteLimit, TiffAppendNearTheLimitLeavesTheFileAsItWas) {
    const std::string path = dir.file("update.tif");
    const std::vector<uint8_t> first = wt::pattern(300, 3);
    int32_t h = wt::create(path);
    PageInfo info = wt::bilevel(64, 64);
    ASSERT_EQ(wt::put_page(h, 1, info, first), 0u);
    wt::close(h);
    const std::vector<uint8_t> head = read_file(path);
    for (uint64_t room : {2000ull, 100ull}) {
        SCOPED_TRACE(room);
        grow_to(path, kLimit - room);
        uint32_t pages = 0;
        h = wt::open_update(path, &pages);
        ASSERT_EQ(pages, 1u);
        info = wt::bilevel(64, 64);
        uint32_t err = 0;
        if (room > 1000) {
            ASSERT_EQ(xtavputi(&h, 2, &info, nullptr, &err), 0);
            EXPECT_EQ(write_call(h, wt::pattern(2000, 4), 2, 1), uint32_t(TAV_E_SEEK));
            EXPECT_EQ(xtavclose(&h, &err), -1);
        } else {
            EXPECT_EQ(xtavputi(&h, 2, &info, nullptr, &err), -1);
            EXPECT_EQ(err, uint32_t(TAV_E_SEEK));
            EXPECT_EQ(xtavclose(&h, &err), 0);
        }
        EXPECT_EQ(length_of(path), kLimit - room);
        EXPECT_EQ(head_of(path, head.size()), head);
        OpenedFile f(path);
        EXPECT_EQ(f.pages, 1u);
        EXPECT_EQ(page_start(f, 1, uint32_t(first.size())), first);
    }
}

// The block file's chunks, record block and directory blocks: a page that
// fits below the limit with what close writes is taken, the next refused.
TEST_F(WriteLimit, BlockFileNearTheLimit) {
    const std::string path = dir.file("near.blk");
    bt::Handle w;
    PageInfo info = bt::page();
    ASSERT_EQ(w.create(path), 0u);
    ASSERT_EQ(w.put(1, info), 0u);
    ASSERT_EQ(w.write(1, bt::data(5000, 1)), 0u);
    ASSERT_EQ(w.close(), 0u);
    // The header counts every block below the last three the limit allows.
    const uint32_t blocks = uint32_t(kLimit / bt::kBlock) - 3;
    std::vector<uint8_t> header = read_file(path);
    bt::put_be(header, 12, blocks - 1, 4);
    header.resize(bt::kBlock);
    {
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_TRUE(f);
        std::fwrite(header.data(), 1, header.size(), f);
        std::fclose(f);
    }
    grow_to(path, uint64_t(blocks) * bt::kBlock);

    bt::Handle u;
    ASSERT_EQ(u.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    ASSERT_EQ(u.put(2, info), 0u);
    ASSERT_EQ(u.write(2, bt::data(8192, 2)), 0u);  // two blocks, and the record block
    ASSERT_EQ(u.put(3, info), 0u);
    EXPECT_EQ(u.write(3, bt::data(10, 3)), uint32_t(TAV_E_SEEK));
    EXPECT_EQ(u.close(), uint32_t(TAV_E_SEEK));
    EXPECT_EQ(length_of(path), uint64_t(blocks + 3) * bt::kBlock);
    auto pages = delivered_pages(path);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1], bt::data(8192, 2));
}

// Pages of 60 000 bytes in three strips each, with the limit lowered to
// 300 000 bytes: the pages that fit are taken, the first that does not is
// refused, and the file closed opens with exactly the pages taken, in the
// library and in libtiff.
TEST_F(WriteLimit, TiffPagesUntilTheLimit) {
    LoweredLimit limit(300000);
    const std::string path = dir.file("pages.tif");
    int32_t h = wt::create(path);
    uint32_t err = 0, on = 0;
    ASSERT_EQ(xtavopts(&h, 1, TAV_OPT_STRIP_WRITE, &on, &err), 0);
    Pages taken;
    uint32_t refusal = 0;
    bool inData = false;
    for (uint16_t p = 1; refusal == 0 && p < 10; ++p) {
        PageInfo info = wt::bilevel(800, 600);
        info.stripCount = 3;
        info.rowsPerStrip = 200;
        if (xtavputi(&h, p, &info, nullptr, &err) < 0) {
            refusal = err;
            break;
        }
        std::vector<uint8_t> page;
        for (uint8_t s = 0; s < 3 && refusal == 0; ++s) {
            const std::vector<uint8_t> strip = wt::pattern(20000, p * 3 + s);
            refusal = write_call(h, strip, p, s == 2 ? 3 : 2);
            inData = refusal != 0;
            page.insert(page.end(), strip.begin(), strip.end());
        }
        if (refusal == 0) taken.push_back(page);
    }
    EXPECT_EQ(refusal, uint32_t(TAV_E_SEEK));
    EXPECT_EQ(taken.size(), 4u);
    EXPECT_EQ(xtavclose(&h, &err), inData ? -1 : 0);
    EXPECT_LE(length_of(path), 300000u);
    EXPECT_EQ(tiff_pages(path), taken);
#ifdef QVTAV_HAVE_LIBTIFF
    EXPECT_EQ(wt::libtiff_read(path).size(), taken.size());
#endif
}

// An annotation area appended to the page being written keeps the same
// room for what close writes behind the page.
TEST_F(WriteLimit, AnnotationAreaKeepsRoomForClose) {
    LoweredLimit limit(20000);
    const std::string path = dir.file("area.tif");
    int32_t h = wt::create(path);
    PageInfo info = wt::bilevel(64, 64);
    ASSERT_EQ(wt::put_page(h, 1, info, wt::pattern(5000, 1)), 0u);
    std::vector<uint8_t> area = wt::pattern(20000 - uint32_t(length_of(path)), 2);
    TavAreaAppend all{uint32_t(area.size()), area.data()}, some{1000, area.data()};
    uint32_t err = 0;
    EXPECT_EQ(xtavopts(&h, 1, TAV_OPT_AREA1_APPEND, reinterpret_cast<uint32_t*>(&all), &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_SEEK));
    EXPECT_EQ(xtavopts(&h, 1, TAV_OPT_AREA1_APPEND, reinterpret_cast<uint32_t*>(&some), &err), 0);
    wt::close(h);
    EXPECT_LE(length_of(path), 20000u);
    OpenedFile f(path);
    ASSERT_EQ(f.info(1), 0u);
    TavAreaInfo got{};
    ASSERT_EQ(f.option(1, TAV_OPT_AREA1_INFO, &got), 0u);
    EXPECT_EQ(got.length, 1000u);
}

// A property rewrite whose copy would cross the limit is refused, the file
// and its directory as they were; a deletion, which shrinks it, is not.
TEST_F(WriteLimit, RewriteThatWouldCrossTheLimitIsRefused) {
    const std::string path = dir.file("doc.tif");
    wt::write_pages(path, 2, 64, 64, 4000);
    const std::vector<uint8_t> before = read_file(path);
    LoweredLimit limit(uint32_t(before.size()) + 16);
    PageInfo props{};
    std::string title(3000, 'T');
    props.title = title.data();
    props.author = props.subject = props.keywords = props.comments = const_cast<char*>("");
    uint32_t err = 0;
    errno = 0;
    EXPECT_EQ(xtavputprops(nullptr, PathBuf(path), &props, &err), -1);
    EXPECT_EQ(errno, TAV_E_SEEK);
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(dir_entries(dir.path()), 1u);
    EXPECT_EQ(xtavdelpgs(nullptr, PathBuf(path), 2, 2, &err), 0);
    EXPECT_EQ(tiff_pages(path).size(), 1u);
}

// Block files, DCX, PCX, BMP and raw files under a lowered limit: refused
// with 279, and what close leaves opens with the pages completed before.
TEST_F(WriteLimit, OtherFormatsUntilTheLimit) {
    LoweredLimit limit(60000);
    {
        const std::string path = dir.file("pages.blk");
        bt::Handle w;
        ASSERT_EQ(w.create(path), 0u);
        uint32_t code = 0;
        uint16_t p = 1;
        for (; code == 0 && p < 20; ++p) {
            PageInfo info = bt::page();
            code = w.put(p, info);
            if (code == 0) code = w.write(p, bt::data(5000, p));
        }
        EXPECT_EQ(code, uint32_t(TAV_E_SEEK));
        EXPECT_EQ(w.close(), uint32_t(TAV_E_SEEK));
        EXPECT_LE(length_of(path), 60000u);
        EXPECT_EQ(delivered_pages(path).size(), p - 2u);
    }
    for (uint32_t type : {FILETYPE_DCX, FILETYPE_PCX}) {
        SCOPED_TRACE(type);
        const std::string path = dir.file(type == FILETYPE_DCX ? "pages.dcx" : "page.pcx");
        wf::Image im;
        // Noise grows when coded: a DCX page takes about 20 000 bytes, the
        // PCX page about 80 000.
        im.width = 4000, im.length = type == FILETYPE_DCX ? 4 : 16, im.bits = 8, im.rowBytes = 4000;
        im.rows = wt::pattern(size_t(im.rowBytes) * im.length, 5);
        im.map = wt::pattern(768, 6);
        im.photometric = TAV_PHOTO_PALETTE;
        int32_t h = wt::create(path, type);
        uint32_t code = 0;
        uint16_t p = 1;
        for (; code == 0 && p < 10; ++p) {
            PageInfo info = wf::info_for(im);
            code = wf::put(h, p, info);
            if (code == 0) code = wf::write_rows(h, p, im, 2);
        }
        EXPECT_EQ(code, uint32_t(TAV_E_SEEK));
        uint32_t err = 0;
        EXPECT_EQ(xtavclose(&h, &err), -1);
        EXPECT_LE(length_of(path), 60000u);
        if (type == FILETYPE_PCX) {
            EXPECT_EQ(length_of(path), 0u) << "the one page broke: nothing is left";
        } else {
            auto pages = delivered_pages(path);
            EXPECT_EQ(pages.size(), p - 2u);
            ASSERT_FALSE(pages.empty());
            if (!oracle_missing("convert")) {
                EXPECT_EQ(wf::magick_decode(path, uint32_t(pages.size() - 1)).width, im.width);
            }
        }
    }
    {
        // A BMP page whose profile would take the file beyond the limit.
        const std::string path = dir.file("page.bmp");
        wf::Image im;
        im.width = 100, im.length = 100, im.bits = 24, im.rowBytes = 300, im.photometric = TAV_PHOTO_RGB;
        std::vector<uint8_t> profile(40000, 0x5A);
        int32_t h = wt::create(path, FILETYPE_BMP);
        PageInfo info = wf::info_for(im);
        info.profileSize = uint32_t(profile.size());
        info.profileOffset.ptr = profile.data();
        EXPECT_EQ(wf::put(h, 1, info), uint32_t(TAV_E_SEEK));
        wt::close(h);
        EXPECT_EQ(length_of(path), 0u);
    }
    {
        const std::string path = dir.file("bytes.raw");
        int32_t h = wt::create(path, FILETYPE_RAW);
        EXPECT_EQ(write_call(h, wt::pattern(50000, 7), 0, 0), 0u);
        EXPECT_EQ(write_call(h, wt::pattern(10001, 8), 0, 0), uint32_t(TAV_E_SEEK));
        wt::close(h);
        EXPECT_EQ(length_of(path), 50000u);
    }
}

// The compound-file engine refuses a stream's growth that the file has no
// room for before anything changes, and goes on working: the streams taken
// before read back, and the file is whole for olefile too.
TEST_F(WriteLimit, CompoundFileEngineRefusesGrowthBeyondTheLimit) {
    LoweredLimit limit(200000);
    const std::string path = dir.file("store.cfb");
    std::vector<std::string> taken;
    {
        StgRef<StgStorage> root;
        ASSERT_EQ(create_root(path, root), 0u);
        uint32_t rc = 0;
        for (int i = 0; rc == 0 && i < 40; ++i) {
            const std::string content(20000, char('a' + i));
            rc = put_stream(root.get(), "s" + std::to_string(i), content);
            if (rc == 0) taken.push_back(content);
        }
        EXPECT_EQ(rc, TAV_STG_E_MEDIUMFULL);
        ASSERT_FALSE(taken.empty());
        for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(get_stream(root.get(), "s" + std::to_string(i)), taken[i]);
    }
    EXPECT_LE(length_of(path), 200000u);
    if (!pillow_missing()) {
        EXPECT_EQ(olefile_listing(path, true), engine_listing(path));
    }
}

// AWD documents stop at the engine's limit: the pages written before read
// back.
TEST_F(WriteLimit, AwdPagesUntilTheLimit) {
    const std::string path = dir.file("fax.awd");
    std::vector<BitPage> taken;
    {
        LoweredLimit limit(150000);
        AwdHandle f;
        ASSERT_EQ(f.create(path), 0u);
        uint32_t code = 0;
        for (uint16_t p = 1; code == 0 && p < 40; ++p) {
            BitPage page = pattern_page(1728, 400, p);
            code = f.write_page(p, page);
            if (code == 0) taken.push_back(page);
        }
        EXPECT_EQ(code, TAV_STG_E_MEDIUMFULL);
        f.close();
        EXPECT_LE(length_of(path), 150000u);
    }
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(read_awd(path), taken);
}

// A page whose write fails locally: close drops it and fails, the pages
// before it stay as they were; given again after the failure, the page
// goes in whole.
TEST_F(WriteLimit, FailedWriteBreaksOnlyItsPage) {
    const Pages data = {wt::pattern(3000, 1), wt::pattern(5000, 2)};
    for (bool again : {false, true}) {
        for (PlatFailure failure : {PlatFailure::Error, PlatFailure::Short}) {
            SCOPED_TRACE(std::to_string(again) + " " + std::to_string(int(failure)));
            const std::string path = dir.file("f.tif");
            std::filesystem::remove(path);
            int32_t h = wt::create(path);
            PageInfo info = wt::bilevel(80, 40);
            ASSERT_EQ(wt::put_page(h, 1, info, data[0]), 0u);
            info = wt::bilevel(80, 40);
            uint32_t err = 0;
            ASSERT_EQ(xtavputi(&h, 2, &info, nullptr, &err), 0);
            plat_fault_arm({PlatStep::Write, 1, failure, false});
            const uint32_t code = write_call(h, data[1], 2, 1);
            plat_fault_disarm();
            EXPECT_NE(code, 0u);
            EXPECT_EQ(write_call(h, data[1], 2, 1), code) << "a broken page took more data";
            if (again) {
                info = wt::bilevel(80, 40);
                ASSERT_EQ(wt::put_page(h, 2, info, data[1]), 0u);
                wt::close(h);
            } else {
                EXPECT_EQ(xtavclose(&h, &err), -1);
            }
            EXPECT_EQ(tiff_pages(path), again ? data : Pages{data[0]});
        }
    }
}

// A remote page whose RPCIFSwrite fails half way: xtavwrite reports it,
// close drops the page and fails, and the server's file holds the pages
// before it, linked as before.
TEST_F(WriteLimit, FailedRemoteWriteBreaksOnlyItsPage) {
    ASSERT_NE(plat_remote_bind(), nullptr) << "libqvrpc400.so is needed";
    void* m = plat_remote_module();
    auto reset = reinterpret_cast<void (*)()>(plat_symbol(m, "RPCSTUBreset"));
    auto fail = reinterpret_cast<void (*)(const char*, uint32_t, uint32_t, uint32_t)>(plat_symbol(m, "RPCSTUBfail"));
    ASSERT_TRUE(reset && fail);
    TempDir server;
    FileLocation loc{};
    loc.isRemote = 1;
    std::snprintf(loc.server, sizeof loc.server, "%s", server.path().c_str());
    const Pages data = {wt::pattern(40000, 1), wt::pattern(50000, 2)};
    for (uint32_t transport : {0u, 1u}) {
        reset();
        uint32_t type = FILETYPE_TIFF, err = 0;
        std::filesystem::remove(server.file("r.tif"));
        int32_t h = xtavcreat(&loc, PathBuf("r.tif"), &type, &err);
        ASSERT_GT(h, 0) << err;
        for (uint16_t p = 1; p <= 2; ++p) {
            PageInfo info = wt::bilevel(800, 400);
            ASSERT_EQ(wt::put_page(h, p, info, data[p - 1]), 0u);
        }
        PageInfo info = wt::bilevel(800, 400);
        ASSERT_EQ(xtavputi(&h, 3, &info, nullptr, &err), 0);
        fail("RPCIFSwrite", transport ? 0 : 28, transport, 1);
        EXPECT_EQ(write_call(h, wt::pattern(100000, 3), 3, 1), transport ? uint32_t(TAV_E_TRANSPORT) : 28u);
        EXPECT_EQ(xtavclose(&h, &err), -1);
        reset();
        EXPECT_EQ(tiff_pages(server.file("r.tif")), data);
#ifdef QVTAV_HAVE_LIBTIFF
        EXPECT_EQ(wt::libtiff_read(server.file("r.tif")).size(), 2u);
#endif
    }
}

}  // namespace
