// Block files written and read through the exports: the layout of the
// blocks written, the directory and chunk-list continuations, every coding
// code both ways, pages written in small calls, appending in update mode
// with close and abort, local and remote, and what the writer refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "block_test_util.h"
#include "fileio/mem.h"
#include "platform/plat_remote.h"

namespace {

using bt::be16;
using bt::be32;
using bt::kBlock;

class BlockFile : public ::testing::Test {
protected:
    void SetUp() override { blocks = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked"; }
    std::string path(const std::string& name = "f.blk") const { return dir.file(name); }

    // A new file of `pages` pages; page p (from 1) holds data(sizes(p), p).
    template <typename Size>
    void write_pages(const std::string& file, uint32_t pages, Size sizes, uint32_t chunk = kBlock) {
        bt::Handle w;
        ASSERT_EQ(w.create(file), 0u);
        for (uint32_t p = 1; p <= pages; ++p) {
            PageInfo i = bt::page();
            i.maxStripSize = chunk;
            ASSERT_EQ(w.add(uint16_t(p), i, bt::data(sizes(p), p)), 0u) << p;
        }
        ASSERT_EQ(w.close(), 0u);
    }
    // Page p of the file holds data(size, p).
    static void expect_page(bt::Handle& r, uint16_t p, size_t size, uint32_t piece = 5000) {
        EXPECT_EQ(r.read(p, piece), bt::data(size, p)) << "page " << p << " error " << r.err;
    }

    TempDir dir;
    int blocks = 0;
};

TEST_F(BlockFile, CreatedAndClosedAtOnceIsOneHeaderBlock) {
    bt::Handle w;
    ASSERT_EQ(w.create(path()), 0u);
    ASSERT_EQ(w.close(), 0u);
    auto b = read_file(path());
    ASSERT_EQ(b.size(), kBlock);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 8), (std::vector<uint8_t>{0x80, 0x45, 0, 1, 0, 0, 0, 4}));
    EXPECT_EQ(be32(b, 12), 0u);                 // the last block in use
    EXPECT_EQ(be16(b, 1026), 127u);             // directory capacity
    EXPECT_EQ(b[2048], 0x7F);                   // block 0 in use
    EXPECT_TRUE(std::all_of(b.begin() + 2049, b.end(), [](uint8_t v) { return v == 0xFF; }));
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    EXPECT_EQ(r.type, FILETYPE_BLOCK);
    EXPECT_EQ(r.pages, 0u);
}

