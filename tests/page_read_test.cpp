// Page data reading (Part 3.4): xtavread over TIFF strips in normal and
// by-strip mode, and options 12, 13 and 23.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

namespace {

class PageRead : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<uint8_t> file;
    uint32_t offs[3] = {};
    // Strips of 100, 200 and 300 bytes; strip k holds bytes 10k + i % 10.
    std::string three_strips(bool mm, bool shortCounts) {
        TiffBuilder b(mm);
        const uint32_t sizes[3] = {100, 200, 300};
        for (int k = 0; k < 3; ++k) {
            std::vector<uint8_t> s(sizes[k]);
            for (uint32_t i = 0; i < sizes[k]; ++i) s[i] = uint8_t(10 * k + i % 10);
            offs[k] = b.add_data(s);
        }
        auto& d = b.add_ifd();
        d.longs(256, {80}).longs(257, {30}).longs(278, {10});
        d.longs(273, {offs[0], offs[1], offs[2]});
        if (shortCounts) d.shorts(279, {100, 200, 300});
        else d.longs(279, {100, 200, 300});
        file = b.build();
        std::string path = dir.file(std::string("s") + (mm ? "m" : "i") + ".tif");
        write_file(path, file);
        return path;
    }
    static uint8_t at(uint32_t pos) {  // the stream byte at pos
        if (pos < 100) return uint8_t(pos % 10);
        if (pos < 300) return uint8_t(10 + (pos - 100) % 10);
        return uint8_t(20 + (pos - 300) % 10);
    }
};

TEST_F(PageRead, StartInTheSecondStrip) {
    for (bool mm : {false, true}) {
        OpenedFile f(three_strips(mm, mm));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        ASSERT_EQ(ps.dataBytes, 600u);
        std::vector<uint8_t> buf(200);
        uint32_t remaining = 0, err = 0;
        ASSERT_EQ(f.read(buf.data(), 150, 200, &remaining, 1, &err), 200);
        EXPECT_EQ(remaining, 250u);
        for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(150 + i)) << i;
    }
}

TEST_F(PageRead, BeyondTheStrips) {
    OpenedFile f(three_strips(false, false));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    std::vector<uint8_t> buf(100, 0xEE);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 600, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OFFSET));
    EXPECT_EQ(f.read(buf.data(), 601, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OFFSET));
    // 10 bytes delivered, then the strips run out.
    EXPECT_EQ(f.read(buf.data(), 590, 100, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_SHORT_STRIPS));
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(buf[i], at(590 + i));
    EXPECT_EQ(buf[10], 0xEE);
    EXPECT_EQ(f.read(buf.data(), 0, 0, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    std::vector<uint8_t> big(700);
    EXPECT_EQ(f.read(big.data(), 0, 601, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(f.read(big.data(), 0, 0x80000000u, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E2BIG));
    EXPECT_EQ(f.read(big.data(), 0, 10, &remaining, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EINVAL));
    EXPECT_EQ(f.read(big.data(), 0, 10, &remaining, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
    // The current page stays current.
    EXPECT_EQ(f.read(big.data(), 0, 600, &remaining, 1, &err), 600);
    EXPECT_EQ(remaining, 0u);
}

TEST_F(PageRead, PiecesOfSeveralSizes) {
    OpenedFile f(three_strips(true, false));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    for (uint32_t piece : {1u, 7u, 99u, 100u, 101u, 256u, 600u}) {
        uint32_t err = 0;
        auto s = f.stream(1, 600, piece, &err);
        ASSERT_EQ(err, 0u) << piece;
        for (uint32_t i = 0; i < 600; ++i) ASSERT_EQ(s[i], at(i)) << piece << " " << i;
    }
}

TEST_F(PageRead, ByStripMode) {
    OpenedFile f(three_strips(false, true));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_READ, nullptr), 0u);
    std::vector<uint8_t> buf(500);
    uint32_t remaining = 9, err = 0;
    ASSERT_EQ(f.read(buf.data(), 0, 500, &remaining, 2, &err), 200);
    EXPECT_EQ(remaining, 0u);
    for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(100 + i));
    ASSERT_EQ(f.read(buf.data(), 250, 20, &remaining, 3, &err), 20);
    EXPECT_EQ(remaining, 30u);
    EXPECT_EQ(buf[0], at(550));
    ASSERT_EQ(f.read(buf.data(), 0, 100, &remaining, 1, &err), 100);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 4, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE_RANGE));
    EXPECT_EQ(f.read(buf.data(), 100, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OFFSET));
    // Cleared again: the page argument is a page.
    ASSERT_EQ(f.option(0, TAV_OPT_STRIP_READ, nullptr), 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
}

TEST_F(PageRead, CountOptionsOnShortAndLongCounts) {
    for (bool shortCounts : {true, false}) {
        for (bool mm : {false, true}) {
            OpenedFile f(three_strips(mm, shortCounts));
            PageInfo pi = fresh_info();
            PageSizes ps = fresh_sizes();
            ASSERT_EQ(f.info(1, pi, ps), 0u);
            uint16_t size = 0;
            ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
            EXPECT_EQ(size, shortCounts ? 2u : 4u);
            uint8_t raw13[16], raw23[16];
            std::memset(raw13, 0xAB, sizeof raw13);
            std::memset(raw23, 0xAB, sizeof raw23);
            TavStripCounts r13{3, raw13}, r23{3, raw23};
            ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r13), 0u);
            ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &r23), 0u);
            const uint32_t want[3] = {100, 200, 300};
            for (int i = 0; i < 3; ++i) {
                uint32_t v13 = 0, v23 = 0;
                std::memcpy(&v13, raw13 + i * size, size);
                std::memcpy(&v23, raw23 + i * size, size);
                EXPECT_EQ(v13, want[i]);
                EXPECT_EQ(v23, want[i]);
            }
            EXPECT_EQ(raw13[3 * size], 0xAB);  // nothing beyond the entries
            // More entries asked than the page has: only the page's.
            TavStripCounts r5{5, raw13};
            std::memset(raw13, 0xAB, sizeof raw13);
            ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r5), 0u);
            EXPECT_EQ(raw13[3 * size], 0xAB);
            TavStripCounts none{3, nullptr};
            EXPECT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &none), uint32_t(TAV_E_OPTION));
        }
    }
}

