// Appending pages to existing TIFF files: files with our page offset table,
// plain IFD chains written by other programs, and page index files, which
// are converted in place. An abort gives back the original bytes.
#include <cstring>

#include "tiff_builder.h"
#include "write_test_util.h"

namespace {

using wt::File;

struct UpdateTiff : ::testing::Test {
    TempDir dir;

    // Appends pages 24 x 3 (data pattern(9, 1000 + i)), then closes or aborts.
    void append(const std::string& path, uint32_t from, int count, bool abort) {
        uint32_t pages = 0, err = 0;
        int32_t h = wt::open_update(path, &pages);
        ASSERT_EQ(from, pages);
        for (int i = 0; i < count; ++i) {
            PageInfo info = wt::bilevel(24, 3);
            ASSERT_EQ(0u, wt::put_page(h, uint16_t(from + 1 + i), info, wt::pattern(9, 1000 + i)));
        }
        EXPECT_EQ(0, abort ? xtavabort(&h, &err) : xtavclose(&h, &err)) << err;
    }
    // Aborts after one and two pages give back the original; then two pages
    // are appended and every page checked by libtiff and our own reader.
    void append_and_abort(const std::string& path, uint32_t seed0) {
        const std::vector<uint8_t> original = read_file(path);
        for (int n : {0, 1, 2}) {  // closing after no page changes nothing either
            append(path, 200, n, n > 0);
            EXPECT_TRUE(read_file(path) == original) << "abort after " << n;
        }
        append(path, 200, 2, false);
        EXPECT_EQ(202u, page_count(path));
        File f(path);
        ASSERT_EQ(202u, f.chain().size());
        EXPECT_GE(f.chain()[200], original.size());  // the old pages stay where they were
#ifdef QVTAV_HAVE_LIBTIFF
        auto pages = wt::libtiff_read(path);
        ASSERT_EQ(202u, pages.size());
        for (uint32_t i = 0; i < 202; ++i) {
            auto want = i < 200 ? wt::pattern(4, seed0 + i) : wt::pattern(9, 1000 + i - 200);
            EXPECT_TRUE(want == pages[i].strips.at(0)) << i;
        }
#endif
    }
    static uint32_t page_count(const std::string& path) {
        PathBuf p(path);
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
        EXPECT_GT(h, 0) << err;
        xtavclose(&h, &err);
        return pages;
    }
};

TEST_F(UpdateTiff, AppendToTableFileAndAbort) {
    std::string path = dir.file("t.tif");
    int32_t h = wt::create(path);
    for (uint16_t p = 1; p <= 200; ++p) {
        PageInfo info = wt::bilevel(16, 2);
        ASSERT_EQ(0u, wt::put_page(h, p, info, wt::pattern(4, p)));
    }
    wt::close(h);
    append_and_abort(path, 1);
    File f(path);
    auto chain = f.chain();
    const wt::Entry tag = f.at(chain[0], 32934);
    EXPECT_EQ(206u, tag.count);
    EXPECT_EQ(202u, f.u32(tag.value + 8));
    EXPECT_EQ(f.bytes.size(), f.u32(tag.value + 12));
    for (uint32_t i = 0; i < 202; ++i) EXPECT_EQ(chain[i], f.u32(tag.value + 16 + 4 * i));
}

#ifdef QVTAV_HAVE_LIBTIFF
TEST_F(UpdateTiff, AppendToPlainChainAndAbort) {
    if (oracle_missing("tiffcp")) GTEST_SKIP() << "tiffcp missing";
    std::string made = dir.file("lt.tif"), path = dir.file("chain.tif");
    wt::quiet_libtiff();
    TIFF* t = TIFFOpen(made.c_str(), "w");
    ASSERT_TRUE(t);
    for (uint32_t i = 0; i < 200; ++i) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        std::vector<uint8_t> px = wt::pattern(4, i);
        TIFFWriteEncodedStrip(t, 0, px.data(), 4);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    ASSERT_EQ(0, run_command("tiffcp " + made + " " + path));
    append_and_abort(path, 0);
    // The table now carried by the first appended page is found at the next
    // open; appending again links page 203 behind page 202.
    append(path, 202, 1, false);
    EXPECT_EQ(203u, wt::libtiff_read(path).size());
    EXPECT_EQ(203u, page_count(path));
}
#endif

TEST_F(UpdateTiff, PageIndexFileIsConvertedInPlace) {
    // Two pages 16 x 2 and 24 x 2; page 2 at a base of its own.
    TiffBuilder p1, p2;
    for (TiffBuilder* b : {&p1, &p2}) {
        const uint32_t w = b == &p1 ? 16 : 24;
        uint32_t off = b->add_data(wt::pattern(w / 4, w));
        auto& d = b->add_ifd().shorts(256, {uint16_t(w)}).shorts(257, {2}).longs(273, {off})
            .longs(279, {w / 4}).rationals(282, {{300, 1}});
        if (b == &p1) d.longs(32935, {0});
    }
    std::vector<uint8_t> second = p2.build();
    const PageIndexFile idx = page_index_file(p1.build(), true, {second});
    const uint32_t base = idx.bases[1];
    std::string path = dir.file("idx.tif");
    write_file(path, idx.bytes);
    uint32_t pages = 0, err = 0;
    int32_t h = wt::open_update(path, &pages);
    ASSERT_EQ(2u, pages);
    PageInfo info = wt::bilevel(24, 3);  // the conversion stays when the appending is given up
    ASSERT_EQ(0u, wt::put_page(h, 3, info, wt::pattern(9, 7)));
    EXPECT_EQ(0, xtavabort(&h, &err));

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(p1.ifd_offset(0), chain[0]);
    EXPECT_EQ(0u, f.at(chain[0], 32935).tag);
    const wt::Entry tag = f.at(chain[0], 32934);
    EXPECT_EQ(idx.indexAt, tag.value);  // the table fits where the index was
    EXPECT_EQ(6u, tag.count);
    EXPECT_EQ(0, std::memcmp(&f.bytes[idx.indexAt], "TEXO", 4));
    EXPECT_EQ(f.bytes.size(), f.u32(idx.indexAt + 12));
    EXPECT_EQ(chain[1], f.u32(idx.indexAt + 20));
    // Page 2's directory grew by the table tag: written at the end, its
    // offsets made absolute.
    EXPECT_GE(chain[1], idx.bytes.size());
    EXPECT_EQ(base + 8, f.at(chain[1], 273).value);
    EXPECT_EQ(base + p2.value_offset(0, 282), f.at(chain[1], 282).value);
    EXPECT_NE(0u, f.at(chain[1], 32934).tag);
    EXPECT_EQ(2u, page_count(path));
#ifdef QVTAV_HAVE_LIBTIFF
    auto lt = wt::libtiff_read(path);
    ASSERT_EQ(2u, lt.size());
    EXPECT_EQ(24u, lt[1].width);
    EXPECT_EQ(300.0f, lt[1].xres);
    EXPECT_TRUE(wt::pattern(6, 24) == lt[1].strips.at(0));
#endif
    append(path, 2, 1, false);
    EXPECT_EQ(3u, File(path).chain().size());
    EXPECT_EQ(3u, page_count(path));
}

}  // namespace
