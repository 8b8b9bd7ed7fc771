// Page data reading: xtavread over TIFF strips in normal and by-strip mode,
// and the byte-count options 12, 13 and 23.
#include <cstring>

#include "page_test_util.h"

namespace {

struct PageRead : TiffFileTest {
    // Strips of 100, 200 and 300 bytes; the stream byte at pos is at(pos).
    std::string three_strips(bool mm, bool shortCounts) {
        TiffBuilder b(mm);
        std::vector<uint32_t> offs;
        for (uint32_t k = 0, n = 100; k < 3; n += 100, ++k) {
            std::vector<uint8_t> s(n);
            for (uint32_t i = 0; i < n; ++i) s[i] = uint8_t(10 * k + i % 10);
            offs.push_back(b.add_data(s));
        }
        auto& d = b.add_ifd().longs(256, {80}).longs(257, {30}).longs(278, {10}).longs(273, offs);
        if (shortCounts) d.shorts(279, {100, 200, 300});
        else d.longs(279, {100, 200, 300});
        return save(b.build());
    }
    static uint8_t at(uint32_t pos) { return uint8_t(pos < 100 ? pos % 10 : pos < 300 ? 10 + pos % 10 : 20 + pos % 10); }
};

TEST_F(PageRead, AnyStartInPiecesOfAnySize) {
    for (bool mm : {false, true}) {
        OpenedFile f(three_strips(mm, mm));
        ASSERT_EQ(f.info(1), 0u);
        ASSERT_EQ(f.ps.dataBytes, 600u);
        std::vector<uint8_t> buf(200);
        uint32_t remaining = 0, err = 0;
        ASSERT_EQ(f.read(buf.data(), 150, 200, &remaining, 1, &err), 200);  // from inside strip 1
        EXPECT_EQ(remaining, 250u);
        for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(150 + i)) << i;
        for (uint32_t piece : {1u, 7u, 99u, 100u, 101u, 256u, 600u}) {
            auto s = f.stream(1, 600, piece, &err);
            ASSERT_EQ(err, 0u) << piece;
            for (uint32_t i = 0; i < 600; ++i) ASSERT_EQ(s[i], at(i)) << piece << " " << i;
        }
    }
}

TEST_F(PageRead, Refusals) {
    OpenedFile f(three_strips(false, false));
    ASSERT_EQ(f.info(1), 0u);
    std::vector<uint8_t> buf(700, 0xEE);
    uint32_t remaining = 0, err = 0;
    struct Case { uint32_t start, count; uint16_t page; uint32_t err; } cases[] = {
        {600, 10, 1, TAV_E_OFFSET}, {601, 10, 1, TAV_E_OFFSET}, {590, 100, 1, TAV_E_SHORT_STRIPS},
        {0, 0, 1, TAV_E_COUNT}, {0, 601, 1, TAV_E_COUNT}, {0, 0x80000000u, 1, TAV_E2BIG},
        {0, 10, 0, TAV_EINVAL}, {0, 10, 2, TAV_E_PAGE}};
    for (const Case& c : cases) {
        EXPECT_EQ(f.read(buf.data(), c.start, c.count, &remaining, c.page, &err), -1) << c.start;
        EXPECT_EQ(err, c.err) << c.start << " " << c.count;
    }
    // From 590 for 100: the 10 bytes there were delivered before the strips ran out.
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(buf[i], at(590 + i));
    EXPECT_EQ(buf[10], 0xEE);
    EXPECT_EQ(f.read(buf.data(), 0, 600, &remaining, 1, &err), 600);  // still current
    EXPECT_EQ(remaining, 0u);
}

TEST_F(PageRead, ByStripMode) {
    OpenedFile f(three_strips(false, true));
    ASSERT_EQ(f.info(1), 0u);
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_READ, nullptr), 0u);
    std::vector<uint8_t> buf(500);
    uint32_t remaining = 9, err = 0;
    ASSERT_EQ(f.read(buf.data(), 0, 500, &remaining, 2, &err), 200);
    EXPECT_EQ(remaining, 0u);
    for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(100 + i));
    ASSERT_EQ(f.read(buf.data(), 250, 20, &remaining, 3, &err), 20);
    EXPECT_EQ(remaining, 30u);
    EXPECT_EQ(buf[0], at(550));
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 4, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE_RANGE));  // no strip 4
    EXPECT_EQ(f.read(buf.data(), 100, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OFFSET));
    // Cleared again: the page argument is a page.
    ASSERT_EQ(f.option(0, TAV_OPT_STRIP_READ, nullptr), 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
}

TEST_F(PageRead, CountOptionsOnShortAndLongCounts) {
    for (int k = 0; k < 4; ++k) {
        const bool shortCounts = k & 1, mm = k & 2;
        OpenedFile f(three_strips(mm, shortCounts));
        ASSERT_EQ(f.info(1), 0u);
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        EXPECT_EQ(size, shortCounts ? 2u : 4u);
        for (uint32_t opt : {TAV_OPT_STRIP_COUNTS, TAV_OPT_STORED_COUNTS}) {
            uint8_t raw[24];
            std::memset(raw, 0xAB, sizeof raw);
            TavStripCounts rec{5, raw};  // more asked than the page has
            ASSERT_EQ(f.option(1, opt, &rec), 0u);
            for (uint32_t i = 0; i < 3; ++i) {
                uint32_t v = 0;
                std::memcpy(&v, raw + i * size, size);
                EXPECT_EQ(v, 100 * (i + 1)) << opt << " " << k;
            }
            EXPECT_EQ(raw[3 * size], 0xAB);  // nothing beyond the page's entries
        }
        TavStripCounts none{3, nullptr};
        EXPECT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &none), uint32_t(TAV_E_OPTION));
    }
}

// One strip whose stored count is smaller than the rest of the file: the
// reader's count (option 13) is the rest, the stored one (option 23) is kept.
TEST_F(PageRead, SingleStripRunsToTheEndOfTheFile) {
    for (bool shortCount : {true, false}) {
        TiffBuilder b;
        uint32_t off = b.add_data(std::vector<uint8_t>(50, 4));
        auto& d = b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off});
        if (shortCount) d.shorts(279, {40});
        else d.longs(279, {40});
        auto bytes = b.build();
        OpenedFile f(save(bytes));
        uint32_t sizes[2] = {};
        f.ps = PageSizes{0, 0, 2, 0, sizes};
        ASSERT_EQ(f.info(1), 0u);
        const uint32_t rest = uint32_t(bytes.size()) - off;
        EXPECT_EQ(f.ps.dataBytes, rest);
        EXPECT_EQ(f.pi.maxStripSize, rest);
        EXPECT_EQ(sizes[0], rest);
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        EXPECT_EQ(size, shortCount ? 2u : 4u);
        uint32_t v13 = 0, v23 = 0;
        TavStripCounts r13{1, &v13}, r23{1, &v23};
        ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r13), 0u);
        ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &r23), 0u);
        EXPECT_EQ(v13, rest);
        EXPECT_EQ(v23, 40u);
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
    // Raw files have no counts: the options leave the caller's values.
    write_file(dir.file("raw.bin"), std::string(100, 'x'));
    OpenedFile raw(dir.file("raw.bin"));
    uint16_t size = 77;
    uint32_t v = 5;
    TavStripCounts r{1, &v};
    ASSERT_EQ(raw.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
    ASSERT_EQ(raw.option(1, TAV_OPT_STRIP_COUNTS, &r), 0u);
    EXPECT_EQ(size * 10 + v, 775u);
}

}  // namespace