TEST_F(PageRead, SingleStripStoredCounts) {
    // SHORT and LONG single counts smaller than the rest of the file.
    for (bool shortCount : {true, false}) {
        TiffBuilder b;
        uint32_t off = b.add_data(std::vector<uint8_t>(50, 4));
        auto& d = b.add_ifd();
        d.longs(256, {8}).longs(257, {10}).longs(273, {off});
        if (shortCount) d.shorts(279, {40});
        else d.longs(279, {40});
        auto bytes = b.build();
        std::string path = dir.file(shortCount ? "ss.tif" : "sl.tif");
        write_file(path, bytes);
        OpenedFile f(path);
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        uint32_t rest = uint32_t(bytes.size()) - off;
        EXPECT_EQ(ps.dataBytes, rest);
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        EXPECT_EQ(size, shortCount ? 2u : 4u);
        uint32_t v13 = 0, v23 = 0;
        TavStripCounts r13{1, &v13}, r23{1, &v23};
        ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r13), 0u);
        ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &r23), 0u);
        EXPECT_EQ(v13, rest);
        EXPECT_EQ(v23, 40u);
        // The stream is the rest of the file.
        uint32_t err = 0;
        auto s = f.stream(1, rest, 33, &err);
        ASSERT_EQ(err, 0u);
        EXPECT_EQ(std::memcmp(s.data(), bytes.data() + off, rest), 0);
        // By strip, the stored count reads exactly the strip.
        ASSERT_EQ(f.option(1, TAV_OPT_STRIP_READ, nullptr), 0u);
        std::vector<uint8_t> buf(40);
        uint32_t remaining = 0;
        ASSERT_EQ(f.read(buf.data(), 0, v23, &remaining, 1, &err), 40);
        EXPECT_EQ(buf, std::vector<uint8_t>(40, 4));
    }
}

TEST_F(PageRead, OptionsOnOtherTypes) {
    std::string path = dir.file("raw.bin");
    write_file(path, std::string(100, 'x'));
    OpenedFile f(path);
    ASSERT_EQ(f.type, FILETYPE_RAW);
    uint16_t size = 77;
    ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
    EXPECT_EQ(size, 77u);
    uint32_t v = 5;
    TavStripCounts r{1, &v};
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r), 0u);
    EXPECT_EQ(v, 5u);
}

}  // namespace
