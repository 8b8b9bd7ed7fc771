// XIFF files through the outside reader: page information at no more than
// 150 dots per inch, decoded rows equal to libtiff's decoding resampled by
// an independent resampler, palettes, pages of different sizes, the whole-
// page reads, remote files, the missing reader library, and damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "fileio/mem.h"
#include "formats/xiff/xiff_format.h"
#include "page_test_util.h"
#include "platform/plat_loader.h"
#include "xiff_files.h"

#ifdef QVTAV_HAVE_LIBTIFF

namespace {

XiffPagePlan bilevel(uint32_t w, uint32_t l, uint32_t dpi, uint16_t compression = COMPRESSION_NONE) {
    XiffPagePlan p;
    p.width = w;
    p.length = l;
    p.compression = compression;
    p.xRes = p.yRes = {dpi, 1};
    return p;
}

XiffPagePlan layout(uint16_t photometric, uint16_t bits, uint16_t samples, uint32_t dpi,
                    uint16_t compression = COMPRESSION_NONE) {
    XiffPagePlan p = bilevel(301, 203, dpi, compression);
    p.photometric = photometric;
    p.bits = bits;
    p.samples = samples;
    return p;
}

class Xiff : public ::testing::Test {
protected:
    void SetUp() override { blocks = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked"; }

    std::string save(const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("x" + std::to_string(n++) + ".xif");
        write_file(path, bytes);
        return path;
    }
    // The page's information; its rows read in one call (checked to
    // return 0 with nothing remaining).
    std::vector<uint8_t> rows(OpenedFile& f, uint16_t page) {
        EXPECT_EQ(f.info(page), 0u) << page;
        std::vector<uint8_t> buf(f.ps.dataBytes, 0xEE);
        uint32_t remaining = 1, err = 0;
        EXPECT_EQ(f.read(buf.data(), 0, f.ps.dataBytes, &remaining, page, &err), 0) << err;
        EXPECT_EQ(remaining, 0u);
        return buf;
    }
    // Every page of the file delivers libtiff's decoding resampled to the
    // page information's geometry.
    void expect_pages_decoded(const std::string& path) {
        OpenedFile f(path);
        ASSERT_TRUE(f.ok()) << f.error;
        for (uint16_t page = 1; page <= f.pages; ++page) {
            std::vector<uint8_t> got = rows(f, page);
            EXPECT_EQ(got, expected_rows(path, page - 1, f.pi.imageWidth, f.pi.imageLength))
                << path << " page " << page;
        }
    }

    TempDir dir;
    int n = 0;
    int blocks = 0;
};

TEST_F(Xiff, PageInformationAtNoMoreThan150Dpi) {
    std::string path = save(xiff_file({bilevel(2550, 3300, 300, COMPRESSION_CCITTFAX4)}));
    OpenedFile f(path);
    ASSERT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(f.type, FILETYPE_XIFF);
    EXPECT_EQ(f.pages, 1u);
    ASSERT_EQ(f.info(1), 0u);
    const PageInfo& i = f.pi;
    EXPECT_EQ(i.imageWidth, 1275u);
    EXPECT_EQ(i.imageLength, 1650u);
    EXPECT_EQ(i.xResNum, 150u);
    EXPECT_EQ(i.yResNum, 150u);
    EXPECT_EQ(i.xResDen, 1u);
    EXPECT_EQ(i.yResDen, 1u);
    EXPECT_EQ(i.resolutionUnit, 2u);
    EXPECT_EQ(i.bitsPerSample[0], 1u);
    EXPECT_EQ(i.samplesPerPixel, 1u);
    EXPECT_EQ(i.photometric, TAV_PHOTO_BILEVEL_BLACK);
    EXPECT_EQ(i.compression, TAV_COMP_NONE);
    EXPECT_EQ(i.fileType, FILETYPE_XIFF);
    EXPECT_EQ(i.byteOrder, 0x4949u);
    EXPECT_EQ(i.fillOrder, 1u);
    EXPECT_EQ(i.infoKind, 4u);
    EXPECT_EQ(f.ps.rawBytes, 160u * 1650);  // 1275 bits padded to 40 words
    EXPECT_EQ(f.ps.dataBytes, f.ps.rawBytes);
}

// Each layout's output form: bits, samples, photometric and palette size.
TEST_F(Xiff, EachLayoutInItsForm) {
    struct Case {
        XiffPagePlan plan;
        uint32_t bits, samples, photometric, palette;
    } cases[] = {
        {layout(PHOTOMETRIC_RGB, 8, 3, 150), 8, 3, TAV_PHOTO_RGB, 0},
        {layout(PHOTOMETRIC_PALETTE, 8, 1, 150), 8, 1, TAV_PHOTO_PALETTE, 768},
        {layout(PHOTOMETRIC_MINISBLACK, 8, 1, 150), 8, 1, TAV_PHOTO_GRAY_BLACK, 0},
        {layout(PHOTOMETRIC_PALETTE, 4, 1, 150), 4, 1, TAV_PHOTO_PALETTE, 48},
        {layout(PHOTOMETRIC_MINISBLACK, 4, 1, 150), 4, 1, TAV_PHOTO_GRAY_BLACK, 0},
        {layout(PHOTOMETRIC_MINISWHITE, 1, 1, 150), 1, 1, TAV_PHOTO_BILEVEL_BLACK, 0},
    };
    for (const Case& c : cases) {
        OpenedFile f(save(xiff_file({c.plan})));
        ASSERT_TRUE(f.ok()) << f.error;
        ASSERT_EQ(f.info(1), 0u) << c.photometric;
        EXPECT_EQ(f.pi.imageWidth, 301u);
        for (uint32_t s = 0; s < 5; ++s) EXPECT_EQ(f.pi.bitsPerSample[s], s < c.samples ? c.bits : 0) << s;
        EXPECT_EQ(f.pi.samplesPerPixel, c.samples);
        EXPECT_EQ(f.pi.photometric, c.photometric);
        if (c.palette) {
            EXPECT_EQ(f.pi.area.palette.colorMapSize, c.palette);
        }
        EXPECT_EQ(f.ps.rawBytes, (301 * c.bits * c.samples + 31) / 32 * 4 * 203) << c.photometric;
    }
}

TEST_F(Xiff, RowsEqualLibtiffDecodingResampled) {
    const std::vector<XiffPagePlan> pages = {
        bilevel(2550, 3300, 300, COMPRESSION_CCITTFAX4),
        layout(PHOTOMETRIC_MINISBLACK, 4, 1, 300),
        layout(PHOTOMETRIC_MINISBLACK, 8, 1, 300, COMPRESSION_LZW),
        layout(PHOTOMETRIC_MINISWHITE, 8, 1, 150),
        layout(PHOTOMETRIC_MINISWHITE, 4, 1, 300, COMPRESSION_PACKBITS),
        layout(PHOTOMETRIC_PALETTE, 4, 1, 300),
        layout(PHOTOMETRIC_PALETTE, 8, 1, 150, COMPRESSION_LZW),
        layout(PHOTOMETRIC_RGB, 8, 3, 300),
        layout(PHOTOMETRIC_RGB, 8, 3, 150, COMPRESSION_ADOBE_DEFLATE),
        layout(PHOTOMETRIC_MINISBLACK, 1, 1, 150),
        layout(PHOTOMETRIC_MINISWHITE, 1, 1, 150, COMPRESSION_PACKBITS),
        layout(PHOTOMETRIC_MINISWHITE, 4, 1, 150),
        layout(PHOTOMETRIC_PALETTE, 4, 1, 150),
        layout(PHOTOMETRIC_RGB, 8, 4, 150),
        layout(PHOTOMETRIC_RGB, 8, 4, 300),
    };
    std::string path = save(xiff_file(pages));
    expect_pages_decoded(path);
    // The same pages behind the other mark.
    expect_pages_decoded(save(xiff_file({pages[2], pages[7]}, kExtendedMark)));
}

TEST_F(Xiff, PalettesAreTheColourMapsHighBytes) {
    std::string path = save(xiff_file({layout(PHOTOMETRIC_PALETTE, 8, 1, 300),
                                       layout(PHOTOMETRIC_PALETTE, 4, 1, 150),
                                       layout(PHOTOMETRIC_MINISBLACK, 8, 1, 150)}));
    OpenedFile f(path);
    ASSERT_TRUE(f.ok()) << f.error;
    std::vector<uint8_t> map(800, 0xEE);
    for (uint16_t page : {1, 2}) {
        f.pi.area.palette.colorMapBuffer = map.data();  // kept by the page call
        ASSERT_EQ(f.info(page), 0u);
        ASSERT_EQ(f.pi.area.palette.colorMapBuffer, map.data());
        std::fill(map.begin(), map.end(), 0xEE);
        ASSERT_EQ(f.data(), 0u) << page;
        std::vector<uint8_t> want = expected_palette(path, page - 1);
        EXPECT_EQ(std::vector<uint8_t>(map.begin(), map.begin() + long(want.size())), want) << page;
        EXPECT_EQ(map[want.size()], 0xEE) << "nothing beyond the palette";
    }
    // Too small a buffer for the 256 entries; a page without a palette
    // delivers nothing.
    ASSERT_EQ(f.info(1), 0u);
    f.pi.area.palette.colorMapSize = 48;
    EXPECT_EQ(f.data(), uint32_t(TAV_E_COUNT));
    PageInfo grey{};
    PageSizes sizes{};
    ASSERT_EQ(f.info(3, grey, sizes), 0u);
    f.pi.area.palette.colorMapSize = 768;
    std::fill(map.begin(), map.end(), 0xEE);
    EXPECT_EQ(f.data(), 0u);
    EXPECT_EQ(map[0], 0xEE);
}

// The output set-up belongs to its page: each page of different size comes
// at its own geometry, in any order, read again or not.
TEST_F(Xiff, PagesOfDifferentSizesAtTheirOwnGeometry) {
    XiffPagePlan big = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 300);
    big.width = 640;
    big.length = 480;
    XiffPagePlan small = layout(PHOTOMETRIC_PALETTE, 8, 1, 150, COMPRESSION_LZW);
    small.width = 97;
    small.length = 55;
    std::string path = save(xiff_file({big, small}));
    OpenedFile f(path);
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.pages, 2u);
    for (uint16_t page : {1, 2, 1, 2, 2}) {
        std::vector<uint8_t> got = rows(f, page);
        EXPECT_EQ(f.pi.imageWidth, page == 1 ? 320u : 97u);
        EXPECT_EQ(got, expected_rows(path, page - 1, f.pi.imageWidth, f.pi.imageLength)) << page;
        std::vector<uint8_t> again(f.ps.dataBytes);
        uint32_t remaining = 1, err = 0;
        EXPECT_EQ(f.read(again.data(), 0, f.ps.dataBytes, &remaining, page, &err), 0);
        EXPECT_EQ(again, got) << "a second read of page " << page;
    }
}

