// The page information call (Part 3.3): xtavgeti's steps, records and
// refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

namespace {

class PageInfoCall : public ::testing::Test {
protected:
    TempDir dir;
    int n = 0;
    std::string save(const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("p" + std::to_string(n++) + ".tif");
        write_file(path, bytes);
        return path;
    }
    // Pages of the given widths, one strip of 100 bytes each.
    std::string pages(std::vector<uint32_t> widths, bool mm = false) {
        TiffBuilder b(mm);
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
        for (uint32_t w : widths)
            b.add_ifd().longs(256, {w}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        return save(b.build());
    }
};

TEST_F(PageInfoCall, PageZeroAndBeyondTheLast) {
    OpenedFile f(pages({8, 16}));
    ASSERT_TRUE(f.ok());
    ASSERT_EQ(f.pages, 2u);
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    EXPECT_EQ(f.info(0, pi, ps), uint32_t(TAV_E_PAGE));
    EXPECT_EQ(pi.infoKind, 4u);  // set at once, even on failure
    ps.dataBytes = ps.rawBytes = 5;
    EXPECT_EQ(f.info(3, pi, ps), uint32_t(TAV_E_PAGE_RANGE));
    EXPECT_EQ(ps.dataBytes, 0u);
    EXPECT_EQ(ps.rawBytes, 0u);
    uint32_t last = 0;
    ASSERT_EQ(f.option(1, TAV_OPT_ERROR, &last), 0u);
    EXPECT_EQ(last, uint32_t(TAV_E_PAGE_RANGE));
    ASSERT_EQ(f.info(2, pi, ps), 0u);
    EXPECT_EQ(pi.imageWidth, 16u);
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.imageWidth, 8u);
}

TEST_F(PageInfoCall, FailureLeavesTheCallersRecord) {
    TiffBuilder b;
    uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
    b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100});
    b.add_ifd().longs(256, {8}).longs(273, {off}).longs(279, {100});  // no ImageLength
    OpenedFile f(save(b.build()));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    PageInfo before = pi;
    EXPECT_EQ(f.info(2, pi, ps), uint32_t(TAV_E_NO_LENGTH));
    EXPECT_EQ(std::memcmp(&before, &pi, sizeof pi), 0);
    // The page that was current can no longer be read: its tables are gone.
    std::vector<uint8_t> buf(10);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
}

TEST_F(PageInfoCall, WriteOnlyHandleIsRefused) {
    std::string path = pages({8});
    OpenedFile f(path, TAV_OPEN_WRITE | TAV_OPEN_UPDATE);
    ASSERT_TRUE(f.ok()) << f.error;
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ps.dataBytes = 9;
    EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_EACCES));
    EXPECT_EQ(ps.dataBytes, 0u);
    std::vector<uint8_t> buf(10);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EACCES));
}

TEST_F(PageInfoCall, ReadWriteHandleReads) {
    std::string path = pages({8});
    OpenedFile f(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
    ASSERT_TRUE(f.ok()) << f.error;
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    EXPECT_EQ(f.info(1, pi, ps), 0u);
}

TEST_F(PageInfoCall, RawFileHasNoPageInformation) {
    std::string path = dir.file("raw.bin");
    write_file(path, std::string(5000, 'r'));
    OpenedFile f(path);
    ASSERT_TRUE(f.ok());
    ASSERT_EQ(f.type, FILETYPE_RAW);
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ps.dataBytes = 1234;
    ps.rawBytes = 1;
    EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_RAW_FILE));
    EXPECT_EQ(pi.infoKind, 4u);
    EXPECT_EQ(ps.rawBytes, 1234u);
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
    uint32_t o1 = b.add_data(std::vector<uint8_t>(100, 1));
    uint32_t o2 = b.add_data(std::vector<uint8_t>(200, 2));
    uint32_t o3 = b.add_data(std::vector<uint8_t>(300, 3));
    b.add_ifd().longs(256, {80}).longs(257, {30}).longs(278, {10}).longs(273, {o1, o2, o3})
        .longs(279, {100, 200, 300});
    OpenedFile f(save(b.build()));
    for (uint32_t cap : {4u, 3u, 2u, 0u}) {
        uint32_t sizes[4] = {9, 9, 9, 9};
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ps.sizeCapacity = cap;
        ps.sizes = sizes;
        ps.sizeCount = 77;
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(ps.sizeCount, cap ? 3u : 77u);
        const uint32_t want[4] = {100, 200, 300, 9};
        for (uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(sizes[i], i < cap && i < 3 ? want[i] : 9u) << cap << " " << i;
        EXPECT_EQ(ps.dataBytes, 600u);
        EXPECT_EQ(ps.rawBytes, 300u);
    }
}

