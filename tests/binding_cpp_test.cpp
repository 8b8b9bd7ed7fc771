// The C++ layer of qvtav.hpp over the library: pages read back whole by each
// type's rules, texts and palettes through the kept records, errors with and
// without codes, closing and aborting by the destructor, moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvtav.hpp"
#include "test_util.h"
#include "tiff_builder.h"
#include "write_test_util.h"
#include "xiff_files.h"

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
    return v;
}

bool starts_with(const std::vector<uint8_t>& data, const std::vector<uint8_t>& head) {
    return data.size() >= head.size() && std::equal(head.begin(), head.end(), data.begin());
}

// Page 1: an 8-bit palette page of three strips (100, 200, 300 bytes) with
// two texts; page 2: a bilevel page of one strip.
std::vector<uint8_t> two_page_tiff(bool bigEndian) {
    TiffBuilder b(bigEndian);
    uint32_t s1 = b.add_data(bytes(100, 1)), s2 = b.add_data(bytes(200, 2)), s3 = b.add_data(bytes(300, 3));
    std::vector<uint16_t> map(768);
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 85);
    b.add_ifd()
        .longs(256, {20}).longs(257, {30}).shorts(258, {8}).shorts(259, {1}).shorts(262, {3})
        .ascii(270, "three strips").longs(273, {s1, s2, s3}).longs(278, {10})
        .longs(279, {100, 200, 300}).ascii(285, "first").shorts(320, map);
    uint32_t s4 = b.add_data(bytes(40, 9));
    b.add_ifd().longs(256, {32}).longs(257, {10}).shorts(258, {1}).shorts(259, {1}).shorts(262, {0})
        .longs(273, {s4}).longs(278, {10}).longs(279, {40});
    return b.build();
}

TEST(BindingCpp, ReadsEveryPageWithItsTextsAndPalette) {
    for (bool big : {false, true}) {
        TempDir dir;
        std::string path = dir.file("two.tif");
        write_file(path, two_page_tiff(big));
        qvtav::File f = qvtav::File::open(path);
        EXPECT_EQ(FILETYPE_TIFF, f.type());
        ASSERT_EQ(2u, f.page_count());

        std::vector<std::vector<uint8_t>> data;
        for (qvtav::Page page : f.pages()) data.push_back(page.read());
        std::vector<uint8_t> first = bytes(100, 1), s2 = bytes(200, 2), s3 = bytes(300, 3);
        first.insert(first.end(), s2.begin(), s2.end());
        first.insert(first.end(), s3.begin(), s3.end());
        ASSERT_EQ(2u, data.size());
        EXPECT_EQ(first, data[0]) << "big-endian " << big;
        // A single strip is read to the end of the file.
        EXPECT_EQ(f.page(2).sizes().dataBytes, data[1].size());
        EXPECT_TRUE(starts_with(data[1], bytes(40, 9)));

        qvtav::Page p1 = f.page(1);
        EXPECT_EQ(20u, p1.info().imageWidth);
        EXPECT_EQ(TAV_PHOTO_PALETTE, p1.info().photometric);
        EXPECT_EQ(600u, p1.sizes().dataBytes);
        auto texts = p1.texts();
        EXPECT_EQ("three strips", texts[TAV_TEXT_IMAGE_DESCRIPTION]);
        EXPECT_EQ("first", texts[TAV_TEXT_PAGE_NAME]);
        EXPECT_EQ("", texts[TAV_TEXT_ARTIST]);
        std::vector<uint8_t> map = p1.palette();
        ASSERT_EQ(1536u, map.size());
        // Delivered in host order whatever the file's order.
        EXPECT_EQ(85, map[2] | map[3] << 8);
        EXPECT_TRUE(f.page(2).palette().empty());
        EXPECT_EQ("", f.page(2).texts()[TAV_TEXT_PAGE_NAME]) << "page 2 has no texts of its own";
    }
}

TEST(BindingCpp, ErrorsCarryTheCodeAndItsMeaning) {
    TempDir dir;
    try {
        qvtav::File::open(dir.file("absent.tif"));
        FAIL() << "opened a missing file";
    } catch (const qvtav::Error& e) {
        EXPECT_TRUE(e.has_code());
        EXPECT_NE(0u, e.code());
        EXPECT_NE(std::string::npos, std::string(e.what()).find(std::to_string(e.code())));
    }
    std::string path = dir.file("two.tif");
    write_file(path, two_page_tiff(false));
    qvtav::File f = qvtav::File::open(path);
    try {
        f.page(3).info();
        FAIL() << "page 3 of 2";
    } catch (const qvtav::Error& e) {
        EXPECT_EQ(uint32_t(TAV_E_PAGE_RANGE), e.code());
        EXPECT_STREQ("page above the page count", e.meaning());
        EXPECT_EQ("xtavgeti", e.call());
    }
    // A failed page-information call leaves no page current; the next read
    // asks for the page again and succeeds.
    EXPECT_TRUE(starts_with(f.page(2).read(), bytes(40, 9)));
    qvtav::Error none("xtavdelpgs");
    EXPECT_FALSE(none.has_code());
    EXPECT_EQ(0u, none.code());
}