TEST_F(Xiff, ResolutionsInCentimetresMissingOrZero) {
    XiffPagePlan cm = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 0);
    cm.xRes = {11811, 100};  // 118.11 per centimetre: 300 per inch
    cm.yRes = {4724, 100};   // 47.24 per centimetre: 120 per inch
    cm.unit = RESUNIT_CENTIMETER;
    XiffPagePlan none = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 0);
    none.unit = 0;
    XiffPagePlan zero = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 0);
    XiffPagePlan wide = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 600);
    wide.yRes = {200, 1};
    std::string path = save(xiff_file({cm, none, zero, wide}));
    OpenedFile f(path);
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(f.pi.xResNum, 150u);
    EXPECT_EQ(f.pi.yResNum, 120u);
    EXPECT_EQ(f.pi.imageWidth, 301u * 150 / 300);
    EXPECT_EQ(f.pi.imageLength, 203u);
    ASSERT_EQ(f.info(2), 0u);
    EXPECT_EQ(f.pi.xResNum, 72u);
    EXPECT_EQ(f.pi.imageWidth, 301u);
    // A zero resolution refuses the page instead of dividing by it, and
    // leaves nothing to read.
    EXPECT_EQ(f.info(3), uint32_t(TAV_E_SIZE));
    std::vector<uint8_t> buf(64);
    uint32_t remaining = 0, err = 0;
    EXPECT_LT(f.read(buf.data(), 0, 64, &remaining, 3, &err), 0);
    EXPECT_EQ(f.info(4), 0u);
    EXPECT_EQ(f.pi.imageWidth, 301u / 4);
    EXPECT_EQ(f.pi.imageLength, 203u * 150 / 200);
    EXPECT_EQ(rows(f, 4), expected_rows(path, 3, 301 / 4, 203 * 150 / 200));
}

