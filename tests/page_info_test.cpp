// Page information and page data: xtavgeti's refusals and the records it
// fills, xtavread over TIFF strips in normal and by-strip mode, and the
// byte-count options 12, 13 and 23.
#include <cstring>

#include "fileio/mem.h"
#include "page_test_util.h"

namespace {

struct PageInfoCall : TiffFileTest {
    // Pages of the given widths, one strip of 100 bytes each.
    std::string pages(std::vector<uint32_t> widths) {
        TiffBuilder b;
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
        for (uint32_t w : widths)
            b.add_ifd().longs(256, {w}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        return save(b.build());
    }
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

TEST_F(PageInfoCall, PageNumbersAndHandles) {
    std::string path = pages({8, 16});
    {
        OpenedFile f(path);
        ASSERT_EQ(f.pages, 2u);
        EXPECT_EQ(f.info(0), uint32_t(TAV_E_PAGE));
        EXPECT_EQ(f.pi.infoKind, 4u);  // set at once, even on failure
        f.ps.dataBytes = f.ps.rawBytes = 5;
        EXPECT_EQ(f.info(3), uint32_t(TAV_E_PAGE_RANGE));
        EXPECT_EQ(f.ps.dataBytes + f.ps.rawBytes, 0u);
        uint32_t last = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_ERROR, &last), 0u);
        EXPECT_EQ(last, uint32_t(TAV_E_PAGE_RANGE));
        ASSERT_EQ(f.info(2), 0u);
        EXPECT_EQ(f.pi.imageWidth, 16u);
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.imageWidth, 8u);
    }
    {  // flags 9: write-only (one update handle at a time)
        OpenedFile wo(path, TAV_OPEN_WRITE | TAV_OPEN_UPDATE);
        ASSERT_TRUE(wo.ok()) << wo.error;
        wo.ps.dataBytes = 9;
        EXPECT_EQ(wo.info(1), uint32_t(TAV_EACCES));
        EXPECT_EQ(wo.ps.dataBytes, 0u);
        uint8_t buf[10];
        uint32_t remaining = 0, err = 0;
        EXPECT_EQ(wo.read(buf, 0, 10, &remaining, 1, &err), -1);
        EXPECT_EQ(err, uint32_t(TAV_EACCES));
    }
    OpenedFile rw(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
    EXPECT_EQ(rw.info(1), 0u);
}

TEST_F(PageInfoCall, RawFile) {
    std::string path = dir.file("raw.bin");
    write_file(path, std::string(5000, 'r'));
    OpenedFile f(path);
    ASSERT_EQ(f.type, FILETYPE_RAW);
    f.ps.dataBytes = 1234;
    EXPECT_EQ(f.info(1), uint32_t(TAV_E_RAW_FILE));
    EXPECT_EQ(f.pi.infoKind, 4u);
    EXPECT_EQ(f.ps.rawBytes, 1234u);
    // The bytes as they stand, page argument ignored.
    std::vector<uint8_t> buf(100);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 4950, 50, &remaining, 0, &err), 50);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(f.read(buf.data(), 100, 100, &remaining, 7, &err), 100);
    EXPECT_EQ(remaining * 1000 + buf[0], 4800u * 1000 + 'r');
    EXPECT_EQ(f.read(buf.data(), 4990, 50, &remaining, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(f.read(buf.data(), 0, 0x80000000u, &remaining, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E2BIG));
    // No byte counts: options 12 and 13 leave the caller's values.
    uint16_t size = 77;
    uint32_t v = 5;
    TavStripCounts r{1, &v};
    ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r), 0u);
    EXPECT_EQ(size * 10 + v, 775u);
}