TEST_F(PageInfoCall, RowBytes) {
    struct Case {
        uint32_t width, bits, samples, rowBytes;
    } cases[] = {{1728, 1, 1, 216}, {1727, 1, 1, 216}, {1700, 1, 1, 213}, {100, 8, 3, 300},
                 {3, 4, 1, 2}};
    for (const Case& c : cases) {
        TiffBuilder b;
        uint32_t off = b.add_data(std::vector<uint8_t>(16, 1));
        auto& d = b.add_ifd();
        d.longs(256, {c.width}).longs(257, {2200}).longs(273, {off}).longs(279, {16})
            .shorts(277, {uint16_t(c.samples)});
        if (c.samples == 3) d.shorts(258, {8, 8, 8}).shorts(262, {2});
        else d.shorts(258, {uint16_t(c.bits)});
        OpenedFile f(save(b.build()));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(ps.rawBytes, c.rowBytes * 2200) << c.width;
    }
}

TEST_F(PageInfoCall, PropertyBlock) {
    auto file = [&](const std::string& text) {
        TiffBuilder b;
        b.add_property_block(text);
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
        b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        return save(b.build());
    };
    static const char kFull[] = "Title:T1\0Author:Ann\0Subject:S\0Keywords:k1 k2\0Comments:none";
    std::string full(kFull, sizeof kFull);  // with the final NUL
    {
        OpenedFile f(file(full));
        ASSERT_TRUE(f.ok()) << f.error;
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        ASSERT_NE(pi.title, nullptr);
        EXPECT_STREQ(pi.title, "T1");
        EXPECT_STREQ(pi.author, "Ann");
        EXPECT_STREQ(pi.subject, "S");
        EXPECT_STREQ(pi.keywords, "k1 k2");
        EXPECT_STREQ(pi.comments, "none");
        EXPECT_EQ(pi.propertiesLength, uint32_t(full.size()));
    }
    {
        static const char kPart[] = "Title:T1\0Author:Ann\0Subject:S\0Keywords:k1 k2";
        std::string noComments(kPart, sizeof kPart);
        OpenedFile f(file(noComments));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.title, nullptr);
        EXPECT_EQ(pi.author, nullptr);
        EXPECT_EQ(pi.subject, nullptr);
        EXPECT_EQ(pi.keywords, nullptr);
        EXPECT_EQ(pi.comments, nullptr);
        EXPECT_EQ(pi.propertiesLength, 0u);
    }
    {  // The last string without its NUL.
        std::string cut = full.substr(0, full.size() - 1);
        OpenedFile f(file(cut));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.comments, nullptr);
    }
}

// Two old-style JPEG pages sharing one stream layout.
std::string two_jpeg_pages(TempDir& dir) {
    std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 1, 2,
                              0xFF, 0xDA, 0x00, 0x04, 0, 0};
    for (int i = 0; i < 50; ++i) j.push_back(uint8_t(i));
    TiffBuilder b;
    uint32_t io1 = b.add_data(j);
    uint32_t io2 = b.add_data(j);
    for (uint32_t io : {io1, io2})
        b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(258, {8}).shorts(259, {6})
            .shorts(262, {1}).longs(273, {io + 8}).longs(279, {uint32_t(j.size()) - 8})
            .shorts(512, {1}).longs(513, {io});
    std::string path = dir.file("jpeg2.tif");
    write_file(path, b.build());
    return path;
}

TEST_F(PageInfoCall, OneJpegInfoForOnePageInfo) {
    OpenedFile f(two_jpeg_pages(dir));
    ASSERT_EQ(f.pages, 2u);
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    ASSERT_EQ(pi.compression, TAV_COMP_JPEG_INFO);
    JpegInfo* first = pi.compressionInfo.jpeg;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->headerLength, 8u);
    ASSERT_EQ(f.info(2, pi, ps), 0u);
    EXPECT_EQ(pi.compressionInfo.jpeg, first);
    EXPECT_EQ(first->headerLength, 8u);
    EXPECT_EQ(first->interchangeOffset, ps.dataBytes ? first->interchangeOffset : 0u);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(f.info(uint16_t(1 + i % 2), pi, ps), 0u);
    EXPECT_EQ(pi.compressionInfo.jpeg, first);
    // A fresh PageInfo gets a block of its own, valid until the next call.
    PageInfo other = fresh_info();
    ASSERT_EQ(f.info(1, other, ps), 0u);
    ASSERT_NE(other.compressionInfo.jpeg, nullptr);
    EXPECT_EQ(other.compressionInfo.jpeg->headerLength, 8u);
    // A caller's record with a pointer the library did not hand out is never
    // followed.
    PageInfo bogus = fresh_info();
    JpegInfo mine{};
    mine.headerLength = 12345;
    bogus.compression = TAV_COMP_JPEG_INFO;
    bogus.compressionInfo.jpeg = &mine;
    ASSERT_EQ(f.info(2, bogus, ps), 0u);
    EXPECT_NE(bogus.compressionInfo.jpeg, &mine);
    EXPECT_EQ(mine.headerLength, 12345u);
}

TEST_F(PageInfoCall, CallersBufferPointersSurvive) {
    TiffBuilder b;
    uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
    std::vector<uint16_t> map(3 * 256, 5);
    b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100})
        .shorts(258, {8}).shorts(262, {3}).shorts(320, map);
    OpenedFile f(save(b.build()));
    std::vector<uint16_t> buf(map.size());
    PageInfo pi = fresh_info();
    pi.area.palette.colorMapBuffer = buf.data();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.area.palette.colorMapBuffer, buf.data());
    EXPECT_EQ(pi.area.palette.colorMapSize, 1536u);
    ASSERT_EQ(f.data(pi), 0u);
    EXPECT_EQ(buf, map);
}