// The reader delivers whole pages: only a read of the whole page from its
// start is served.
TEST_F(Xiff, OnlyWholePageReads) {
    OpenedFile f(save(xiff_file({layout(PHOTOMETRIC_MINISBLACK, 8, 1, 150), bilevel(64, 8, 150)})));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.info(1), 0u);
    const uint32_t size = f.ps.dataBytes;
    std::vector<uint8_t> buf(size + 8);
    struct Case {
        uint32_t start, count;
        uint16_t page;
        uint32_t code;
    } cases[] = {
        {4, size - 4, 1, TAV_E_COUNT},  {0, size - 1, 1, TAV_E_COUNT}, {0, size + 8, 1, TAV_E_COUNT},
        {size + 1, 1, 1, TAV_E_OFFSET}, {0, size, 2, TAV_E_PAGE},       {0, size, 0, TAV_EINVAL},
    };
    for (const Case& c : cases) {
        uint32_t remaining = 7, err = 0;
        EXPECT_EQ(f.read(buf.data(), c.start, c.count, &remaining, c.page, &err), -1) << c.start << " " << c.count;
        EXPECT_EQ(err, c.code) << c.start << " " << c.count;
    }
    uint32_t remaining = 7, err = 0;
    EXPECT_EQ(f.read(buf.data(), 0, size, &remaining, 1, &err), 0);
    EXPECT_EQ(remaining, 0u);
}