TEST_F(PageInfoCall, StripSizesUpToTheCapacity) {
    OpenedFile f(three_strips(false, false));
    for (uint32_t cap : {4u, 3u, 2u, 0u}) {
        std::vector<uint32_t> sizes(4, 9);
        f.ps = PageSizes{0, 0, cap, 77, sizes.data()};
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.ps.sizeCount, cap ? 3u : 77u);
        std::vector<uint32_t> want = {100, 200, 300, 9};
        for (uint32_t i = cap; i < 4; ++i) want[i] = 9;
        EXPECT_EQ(sizes, want) << cap;
        EXPECT_EQ(f.ps.dataBytes * 1000 + f.ps.rawBytes, 600u * 1000 + 300);
    }
}

TEST_F(PageInfoCall, RowBytes) {
    struct Case { uint16_t width, bits, samples, rowBytes; } cases[] = {
        {1728, 1, 1, 216}, {1727, 1, 1, 216}, {1700, 1, 1, 213}, {100, 8, 3, 300}, {3, 4, 1, 2}};
    for (const Case& c : cases) {
        OpenedFile f(one_page(false, [&](TiffBuilder::Ifd& d) {
            d.remove(256).remove(257).longs(256, {c.width}).longs(257, {2200})
                .shorts(258, std::vector<uint16_t>(c.samples, c.bits)).shorts(277, {c.samples});
            if (c.samples == 3) d.shorts(262, {2});
        }));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.ps.rawBytes, c.rowBytes * 2200u) << c.width;
    }
}

TEST_F(PageInfoCall, PropertyBlock) {
    static const char kFull[] = "Title:T1\0Author:Ann\0Subject:S\0Keywords:k1 k2\0Comments:none";
    const std::string full(kFull, sizeof kFull);  // with the final NUL
    // Complete; without Comments; the last string without its NUL.
    for (const std::string& text : {full, full.substr(0, full.find("Comments")), full.substr(0, full.size() - 1)}) {
        TiffBuilder b;
        b.add_property_block(text);
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
        b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        OpenedFile f(save(b.build()));
        ASSERT_EQ(f.info(1), 0u);
        const PageInfo& pi = f.pi;
        if (text != full) {
            EXPECT_TRUE(!pi.comments && !pi.title && !pi.propertiesLength);
            continue;
        }
        ASSERT_NE(pi.title, nullptr);
        EXPECT_EQ(std::vector<std::string>({pi.title, pi.author, pi.subject, pi.keywords, pi.comments}),
                  std::vector<std::string>({"T1", "Ann", "S", "k1 k2", "none"}));
        EXPECT_EQ(pi.propertiesLength, uint32_t(full.size()));
    }
}

TEST_F(PageInfoCall, OneJpegInfoForOnePageInfo) {
    std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 1, 2, 0xFF, 0xDA, 0x00, 0x04, 0, 0};
    j.resize(64, 5);
    TiffBuilder b;
    uint32_t io[2] = {b.add_data(j), b.add_data(j)};
    for (uint32_t at : io)
        b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(258, {8}).shorts(259, {6})
            .shorts(262, {1}).longs(273, {at + 8}).longs(279, {56}).shorts(512, {1}).longs(513, {at});
    OpenedFile f(save(b.build()));
    ASSERT_EQ(f.info(1), 0u);
    ASSERT_EQ(f.pi.compression, TAV_COMP_JPEG_INFO);
    JpegInfo* first = f.pi.compressionInfo.jpeg;
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(f.info(uint16_t(2 - i % 2)), 0u);
        ASSERT_EQ(f.pi.compressionInfo.jpeg, first);
        ASSERT_EQ(first->interchangeOffset, io[1 - i % 2]);
        ASSERT_EQ(first->headerLength, 8u);
    }
    // A pointer the library did not hand out is never followed.
    JpegInfo mine{};
    mine.headerLength = 12345;
    PageInfo bogus{};
    bogus.compression = TAV_COMP_JPEG_INFO;
    bogus.compressionInfo.jpeg = &mine;
    ASSERT_EQ(f.info(2, bogus, f.ps), 0u);
    EXPECT_NE(bogus.compressionInfo.jpeg, &mine);
    EXPECT_EQ(mine.headerLength, 12345u);
}

