// The page information call xtavgeti: its refusals, the records it fills
// and the JpegInfo block it hands out.
#include <cstring>

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
};

TEST_F(PageInfoCall, PageNumbersAndHandles) {
    OpenedFile f(pages({8, 16}));
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

TEST_F(PageInfoCall, AccessBitsOfTheHandle) {
    std::string path = pages({8});
    {  // one update handle at a time
        OpenedFile wo(path, TAV_OPEN_WRITE | TAV_OPEN_UPDATE);  // flags 9: write-only
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
    EXPECT_EQ(remaining, 4800u);
    EXPECT_EQ(buf[0], 'r');
    EXPECT_EQ(f.read(buf.data(), 4990, 50, &remaining, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(f.read(buf.data(), 0, 0x80000000u, &remaining, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E2BIG));
}

TEST_F(PageInfoCall, StripSizesUpToTheCapacity) {
    TiffBuilder b;
    std::vector<uint32_t> offs;
    for (uint32_t n : {100, 200, 300}) offs.push_back(b.add_data(std::vector<uint8_t>(n, 1)));
    b.add_ifd().longs(256, {80}).longs(257, {30}).longs(278, {10}).longs(273, offs)
        .longs(279, {100, 200, 300});
    OpenedFile f(save(b.build()));
    for (uint32_t cap : {4u, 3u, 2u, 0u}) {
        uint32_t sizes[4] = {9, 9, 9, 9};
        f.ps = PageSizes{0, 0, cap, 77, sizes};
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.ps.sizeCount, cap ? 3u : 77u);
        const uint32_t want[4] = {100, 200, 300, 9};
        for (uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(sizes[i], i < cap ? want[i] : 9u) << cap << " " << i;
        EXPECT_EQ(f.ps.dataBytes, 600u);
        EXPECT_EQ(f.ps.rawBytes, 300u);
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
            EXPECT_EQ(pi.comments, nullptr);
            EXPECT_EQ(pi.title, nullptr);
            EXPECT_EQ(pi.propertiesLength, 0u);
            continue;
        }
        ASSERT_NE(pi.title, nullptr);
        EXPECT_STREQ(pi.title, "T1");
        EXPECT_STREQ(pi.author, "Ann");
        EXPECT_STREQ(pi.subject, "S");
        EXPECT_STREQ(pi.keywords, "k1 k2");
        EXPECT_STREQ(pi.comments, "none");
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
    // A fresh PageInfo gets a block of its own.
    PageInfo other{};
    ASSERT_EQ(f.info(1, other, f.ps), 0u);
    ASSERT_NE(other.compressionInfo.jpeg, nullptr);
    EXPECT_EQ(other.compressionInfo.jpeg->headerLength, 8u);
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

// Pages in the page index scheme: each a TIFF stream of its own at a base,
// its offsets relative to that base.
TEST_F(PageInfoCall, PageIndexOffsetsAreRebased) {
    TiffBuilder outer;
    uint32_t dummy = outer.add_data(std::vector<uint8_t>(4, 0));
    outer.add_ifd().longs(256, {8}).longs(257, {1}).longs(273, {dummy}).longs(279, {1}).longs(32935, {0});
    std::vector<std::vector<uint8_t>> streams;
    for (uint32_t p = 0; p < 2; ++p) {
        TiffBuilder page;
        std::vector<uint8_t> strip(60 + 10 * p);
        for (size_t i = 0; i < strip.size(); ++i) strip[i] = uint8_t(p * 100 + i);
        uint32_t off = page.add_data(strip);
        page.add_ifd().longs(256, {8}).longs(257, {uint32_t(strip.size())}).longs(273, {off})
            .longs(279, {uint32_t(strip.size())}).ascii(270, "page text " + std::to_string(p))
            .rationals(282, {{100 + p, 1}});
        streams.push_back(page.build());
    }
    OpenedFile f(save(page_index_file(outer.build(), false, streams).bytes));
    ASSERT_EQ(f.pages, 2u) << f.error;
    for (uint16_t p = 2; p >= 1; --p) {
        TextTagBuf tags[9] = {};
        f.pi.textTags = tags;
        ASSERT_EQ(f.info(p), 0u) << p;
        EXPECT_EQ(f.pi.xResNum, 100u + p - 1);
        EXPECT_EQ(f.pi.imageLength, 60u + 10 * (p - 1));
        char text[32] = {};
        tags[1].buffer = text;
        ASSERT_EQ(f.data(), 0u);
        EXPECT_EQ(text, "page text " + std::to_string(p - 1));
        uint32_t err = 0;
        auto s = f.stream(p, f.ps.dataBytes, 17, &err);
        ASSERT_EQ(err, 0u);
        ASSERT_GE(s.size(), f.pi.imageLength);
        for (size_t i = 0; i < f.pi.imageLength; ++i) ASSERT_EQ(s[i], uint8_t((p - 1) * 100 + i));
    }
}

}  // namespace