TEST_F(Xiff, RemoteFileReadsLikeALocalOne) {
    std::string path = save(xiff_file({bilevel(1700, 220, 200, COMPRESSION_CCITTFAX3),
                                       layout(PHOTOMETRIC_PALETTE, 8, 1, 300)}));
    FileLocation loc{};
    loc.isRemote = 1;
    std::snprintf(loc.server, sizeof loc.server, "%s", dir.path().c_str());
    PathBuf name(path.substr(dir.path().size() + 1));
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(&loc, name, 0, &type, &pages, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(type, FILETYPE_XIFF);
    EXPECT_EQ(pages, 2u);
    OpenedFile local(path);
    for (uint16_t page : {1, 2}) {
        PageInfo info{};
        PageSizes sizes{};
        ASSERT_EQ(xtavgeti(&h, page, &info, &sizes, &err), 0) << err;
        std::vector<uint8_t> got(sizes.dataBytes);
        uint32_t remaining = 1;
        ASSERT_EQ(xtavread(&h, got.data(), 0, sizes.dataBytes, &remaining, page, &err), 0) << err;
        EXPECT_EQ(got, rows(local, page)) << page;
        EXPECT_EQ(std::memcmp(&info, &local.pi, sizeof info), 0) << page;
    }
    EXPECT_EQ(xtavclose(&h, &err), 0);
}

// Close and abort release the reader and the stream alike, at any point.
TEST_F(Xiff, AbortReleasesTheReader) {
    std::string path = save(xiff_file({layout(PHOTOMETRIC_RGB, 8, 3, 300), bilevel(64, 8, 150)}));
    for (int stop = 0; stop < 3; ++stop) {
        PathBuf p(path);
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, p, 0, &type, &pages, &err);
        ASSERT_GT(h, 0) << err;
        PageInfo info{};
        PageSizes sizes{};
        if (stop >= 1) {
            ASSERT_EQ(xtavgeti(&h, 1, &info, &sizes, &err), 0);
        }
        if (stop >= 2) {
            std::vector<uint8_t> buf(sizes.dataBytes);
            uint32_t remaining = 0;
            ASSERT_EQ(xtavread(&h, buf.data(), 0, sizes.dataBytes, &remaining, 1, &err), 0);
        }
        EXPECT_EQ(xtavabort(&h, &err), 0);
        EXPECT_EQ(mem_live_blocks(), blocks) << "after abort at step " << stop;
    }
    EXPECT_EQ(read_file(path), xiff_file({layout(PHOTOMETRIC_RGB, 8, 3, 300), bilevel(64, 8, 150)}));
}