// A JpegInfo handed back to a call that fails while finding its page (here:
// no directory of the subfile type asked for) stays the handle's: it is
// recycled or freed later, never lost from the memory table.
TEST_F(PageInfoCall, JpegInfoHandedBackToAFailedCallIsNotLost) {
    std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 1, 2, 0xFF, 0xDA, 0x00, 0x04, 0, 0};
    j.resize(64, 5);
    TiffBuilder b;
    uint32_t at = b.add_data(j);
    b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(258, {8}).shorts(259, {6})
        .shorts(262, {1}).longs(273, {at + 8}).longs(279, {56}).shorts(512, {1}).longs(513, {at});
    OpenedFile f(save(b.build()));
    ASSERT_EQ(f.info(1), 0u);
    const int blocks = mem_live_blocks();  // the handle's tables and one JpegInfo
    for (int i = 0; i < 700; ++i) {
        f.pi.subfileType = 4;
        ASSERT_EQ(f.info(1), uint32_t(TAV_E_NO_SUBFILE)) << i;
        f.pi.subfileType = 0;
        ASSERT_EQ(f.info(1), 0u) << i;
        ASSERT_EQ(f.pi.compression, TAV_COMP_JPEG_INFO);
        ASSERT_EQ(mem_live_blocks(), blocks) << i;
    }
}

TEST_F(PageInfoCall, ReadAnyStartInPiecesOfAnySize) {
    for (bool mm : {false, true}) {
        OpenedFile f(three_strips(mm, mm));
        ASSERT_EQ(f.info(1), 0u);
        ASSERT_EQ(f.ps.dataBytes, 600u);
        std::vector<uint8_t> buf(200);
        uint32_t remaining = 0, err = 0;
        ASSERT_EQ(f.read(buf.data(), 150, 200, &remaining, 1, &err), 200);  // from inside strip 1
        EXPECT_EQ(remaining, 250u);
        for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(150 + i)) << i;
        for (uint32_t piece : {1u, 7u, 100u, 101u, 600u}) {
            auto s = f.stream(1, 600, piece, &err);
            ASSERT_EQ(err, 0u) << piece;
            for (uint32_t i = 0; i < 600; ++i) ASSERT_EQ(s[i], at(i)) << piece << " " << i;
        }
    }
}

TEST_F(PageInfoCall, ReadRefusals) {
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

TEST_F(PageInfoCall, ReadByStrip) {
    OpenedFile f(three_strips(false, true));
    ASSERT_EQ(f.info(1), 0u);
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_READ, nullptr), 0u);
    std::vector<uint8_t> buf(500);
    uint32_t remaining = 9, err = 0;
    ASSERT_EQ(f.read(buf.data(), 0, 500, &remaining, 2, &err), 200);
    EXPECT_EQ(remaining, 0u);
    for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(buf[i], at(100 + i));
    ASSERT_EQ(f.read(buf.data(), 250, 20, &remaining, 3, &err), 20);
    EXPECT_EQ(remaining * 1000 + buf[0], 30u * 1000 + at(550));
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 4, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE_RANGE));  // no strip 4
    EXPECT_EQ(f.read(buf.data(), 100, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OFFSET));
    // Cleared again: the page argument is a page.
    ASSERT_EQ(f.option(0, TAV_OPT_STRIP_READ, nullptr), 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
}

TEST_F(PageInfoCall, CountOptionsOnShortAndLongCounts) {
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
TEST_F(PageInfoCall, SingleStripRunsToTheEndOfTheFile) {
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
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        uint32_t v13 = 0, v23 = 0;
        TavStripCounts r13{1, &v13}, r23{1, &v23};
        ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &r13), 0u);
        ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &r23), 0u);
        EXPECT_EQ(std::vector<uint32_t>({f.ps.dataBytes, f.pi.maxStripSize, sizes[0], v13, v23, size}),
                  std::vector<uint32_t>({rest, rest, rest, rest, 40, shortCount ? 2u : 4u}));
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

}  // namespace