TEST(BindingCpp, XiffPageComesWholeInOneRead) {
#ifdef QVTAV_HAVE_LIBTIFF
    TempDir dir;
    std::string path = dir.file("page.xif");
    XiffPagePlan plan;
    plan.width = 301;
    plan.length = 203;
    plan.xRes = plan.yRes = {150, 1};
    write_file(path, xiff_file({plan, plan}));
    qvtav::File f = qvtav::File::open(path);
    ASSERT_EQ(uint32_t(FILETYPE_XIFF), f.type());
    ASSERT_EQ(2u, f.page_count());
    std::vector<uint8_t> rows = f.page(2).read();
    EXPECT_EQ(expected_rows(path, 1, 301, 203), rows);
    EXPECT_EQ(size_t(40) * 203, rows.size());  // 301 bits padded to 320
#else
    GTEST_SKIP() << "libtiff needed for XIFF files";
#endif
}

TEST(BindingCpp, WrittenPagesReadBackAndTheDestructorCloses) {
    TempDir dir;
    std::string path = dir.file("new.tif");
    {
        qvtav::File w = qvtav::File::create(path, FILETYPE_TIFF);
        w.put_page(1, wt::bilevel(64, 8), bytes(64, 5));
        w.put_page(2, wt::bilevel(32, 4), bytes(16, 6));
    }
    qvtav::File f = qvtav::File::open(path);
    ASSERT_EQ(2u, f.page_count());
    EXPECT_TRUE(starts_with(f.page(1).read(), bytes(64, 5)));
    EXPECT_TRUE(starts_with(f.page(2).read(), bytes(16, 6)));

    // AWD pages take rows and end as AWD pages end.
    std::string fax = dir.file("new.awd");
    PageInfo page{};
    page.imageWidth = 64;
    page.xResNum = page.yResNum = 200;
    page.xResDen = page.yResDen = 1;
    page.stripCount = TAV_AWD_PAIR(100, 100);
    {
        qvtav::File w = qvtav::File::create(fax, FILETYPE_AWD);
        w.put_page(1, page, bytes(80, 0x5A));
        w.put_page(2, page, bytes(40, 0x0F));
    }
    qvtav::File a = qvtav::File::open(fax);
    ASSERT_EQ(2u, a.page_count());
    EXPECT_TRUE(starts_with(a.page(1).read(), bytes(80, 0x5A)));
    EXPECT_TRUE(starts_with(a.page(2).read(), bytes(40, 0x0F)));
}

TEST(BindingCpp, UnwindingAbortsAFileBeingWritten) {
    TempDir dir;
    std::string path = dir.file("kept.tif");
    {
        qvtav::File w = qvtav::File::create(path, FILETYPE_TIFF);
        w.put_page(1, wt::bilevel(64, 8), bytes(64, 5));
    }
    const std::vector<uint8_t> before = read_file(path);
    EXPECT_THROW(
        {
            qvtav::File u = qvtav::File::open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
            u.put_page(2, wt::bilevel(64, 8), bytes(64, 7));
            throw std::runtime_error("caller gives up");
        },
        std::runtime_error);
    EXPECT_EQ(before, read_file(path)) << "the appended page is cut off again";

    std::string fresh = dir.file("fresh.tif");
    EXPECT_THROW(
        {
            qvtav::File w = qvtav::File::create(fresh, FILETYPE_TIFF);
            w.put_page(1, wt::bilevel(64, 8), bytes(64, 5));
            throw std::runtime_error("caller gives up");
        },
        std::runtime_error);
    // The aborted file holds no finished page.
    PathBuf p(fresh);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h > 0) {
        EXPECT_EQ(0u, pages);
        wt::close(h);
    }
}

TEST(BindingCpp, MovesHandOverTheHandleAndCloseOnce) {
    TempDir dir;
    std::string path = dir.file("two.tif");
    write_file(path, two_page_tiff(false));
    // More opens than the library has handles: every moved-from File gives
    // nothing back twice, every File gives its handle back once.
    for (int round = 0; round < 30; ++round) {
        qvtav::File a = qvtav::File::open(path);
        qvtav::File b = std::move(a);
        EXPECT_THROW(a.page_count(), qvtav::Error);
        qvtav::File c = qvtav::File::open(path);
        c = std::move(b);
        EXPECT_EQ(2u, c.page_count());
    }
    qvtav::File f = qvtav::File::open(path);
    f.close();
    EXPECT_THROW(f.page(1).info(), qvtav::Error);
}

}  // namespace