TEST_F(Xiff, MissingReaderLibraryGivesCode1) {
    std::string xiff = save(xiff_file({bilevel(64, 8, 150)}));
    std::string tiff = dir.file("plain.tif");
    TiffBuilder b;
    uint32_t strip = b.add_data(std::vector<uint8_t>(64, 0x0F));
    b.add_ifd().longs(256, {64}).longs(257, {8}).longs(273, {strip}).longs(279, {64});
    write_file(tiff, b.build());

    TempDir empty;
    void* loaded = g_xiffLib;
    g_xiffLib = nullptr;
    plat_set_library_dir(empty.path().c_str());
    {
        OpenedFile f(xiff);
        EXPECT_FALSE(f.ok());
        EXPECT_EQ(f.error, uint32_t(TAV_EPERM));
        OpenedFile t(tiff);
        EXPECT_TRUE(t.ok()) << t.error;
        EXPECT_EQ(t.type, FILETYPE_TIFF);
        EXPECT_EQ(t.info(1), 0u);
    }
    plat_set_library_dir(nullptr);
    g_xiffLib = loaded;
    OpenedFile again(xiff);
    EXPECT_TRUE(again.ok()) << again.error;
}

// Damaged files: every cut of a file of several pages, and absurd sizes and
// places in its directory. Each call gives a result or a code.
TEST_F(Xiff, DamagedFilesGiveCodes) {
    std::vector<uint8_t> whole = xiff_file({bilevel(300, 40, 300, COMPRESSION_CCITTFAX4),
                                            layout(PHOTOMETRIC_PALETTE, 8, 1, 150, COMPRESSION_LZW),
                                            layout(PHOTOMETRIC_RGB, 8, 3, 150)});
    std::vector<std::vector<uint8_t>> files;
    for (size_t cut = 0; cut < whole.size(); cut += 1 + cut / 16)
        files.emplace_back(whole.begin(), whole.begin() + long(cut));
    auto patched = [](XiffPagePlan p, uint16_t tag, uint32_t value) {
        TiffBuilder b;
        b.add_data(kXeroxMark, 1);
        uint32_t strip = b.add_data(std::vector<uint8_t>(256, 0xA5));
        auto& d = b.add_ifd();
        d.longs(256, {p.width}).longs(257, {p.length}).shorts(258, {p.bits}).shorts(262, {p.photometric});
        d.longs(273, {strip}).longs(278, {p.length}).longs(279, {256});
        d.rationals(282, {p.xRes}).rationals(283, {p.yRes});
        d.remove(tag).longs(tag, {value});
        return b.build();
    };
    XiffPagePlan grey = layout(PHOTOMETRIC_MINISBLACK, 8, 1, 150);
    for (auto [tag, value] : std::vector<std::pair<uint16_t, uint32_t>>{
             {256, 0xFFFFFFFF}, {257, 0xFFFFFFFF}, {256, 0}, {257, 0}, {256, 2000000}, {273, 0x7FFFFF00},
             {279, 0xFFFFFFF0}, {278, 0}, {258, 16}, {258, 0}, {262, 6}, {259, 7}, {259, 4}, {322, 16}})
        files.push_back(patched(grey, tag, value));
    for (const auto& bytes : files) {
        OpenedFile f(save(bytes));
        if (!f.ok()) {
            EXPECT_NE(f.error, 0u) << bytes.size();
            continue;
        }
        for (uint16_t page = 1; page <= f.pages; ++page) {
            if (f.info(page) != 0) continue;
            if (f.ps.dataBytes > (64u << 20)) continue;
            std::vector<uint8_t> buf(f.ps.dataBytes);
            uint32_t remaining = 0, err = 0;
            if (f.read(buf.data(), 0, f.ps.dataBytes, &remaining, page, &err) < 0) {
                EXPECT_NE(err, 0u);
            }
        }
    }
}

}  // namespace

#endif
