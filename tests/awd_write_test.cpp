// Writing AWD files through the public interface: pages in, pages out with
// the same bits, the tree and records they leave, the refusals.
#include <gtest/gtest.h>

#include "awd_test_util.h"
#include "fileio/mem.h"
#include "test_util.h"

namespace {

struct AwdWriteTest : ::testing::Test {
    void SetUp() override { blocks = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked"; }
    TempDir dir;
    int blocks = 0;
};

// The first rows of `got` are the page's, the rest white.
void expect_page(const BitPage& got, const BitPage& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_GE(got.height, want.height);
    for (uint32_t r = 0; r < got.height; ++r) {
        std::vector<uint8_t> row(got.row(r), got.row(r) + got.row_bytes());
        std::vector<uint8_t> expected(got.row_bytes(), 0);
        if (r < want.height) expected.assign(want.row(r), want.row(r) + want.row_bytes());
        ASSERT_EQ(row, expected) << "row " << r;
    }
}

TEST_F(AwdWriteTest, TwentyPagesWrittenPageByPageReadBackBandByBand) {
    std::string path = dir.file("fax.awd");
    std::vector<BitPage> pages;
    for (uint32_t i = 0; i < 20; ++i) pages.push_back(pattern_page(1728, 100 + 37 * i, i));
    ASSERT_EQ(write_awd(path, pages), 0u);

    AwdHandle f;
    ASSERT_EQ(f.open(path), 0u);
    EXPECT_EQ(f.type, FILETYPE_AWD);
    ASSERT_EQ(f.pages, 20u);
    for (uint16_t p = 1; p <= 20; ++p) {
        const BitPage& want = pages[p - 1];
        ASSERT_EQ(f.info(p, 8192), 0u) << "page " << p;
        // Bands of whole rows: 8192 / 216 = 37 rows.
        EXPECT_EQ(TAV_AWD_LOW(f.pi.maxStripSize), 37u * 216);
        EXPECT_EQ(f.pi.imageWidth, 1728u);
        EXPECT_EQ(f.pi.imageLength, (want.height + 36) / 37 * 37);
        EXPECT_EQ(f.ps.dataBytes, 216u * f.pi.imageLength);
        EXPECT_EQ(f.pi.xResNum, 200u);
        EXPECT_EQ(f.pi.compression, uint32_t(TAV_COMP_NONE));
        EXPECT_EQ(f.pi.photometric, uint32_t(TAV_PHOTO_BILEVEL_WHITE));
        BitPage got;
        uint32_t bands = 0;
        ASSERT_EQ(f.read_bands(p, &got, &bands), 0u);
        EXPECT_EQ(bands, f.pi.imageLength / 37);
        expect_page(got, want);
    }
}

}  // namespace
