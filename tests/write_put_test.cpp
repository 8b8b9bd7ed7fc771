// Page information put and page data writing: the property block, raw and
// other file types, handles that cannot write, and the writer options.
#include <cstring>

#include "frame/fct.h"
#include "write_test_util.h"

namespace {

struct WritePut : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("p.tif");
};

TEST_F(WritePut, PropertyBlockSizes) {
    // Texts of 3 and 25 characters, with room reserved or not.
    const struct { const char* title; uint32_t reserve, expected; } cases[] = {
        {"abc", 0, 52}, {"abcdefghijklmnopqrstuvwxy", 200, 240}, {"abcdefghijklmnopqrstuvwxy", 20, 80}};
    for (const auto& c : cases) {
        std::string p = dir.file(std::to_string(c.reserve) + ".tif");
        int32_t h = wt::create(p);
        char empty[] = "";
        PageInfo info = wt::bilevel(8, 8);
        info.title = const_cast<char*>(c.title);
        info.author = info.subject = info.keywords = info.comments = empty;
        info.propertiesLength = c.reserve;
        ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(8, 1)));
        wt::close(h);
        wt::File f(p);
        EXPECT_EQ(c.expected + 24, f.first_ifd()) << c.reserve;  // header, block head, block
        EXPECT_EQ(0, std::memcmp(&f.bytes[24], "Title:", 6));
    }
}

TEST_F(WritePut, HandleWithoutWriteAccessIsRefused) {
    int32_t h = wt::create(path);
    PageInfo info = wt::bilevel(8, 8);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(8, 1)));
    wt::close(h);
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t r = xtavopen(nullptr, p, TAV_OPEN_UPDATE, &type, &pages, &err);  // flags 8 alone
    ASSERT_GT(r, 0) << err;
    EXPECT_EQ(uint32_t(TAV_EACCES), wt::put_page(r, 2, info, {}));
    uint8_t b[4] = {};
    EXPECT_EQ(-1, xtavwrite(&r, b, 4, 2, 1, &err));
    EXPECT_EQ(uint32_t(TAV_EACCES), err);
    xtavclose(&r, &err);
}

TEST_F(WritePut, OtherFileTypes) {
    // Raw: no page information, the bytes as they come.
    int32_t h = wt::create(dir.file("r.bin"), FILETYPE_RAW);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8);
    EXPECT_EQ(uint32_t(TAV_E_RAW_FILE), wt::put_page(h, 1, info, {}));
    std::vector<uint8_t> a = wt::pattern(100, 1), b = wt::pattern(50, 2);
    EXPECT_EQ(100, xtavwrite(&h, a.data(), 100, 0, 0, &err));
    EXPECT_EQ(50, xtavwrite(&h, b.data(), 50, 0, 0, &err));
    wt::close(h);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_TRUE(a == read_file(dir.file("r.bin")));
    // GIF and type 5 take the calls and write nothing.
    for (uint32_t type : {FILETYPE_GIF, FILETYPE_RESERVED5}) {
        std::string p = dir.file("x" + std::to_string(type));
        h = wt::create(p, type);
        EXPECT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err)) << type;
        EXPECT_EQ(0, xtavwrite(&h, a.data(), 8, 1, 1, &err)) << type;
        wt::close(h);
        EXPECT_TRUE(read_file(p).empty());
    }
    h = wt::create(dir.file("y"), FILETYPE_RESERVED5);
    info.fileType = 9;  // a data type type 5 cannot take
    PutOptions opts{1, 0, 0, 0};
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, &opts, &err));
    EXPECT_EQ(uint32_t(TAV_E_NOT_SUPPORTED), err);
    wt::close(h);
}

TEST_F(WritePut, WriterOptions) {
    int32_t h = wt::create(path);
    uint32_t err = 0, rows = 0;
    // Option 9 needs a page index; option 11 a row count.
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_INDEX_WINDOW, reinterpret_cast<uint32_t*>(uintptr_t(5)), &err));
    EXPECT_EQ(uint32_t(TAV_E_INDEX_KIND), err);
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
    EXPECT_EQ(40u, wt::File(path).at(8, 257).value);
}

}  // namespace