// One page of 10 000 bytes in chunks of 8192: data in blocks 1 to 4, the
// record in block 5; then reads across the two chunks and at the end.
TEST_F(BlockFile, OnePageLayoutAndAReadAcrossChunks) {
    const auto bytes = bt::data(10000, 1);
    {
        bt::Handle w;
        ASSERT_EQ(w.create(path()), 0u);
        ASSERT_EQ(w.add(1, bt::page(), bytes), 0u);
        ASSERT_EQ(w.close(), 0u);
    }
    auto b = read_file(path());
    ASSERT_EQ(b.size(), 6 * kBlock);
    EXPECT_EQ(be16(b, 8), 1u);
    EXPECT_EQ(be32(b, 12), 5u);
    EXPECT_EQ(b[2048], 0x03);
    EXPECT_EQ(be16(b, 1024), 1u);
    EXPECT_EQ(be32(b, 1032), 5u);
    const size_t rec = 5 * kBlock;
    EXPECT_EQ(be16(b, rec), 1u);        // photometric
    EXPECT_EQ(be16(b, rec + 2), 2u);    // T.6, fill order 1
    EXPECT_EQ(be32(b, rec + 4), 8192u);
    EXPECT_EQ(be16(b, rec + 12), 1728u);
    EXPECT_EQ(be16(b, rec + 2048), 2u);  // chunks listed
    EXPECT_EQ(be16(b, rec + 2050), 84u);
    const size_t e = rec + 2064;
    EXPECT_EQ(std::vector<uint32_t>({be32(b, e), be32(b, e + 4), be32(b, e + 8), be16(b, e + 14)}),
              std::vector<uint32_t>({1, 8192, 8192, 2}));
    EXPECT_EQ(std::vector<uint32_t>({be32(b, e + 24), be32(b, e + 28), be32(b, e + 32)}),
              std::vector<uint32_t>({3, 8192, 1808}));
    EXPECT_TRUE(std::equal(bytes.begin() + 8192, bytes.end(), b.begin() + 3 * kBlock));
    EXPECT_TRUE(std::all_of(b.begin() + 3 * kBlock + 1808, b.begin() + rec, [](uint8_t v) { return v == 0; }));

    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    PageInfo i{};
    uint32_t size = 0;
    PageSizes s{0, 0, 1, 0, &size};
    uint32_t err = 0;
    ASSERT_EQ(xtavgeti(&r.h, 1, &i, &s, &err), 0) << err;
    EXPECT_EQ(s.dataBytes, 10000u);
    EXPECT_EQ(s.sizeCount, 1u);
    EXPECT_EQ(size, 10000u);
    EXPECT_EQ(s.rawBytes, 216u * 2200);
    EXPECT_EQ(std::vector<uint32_t>({i.photometric, i.stripCount, i.compression, i.fillOrder, i.maxStripSize,
                                     i.byteOrder, i.resolutionUnit, i.xResNum, i.yResNum, i.xResDen}),
              std::vector<uint32_t>({1, 2, TAV_COMP_CCITT_T6, 1, 8192, 0x4D4D, 2, 200, 100, 1}));
    std::vector<uint8_t> buf(100);
    uint32_t left = 0;
    ASSERT_EQ(xtavread(&r.h, buf.data(), 8190, 100, &left, 1, &err), 100);
    EXPECT_EQ(left, 1710u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 8190));
    // By-strip reading names pages here too: only the current one has data.
    ASSERT_EQ(r.option(TAV_OPT_STRIP_READ, nullptr), 0u);
    EXPECT_EQ(xtavread(&r.h, buf.data(), 0, 100, &left, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
    EXPECT_EQ(xtavread(&r.h, buf.data(), 9950, 100, &left, 1, &err), 50);
    EXPECT_EQ(left, 0u);

    uint32_t width = 0, one = 0;
    TavStripCounts counts{1, &one};
    EXPECT_EQ(r.option(TAV_OPT_COUNT_SIZE, &width), 0u);
    EXPECT_EQ(width, 4u);
    EXPECT_EQ(r.option(TAV_OPT_STRIP_COUNTS, &counts), 0u);
    EXPECT_EQ(one, 2200u * 216);
    EXPECT_EQ(r.option(TAV_OPT_STORED_COUNTS, &counts), 0u);
    EXPECT_EQ(one, 10000u);
}

// Option 13 counts a row that ends inside a byte as the whole byte, as the
// row takes it: a buffer sized by it holds the page's rows.
TEST_F(BlockFile, StripCountOfRowsThatEndInsideAByte) {
    bt::Handle w;
    ASSERT_EQ(w.create(path()), 0u);
    ASSERT_EQ(w.add(1, bt::page(1700, 10), bt::data(300, 1)), 0u);
    ASSERT_EQ(w.close(), 0u);
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    PageInfo i;
    PageSizes s;
    ASSERT_EQ(r.info(1, i, s), 0u);
    uint32_t bytes = 0;
    TavStripCounts counts{1, &bytes};
    ASSERT_EQ(r.option(TAV_OPT_STRIP_COUNTS, &counts), 0u);
    EXPECT_EQ(bytes, 10u * 213);
    EXPECT_EQ(bytes, s.rawBytes);
}

// The 128th page's entry opens the first continuation directory block, the
// 639th the second; both are written behind the pages at close.
TEST_F(BlockFile, DirectoryContinuationBlocks) {
    write_pages(path(), 639, [](uint32_t p) { return p % 50 + 1; });
    auto b = read_file(path());
    // Page p: data in block 2p - 1, record in 2p; the directory at 1279, 1280.
    EXPECT_EQ(be16(b, 1024), 127u);
    ASSERT_EQ(be32(b, 1028), 1279u);
    const size_t d1 = 1279 * kBlock, d2 = 1280 * kBlock;
    EXPECT_EQ(std::vector<uint32_t>({be16(b, d1), be16(b, d1 + 2), be32(b, d1 + 4), be32(b, d1 + 8)}),
              std::vector<uint32_t>({511, 511, 1280, 256}));
    EXPECT_EQ(std::vector<uint32_t>({be16(b, d2), be32(b, d2 + 4), be32(b, d2 + 8)}),
              std::vector<uint32_t>({1, 0, 1278}));
    EXPECT_EQ(be32(b, 12), 1280u);
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    EXPECT_EQ(r.pages, 639u);
    for (uint16_t p : {1, 127, 128, 638, 639}) expect_page(r, p, p % 50 + 1);
}

// 254 chunks: 84 in the record, then two list blocks right behind it.
TEST_F(BlockFile, PageWithMoreChunksThanTheRecordHolds) {
    const uint32_t size = 253 * kBlock + 5;
    write_pages(path(), 1, [&](uint32_t) { return size; });
    auto b = read_file(path());
    const size_t rec = 255 * kBlock, l1 = 256 * kBlock, l2 = 257 * kBlock;
    EXPECT_EQ(std::vector<uint32_t>({be16(b, rec + 2048), be32(b, rec + 2052), be32(b, rec + 2056)}),
              std::vector<uint32_t>({84, 0, 256}));
    EXPECT_EQ(std::vector<uint32_t>({be16(b, l1), be16(b, l1 + 2), be32(b, l1 + 4), be32(b, l1 + 8)}),
              std::vector<uint32_t>({168, 168, 255, 257}));
    EXPECT_EQ(std::vector<uint32_t>({be16(b, l2), be32(b, l2 + 4), be32(b, l2 + 8), be32(b, l2 + 16)}),
              std::vector<uint32_t>({2, 256, 0, 253}));
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    expect_page(r, 1, size, 7777);
}

// The bitmap covers the first 16 384 blocks (64 MiB): a larger file marks
// them all in use and reads back beyond them.
TEST_F(BlockFile, FilesGrowPastTheBitmap) {
    const uint32_t chunk = 16u << 20, size = 4 * chunk + 10;
    write_pages(path(), 1, [&](uint32_t) { return size; }, chunk);
    auto b = read_file(path());
    ASSERT_EQ(b.size(), (1 + 5 * chunk / kBlock + 1) * size_t(kBlock));
    EXPECT_TRUE(std::all_of(b.begin() + 2048, b.begin() + 4096, [](uint8_t v) { return v == 0; }));
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    expect_page(r, 1, size, chunk);
}

// Every call's remainder is a chunk of its own: 100-byte calls read back
// whole. Data after the last call needs new page information.
TEST_F(BlockFile, PageWrittenInSmallCalls) {
    const auto bytes = bt::data(1050, 1);
    bt::Handle w;
    ASSERT_EQ(w.create(path()), 0u);
    PageInfo i = bt::page();
    ASSERT_EQ(w.put(1, i), 0u);
    for (size_t at = 0; at < bytes.size(); at += 100) {
        std::vector<uint8_t> piece(bytes.begin() + at, bytes.begin() + std::min(at + 100, bytes.size()));
        ASSERT_EQ(w.write(1, piece, at + 100 >= bytes.size()), 0u);
    }
    EXPECT_EQ(w.write(2, bytes), uint32_t(TAV_E_SEQUENCE));
    ASSERT_EQ(w.close(), 0u);
    EXPECT_EQ(read_file(path()).size(), (1 + 11 * 2 + 1) * kBlock);  // 11 chunks of 8192
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    expect_page(r, 1, 1050, 333);
}

struct Coding {
    uint32_t code, compression, fillOrder, bits;
};
// The coding codes, with the compression, fill order and compressionInfo
// each stands for.
constexpr Coding kCodings[] = {
    {2, 4, 1, 0}, {3, 1, 2, 0}, {4, 3, 2, 0},  {5, 4, 2, 0},   {6, 1, 1, 0},   {7, 3, 2, 8},
    {8, 3, 2, 4}, {9, 3, 2, 12}, {10, 2, 2, 0}, {11, 2, 2, 4},  {12, 3, 1, 0},  {13, 3, 1, 8},
    {14, 3, 1, 4}, {15, 2, 1, 4}, {19, 3, 1, 12}, {20, 2, 1, 0}, {64, 6, 1, 0}, {65, 6, 2, 0},
};

PageInfo coded_page(uint32_t n) {
    const Coding& c = kCodings[n % std::size(kCodings)];
    PageInfo i = bt::page(100 + n, 1 + n);
    i.compression = c.compression;
    i.fillOrder = c.fillOrder;
    i.compressionInfo.value = c.bits | (c.compression == TAV_COMP_NONE ? 1 : 0);  // ignored bits
    i.xResNum = 1 + n;
    i.rotation = (n % 4) * 90;
    i.mirrored = n % 3 == 0;
    i.bitsPerSample[0] = 1 + n % 2;
    return i;
}

TEST_F(BlockFile, ThousandPagesRoundTripEveryCoding) {
    auto size = [](uint32_t n) { return size_t(n * 37 % 9000 + 1); };
    {
        bt::Handle w;
        ASSERT_EQ(w.create(path()), 0u);
        for (uint32_t n = 0; n < 1000; ++n)
            ASSERT_EQ(w.add(uint16_t(n + 1), coded_page(n), bt::data(size(n), n + 1)), 0u) << n;
        ASSERT_EQ(w.close(), 0u);
    }
    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    ASSERT_EQ(r.pages, 1000u);
    for (uint32_t n = 0; n < 1000; ++n) {
        const Coding& c = kCodings[n % std::size(kCodings)];
        const PageInfo want = coded_page(n);
        PageInfo i;
        PageSizes s;
        ASSERT_EQ(r.info(uint16_t(n + 1), i, s), 0u) << n;
        EXPECT_EQ(std::vector<uint32_t>({i.stripCount, i.compression, i.fillOrder, i.compressionInfo.value}),
                  std::vector<uint32_t>({c.code, c.compression, c.fillOrder, c.bits}))
            << n;
        EXPECT_EQ(std::vector<uint32_t>({i.imageWidth, i.imageLength, i.xResNum, i.yResNum, i.rotation,
                                         i.mirrored, i.bitsPerSample[0]}),
                  std::vector<uint32_t>({want.imageWidth, want.imageLength, want.xResNum, want.yResNum,
                                         want.rotation, want.mirrored, want.bitsPerSample[0]}))
            << n;
        expect_page(r, uint16_t(n + 1), size(n), 4000);
    }
}

// What the writer refuses: chunk sizes, 16-bit fields, codings and
// rotations it has no code for, pages out of order; option 11 before and
// after the first data.
TEST_F(BlockFile, WriterRefusalsAndOptionEleven) {
    bt::Handle w;
    ASSERT_EQ(w.create(path()), 0u);
    auto put = [&](auto change, PutOptions* o = nullptr) {
        PageInfo i = bt::page();
        change(i);
        return w.put(1, i, o);
    };
    EXPECT_EQ(put([](PageInfo& i) { i.maxStripSize = 5000; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(put([](PageInfo& i) { i.maxStripSize = 32u << 20; }), uint32_t(TAV_E_SIZE));
    PutOptions small{0, 100, 0, 0};
    EXPECT_EQ(put([](PageInfo&) {}, &small), uint32_t(TAV_E_SIZE));
    PutOptions tiffData{1, 0, 0, 0};
    EXPECT_EQ(put([](PageInfo& i) { i.fileType = FILETYPE_TIFF, i.stripCount = 2; }, &tiffData),
              uint32_t(TAV_E_INCONSISTENT));
    EXPECT_EQ(put([](PageInfo& i) { i.imageWidth = 65536; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(put([](PageInfo& i) { i.yResNum = 70000; }), uint32_t(TAV_E_SIZE));

    // Refused at the first data.
    const auto bytes = bt::data(300, 1);
    ASSERT_EQ(put([](PageInfo& i) { i.compression = TAV_COMP_LZW; }), 0u);
    EXPECT_EQ(w.write(1, bytes), uint32_t(TAV_E_COMPRESSION));
    ASSERT_EQ(put([](PageInfo& i) { i.compressionInfo.value = TAV_CODING_T4; }), 0u);
    EXPECT_EQ(w.write(1, bytes), uint32_t(TAV_E_COMPRESSION));
    ASSERT_EQ(put([](PageInfo& i) { i.rotation = 45; }), 0u);
    EXPECT_EQ(w.write(1, bytes), uint32_t(TAV_E_ROTATION));
    PageInfo i = bt::page();
    ASSERT_EQ(w.put(2, i), 0u);
    EXPECT_EQ(w.write(2, bytes), uint32_t(TAV_E_PAGE));

    // Option 11 before the first data reaches the record; after it too.
    ASSERT_EQ(w.put(1, i), 0u);
    uint32_t rows = 1234, tooMany = 65536;
    EXPECT_EQ(w.option(TAV_OPT_IMAGE_LENGTH, &tooMany), uint32_t(TAV_E_SIZE));
    ASSERT_EQ(w.option(TAV_OPT_IMAGE_LENGTH, &rows), 0u);
    ASSERT_EQ(w.write(1, bytes), 0u);
    ASSERT_EQ(w.put(2, i), 0u);
    ASSERT_EQ(w.write(2, bytes, 0), 0u);
    rows = 4321;
    ASSERT_EQ(w.option(TAV_OPT_IMAGE_LENGTH, &rows), 0u);
    ASSERT_EQ(w.write(2, bytes), 0u);
    ASSERT_EQ(w.close(), 0u);

    bt::Handle r;
    ASSERT_EQ(r.open(path()), 0u);
    EXPECT_EQ(r.pages, 2u);
    PageInfo got;
    PageSizes s;
    ASSERT_EQ(r.info(1, got, s), 0u);
    EXPECT_EQ(got.imageLength, 1234u);
    ASSERT_EQ(r.info(2, got, s), 0u);
    EXPECT_EQ(got.imageLength, 4321u);
    EXPECT_EQ(s.dataBytes, 600u);
}

class BlockUpdate : public BlockFile, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        BlockFile::SetUp();
        if (GetParam()) {
            ASSERT_NE(plat_remote_bind(), nullptr) << "libqvrpc400.so is needed";
        }
    }
    // A handle on the test's directory, locally or through the stand-in server.
    std::unique_ptr<bt::Handle> handle() {
        return GetParam() ? std::make_unique<bt::Handle>(dir.path()) : std::make_unique<bt::Handle>();
    }
    std::string name(const std::string& n) { return GetParam() ? n : dir.file(n); }
};

// 130 pages (the directory continues), one page appended in update mode:
// abort gives the file back byte for byte, close keeps every page.
TEST_P(BlockUpdate, AppendThenAbortOrClose) {
    auto size = [](uint32_t p) { return size_t(p * 13 % 700 + 1); };
    {
        auto w = handle();
        ASSERT_EQ(w->create(name("u.blk")), 0u);
        for (uint32_t p = 1; p <= 130; ++p) ASSERT_EQ(w->add(uint16_t(p), bt::page(), bt::data(size(p), p)), 0u);
        ASSERT_EQ(w->close(), 0u);
    }
    const auto original = read_file(path("u.blk"));
    for (bool abort : {true, false}) {
        auto u = handle();
        ASSERT_EQ(u->open(name("u.blk"), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        ASSERT_EQ(u->pages, 130u);
        ASSERT_EQ(u->add(131, bt::page(), bt::data(size(131), 131)), 0u);
        if (abort) {
            u.reset();
            EXPECT_EQ(read_file(path("u.blk")), original);
        } else {
            ASSERT_EQ(u->close(), 0u);
        }
    }
    auto r = handle();
    ASSERT_EQ(r->open(name("u.blk")), 0u);
    ASSERT_EQ(r->pages, 131u);
    for (uint16_t p : {1, 127, 128, 130, 131}) expect_page(*r, p, size(p));
}

INSTANTIATE_TEST_SUITE_P(LocalAndRemote, BlockUpdate, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Remote" : "Local"; });

}  // namespace