TEST_F(PageInfoCall, TextsOfAnotherPageAreNeverDelivered) {
    TiffBuilder b;
    uint32_t off = b.add_data(std::vector<uint8_t>(100, 7));
    b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100})
        .ascii(270, "first page text");
    b.add_ifd().longs(256, {8}).longs(257, {10}).longs(273, {off}).longs(279, {100});
    OpenedFile f(save(b.build()));
    TextTagBuf tags[9];
    std::memset(tags, 0, sizeof tags);
    PageInfo pi = fresh_info();
    pi.textTags = tags;
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(tags[1].length, 16u);
    PageInfo plain = fresh_info();
    ASSERT_EQ(f.info(2, plain, ps), 0u);
    char buf[32] = "unchanged";
    tags[1].buffer = buf;
    plain.textTags = tags;
    ASSERT_EQ(f.data(plain), 0u);
    EXPECT_STREQ(buf, "unchanged");
}

TEST_F(PageInfoCall, ClosedHandle) {
    int32_t h = 17;
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    uint32_t err = 0;
    EXPECT_EQ(xtavgeti(&h, 1, &pi, &ps, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EBADF));
    uint8_t buf[4];
    uint32_t remaining = 0;
    EXPECT_EQ(xtavread(&h, buf, 0, 4, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EBADF));
    EXPECT_EQ(xtavgtdata(&h, &pi, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EBADF));
}

}  // namespace

namespace {

void put32le(std::vector<uint8_t>& v, uint32_t at, uint32_t x) {
    if (v.size() < at + 4) v.resize(at + 4);
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}

// A file in the page index scheme (Part 3.1): every page is a TIFF stream
// of its own at a base offset, all its offsets relative to that base.
TEST_F(PageInfoCall, PageIndexOffsetsAreRebased) {
    TiffBuilder outer;
    uint32_t dummy = outer.add_data(std::vector<uint8_t>(4, 0));
    outer.add_ifd().longs(256, {8}).longs(257, {1}).longs(273, {dummy}).longs(279, {1})
        .longs(32935, {0});
    std::vector<uint8_t> file = outer.build();
    const uint32_t tagValueAt = outer.entry_offset(0, 4) + 8;  // 32935 is the last entry
    while (file.size() % 4) file.push_back(0);
    const uint32_t indexAt = uint32_t(file.size());
    file.resize(indexAt + 80, 0);
    const uint32_t chunkAt = uint32_t(file.size());
    file.resize(chunkAt + 16, 0);
    std::vector<uint32_t> bases;
    for (int p = 0; p < 2; ++p) {
        TiffBuilder page;
        std::vector<uint8_t> strip(60 + 10 * p);
        for (size_t i = 0; i < strip.size(); ++i) strip[i] = uint8_t(p * 100 + i);
        uint32_t off = page.add_data(strip);
        page.add_ifd().longs(256, {8}).longs(257, {uint32_t(strip.size())}).longs(273, {off})
            .longs(279, {uint32_t(strip.size())}).ascii(270, "page text " + std::to_string(p))
            .rationals(282, {{uint32_t(100 + p), 1}});
        auto s = page.build();
        while (file.size() % 4) file.push_back(0);
        bases.push_back(uint32_t(file.size()));
        file.insert(file.end(), s.begin(), s.end());
    }
    put32le(file, tagValueAt, indexAt);
    put32le(file, indexAt, 1);            // version
    put32le(file, indexAt + 36, 2);       // pages
    put32le(file, indexAt + 40, 1);       // chunks
    put32le(file, indexAt + 44, 32);      // entry kind
    put32le(file, indexAt + 52, chunkAt);
    put32le(file, indexAt + 56, 2);
    for (int p = 0; p < 2; ++p) {
        put32le(file, chunkAt + 8 * p, bases[p]);
        put32le(file, chunkAt + 8 * p + 4, 0);
    }
    OpenedFile f(save(file));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.pages, 2u);
    for (uint16_t p = 2; p >= 1; --p) {
        TextTagBuf tags[9];
        std::memset(tags, 0, sizeof tags);
        PageInfo pi = fresh_info();
        pi.textTags = tags;
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(p, pi, ps), 0u) << p;
        EXPECT_EQ(pi.xResNum, 100u + p - 1);
        EXPECT_EQ(pi.imageLength, 60u + 10 * (p - 1));
        char text[32] = {};
        tags[1].buffer = text;
        ASSERT_EQ(f.data(pi), 0u);
        EXPECT_STREQ(text, ("page text " + std::to_string(p - 1)).c_str());
        uint32_t err = 0;
        auto s = f.stream(p, ps.dataBytes, 17, &err);
        ASSERT_GE(s.size(), pi.imageLength);
        ASSERT_EQ(err, 0u);
        for (size_t i = 0; i < pi.imageLength; ++i) ASSERT_EQ(s[i], uint8_t((p - 1) * 100 + i));
    }
}

}  // namespace
