// Page information put and page data writing: the calling order the caller
// must keep, the property block, raw files and the writer options.
#include <cstring>

#include "frame/fct.h"
#include "write_test_util.h"

namespace {

struct WritePut : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("p.tif");
};

TEST_F(WritePut, CallingOrder) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8);
    EXPECT_EQ(-1, xtavputi(&h, 0, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_EINVAL), err);
    uint8_t b[8] = {};
    EXPECT_EQ(-1, xtavwrite(&h, b, 8, 1, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), err);
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), err);
    EXPECT_EQ(-1, xtavwrite(&h, b, 0, 1, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_COUNT), err);
    EXPECT_EQ(8, xtavwrite(&h, b, 8, 1, 1, &err));
    // The same page twice at full resolution.
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_WRITTEN), err);
    wt::close(h);
}

TEST_F(WritePut, PropertyBlockSizes) {
    struct Case { const char* title; uint32_t reserve; uint32_t expected; };
    // Texts of 3, 25 and 25 characters: S = 8, 30, 30.
    const Case cases[] = {{"abc", 0, 52},
                          {"abcdefghijklmnopqrstuvwxy", 200, 240},
                          {"abcdefghijklmnopqrstuvwxy", 20, 80}};
    for (const Case& c : cases) {
        TempDir d;
        int32_t h = wt::create(d.file("p.tif"));
        uint32_t err = 0;
        char empty[] = "";
        PageInfo info = wt::bilevel(8, 8);
        info.title = const_cast<char*>(c.title);
        info.author = info.subject = info.keywords = info.comments = empty;
        info.propertiesLength = c.reserve;
        ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
        FctEntry* e = fct_entry_at(h);
        EXPECT_EQ(c.expected, e->hdrBlockLen) << c.title << " " << c.reserve;
        EXPECT_EQ(0, std::memcmp(e->hdrBlock, "Title:", 6));
        uint8_t b[8] = {};
        ASSERT_EQ(8, xtavwrite(&h, b, 8, 1, 1, &err));
        wt::close(h);
        wt::File f(d.file("p.tif"));
        EXPECT_EQ(c.expected + 24, f.first_ifd());
    }
}

TEST_F(WritePut, ReadOnlyUpdateHandleIsRefused) {
    int32_t h = wt::create(path);
    PageInfo info = wt::bilevel(8, 8);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(8, 1)));
    wt::close(h);
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t r = xtavopen(nullptr, p, TAV_OPEN_UPDATE, &type, &pages, &err);
    ASSERT_GT(r, 0) << err;
    EXPECT_EQ(-1, xtavputi(&r, 2, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_EACCES), err);
    uint8_t b[4] = {};
    EXPECT_EQ(-1, xtavwrite(&r, b, 4, 2, 1, &err));
    EXPECT_EQ(uint32_t(TAV_EACCES), err);
    xtavclose(&r, &err);
}

TEST_F(WritePut, RawFileTakesBytesAsTheyCome) {
    std::string raw = dir.file("r.bin");
    int32_t h = wt::create(raw, FILETYPE_RAW);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8);
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_RAW_FILE), err);
    std::vector<uint8_t> a = wt::pattern(100, 1), b = wt::pattern(50, 2);
    EXPECT_EQ(100, xtavwrite(&h, a.data(), 100, 0, 0, &err));
    EXPECT_EQ(50, xtavwrite(&h, b.data(), 50, 0, 0, &err));
    wt::close(h);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, read_file(raw));
}

TEST_F(WritePut, WriterOptions) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    // Option 9 needs a page index; option 11 a row count.
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_INDEX_WINDOW, reinterpret_cast<uint32_t*>(uintptr_t(5)), &err));
    EXPECT_EQ(uint32_t(TAV_E_INDEX_KIND), err);
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_INDEX_WINDOW, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_OPTION), err);
    uint32_t rows = 0;
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_IMAGE_LENGTH, &rows, &err));
    EXPECT_EQ(uint32_t(TAV_EINVAL), err);
    // The row count of the page being written, learnt after its data.
    PageInfo info = wt::bilevel(8, 0);
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    uint8_t b[40] = {};
    ASSERT_EQ(40, xtavwrite(&h, b, 40, 1, 0, &err));
    rows = 40;
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_IMAGE_LENGTH, &rows, &err));
    EXPECT_EQ(-1, xtavwrite(&h, b, 0, 1, 1, &err));  // a count of 0 is refused
    wt::close(h);
    wt::File f(path);
    EXPECT_EQ(40u, f.find(f.entries(8), 257)->value);
}

TEST_F(WritePut, ReducedResolutionDirectoryOfTheSamePage) {
    int32_t h = wt::create(path);
    PageInfo full = wt::bilevel(64, 8);
    std::vector<uint8_t> a = wt::pattern(64, 1), b = wt::pattern(16, 2), c = wt::pattern(64, 3);
    ASSERT_EQ(0u, wt::put_page(h, 1, full, a));
    PageInfo reduced = wt::bilevel(32, 4);
    reduced.subfileType = 1;
    ASSERT_EQ(0u, wt::put_page(h, 1, reduced, b));
    PageInfo second = wt::bilevel(64, 8);
    ASSERT_EQ(0u, wt::put_page(h, 2, second, c));
    wt::close(h);

    // Chain: page 1, its reduced image, page 2; the table lists the pages.
    wt::File f(path);
    auto chain = f.chain();
    ASSERT_EQ(3u, chain.size());
    EXPECT_EQ(1u, f.find(f.entries(chain[1]), 254)->value);
    EXPECT_EQ(0, std::memcmp(&f.bytes[f.find(f.entries(chain[1]), 273)->value], b.data(), 16));
    EXPECT_EQ(0, std::memcmp(&f.bytes[f.find(f.entries(chain[2]), 273)->value], c.data(), 64));
    uint32_t t = f.find(f.entries(chain[0]), 32934)->value;
    EXPECT_EQ(2u, f.u32(t + 8));
    EXPECT_EQ(chain[0], f.u32(t + 16));
    EXPECT_EQ(chain[2], f.u32(t + 20));
    EXPECT_EQ(nullptr, f.find(f.entries(chain[1]), 32934));
}

TEST_F(WritePut, FormatsWithoutPageData) {
    uint8_t bytes[8] = {};
    for (uint32_t type : {FILETYPE_GIF, FILETYPE_RESERVED5}) {
        TempDir d;
        int32_t h = wt::create(d.file("x"), type);
        uint32_t err = 0;
        PageInfo info = wt::bilevel(8, 8);
        EXPECT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err)) << type;
        EXPECT_EQ(0, xtavwrite(&h, bytes, 8, 1, 1, &err)) << type;
        wt::close(h);
        EXPECT_TRUE(read_file(d.file("x")).empty());
    }
    // Data types a reserved type cannot take.
    TempDir d;
    int32_t h = wt::create(d.file("y"), FILETYPE_RESERVED5);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8);
    info.fileType = 9;
    PutOptions opts{1, 0, 0, 0};
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, &opts, &err));
    EXPECT_EQ(uint32_t(TAV_E_NOT_SUPPORTED), err);
    wt::close(h);
}

}  // namespace
