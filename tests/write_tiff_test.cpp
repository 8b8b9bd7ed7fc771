// Writing new TIFF files page by page: the layout of what is written, the
// page information and data calls with their refusals and options, and
// independent readers (libtiff, tiffinfo) and our own reading it back.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fileio/fio.h"
#include "formats/tiff/tiff_state.h"
#include "frame/fct.h"
#include "write_test_util.h"

namespace {

using wt::File;
using U32s = std::vector<uint32_t>;

struct WriteTiff : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("out.tif");
};

// A page of `spp` samples of `bits` each, photometric as given.
PageInfo image(uint32_t w, uint32_t l, uint32_t photometric, uint16_t bits, uint16_t spp = 1,
               uint32_t compression = TAV_COMP_NONE) {
    PageInfo info = wt::bilevel(w, l, compression);
    info.photometric = photometric;
    info.samplesPerPixel = spp;
    for (uint16_t i = 0; i < spp; ++i) info.bitsPerSample[i] = bits;
    return info;
}

TEST_F(WriteTiff, FirstPageLayoutWithPropertyBlock) {
    int32_t h = wt::create(path);
    char title[] = "abc", empty[] = "";
    PageInfo info = wt::bilevel(64, 10);
    info.title = title;
    info.author = info.subject = info.keywords = info.comments = empty;
    info.xResDen = info.yResDen = 0;
    info.resolutionUnit = 7;
    std::vector<uint8_t> data = wt::pattern(80, 1);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, data));
    EXPECT_EQ(info.xResDen + info.yResDen + info.resolutionUnit, 3u);  // corrections shown to the caller
    wt::close(h);

    File f(path);
    EXPECT_TRUE(f.holds(0, {'I', 'I', 42, 0, 76, 0, 0, 0}));
    EXPECT_EQ(0, std::memcmp(&f.bytes[8], "TEXO TIFF \x01\x00\x34\x00\x00\x00Title:abc\0Author:\0", 34));
    auto es = f.entries(76);
    for (size_t i = 1; i < es.size(); ++i) EXPECT_LT(es[i - 1].tag, es[i].tag);
    // The first value right behind the 668-byte slot; one sample inline; one
    // strip with offset and count inline; one page: no table.
    const wt::Entry sw = f.at(76, 305);
    EXPECT_EQ(U32s({f.at(76, 282).value, f.u32(744 + 4), f.at(76, 258).count, f.at(76, 258).value, sw.count,
                    f.at(76, 273).count, f.at(76, 279).value, f.at(76, 32934).count, f.next_of(76)}),
              U32s({744, 1, 1, 1, 25, 1, 80, 1, 0}));
    EXPECT_STREQ("Qv/TAV, writer v00.06.02", reinterpret_cast<const char*>(&f.bytes[sw.value]));
    EXPECT_TRUE(f.holds(f.at(76, 273).value, data));
}

TEST_F(WriteTiff, PropertyBlockSizes) {
    // Texts of 3 and 25 characters, with room reserved or not.
    const struct { const char* title; uint32_t reserve, expected; } cases[] = {
        {"abc", 0, 52}, {"abcdefghijklmnopqrstuvwxy", 200, 240}, {"abcdefghijklmnopqrstuvwxy", 20, 80}};
    for (const auto& c : cases) {
        std::string p = dir.file(std::to_string(c.reserve) + ".tif");
        int32_t h = wt::create(p);
        char empty[] = "";
        PageInfo info = wt::bilevel(8, 8);
        info.title = const_cast<char*>(c.title);
        info.author = info.subject = info.keywords = info.comments = empty;
        info.propertiesLength = c.reserve;
        ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(8, 1)));
        wt::close(h);
        wt::File f(p);
        EXPECT_EQ(c.expected + 24, f.first_ifd()) << c.reserve;  // header, block head, block
        EXPECT_EQ(0, std::memcmp(&f.bytes[24], "Title:", 6));
    }
}

TEST_F(WriteTiff, PagesAreChainedAndTabled) {
    for (uint32_t n : {2u, 3u}) {
        std::string p = dir.file(std::to_string(n) + ".tif");
        int32_t h = wt::create(p);
        for (uint16_t k = 1; k <= n; ++k) {
            PageInfo info = wt::bilevel(32, 8);
            ASSERT_EQ(0u, wt::put_page(h, k, info, wt::pattern(32 + k, k)));
        }
        wt::close(h);
        File f(p);
        auto chain = f.ifd_offsets();
        ASSERT_EQ(n, chain.size());
        const wt::Entry tag = f.at(8, 32934);
        const uint32_t t = tag.value;  // at the aligned end, closing the file
        EXPECT_EQ(U32s({chain[0], tag.type, tag.count, t % 4, t + 16 + 4 * n, f.u32(t + 4), f.u32(t + 8), f.u32(t + 12)}),
                  U32s({8, 4, n + 4, 0, uint32_t(f.bytes.size()), 1, n, uint32_t(f.bytes.size())}));
        EXPECT_EQ(0, std::memcmp(&f.bytes[t], "TEXO", 4));
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(U32s({chain[i] % 4, f.u32(t + 16 + 4 * i), f.at(chain[i], 279).value}),
                      U32s({0, chain[i], 32 + i + 1}));
            EXPECT_TRUE(f.holds(f.at(chain[i], 273).value, wt::pattern(33 + i, i + 1)));
        }
    }
}

TEST_F(WriteTiff, EntryTypesAndValues) {
    int32_t h = wt::create(path);
    PageInfo wide = wt::bilevel(70000, 2);
    ASSERT_EQ(0u, wt::put_page(h, 1, wide, wt::pattern(100, 2)));
    PageInfo rgb = image(65535, 1, TAV_PHOTO_RGB, 8, 3);
    rgb.rotation = 90;
    rgb.mirrored = 1;
    ASSERT_EQ(0u, wt::put_page(h, 2, rgb, wt::pattern(100, 3)));
    wt::close(h);

    File f(path);
    auto chain = f.ifd_offsets();
    ASSERT_EQ(2u, chain.size());
    // Three samples: three SHORTs out of line, padded to 4 before the next
    // value; 90 degrees mirrored is orientation 7.
    const wt::Entry bits = f.at(chain[1], 258);
    EXPECT_EQ(U32s({f.at(chain[0], 256).type, f.at(chain[0], 256).value, f.at(chain[1], 256).type,
                    f.at(chain[1], 256).value, bits.count, f.at(chain[1], 282).value,
                    f.at(chain[1], 262).value, f.at(chain[1], 274).value, f.at(chain[1], 284).value}),
              U32s({4, 70000, 3, 65535, 3, bits.value + 8, 2, 7, 1}));
    EXPECT_TRUE(f.holds(bits.value, {8, 0, 8, 0, 8, 0, 0, 0}));
}

TEST_F(WriteTiff, StripsWithOptionFour) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_STRIP_WRITE, nullptr, &err));
    PageInfo info = wt::bilevel(80, 30);
    info.stripCount = 2;
    info.rowsPerStrip = 10;
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(2u, info.stripCount);
    std::vector<uint8_t> s[3] = {wt::pattern(100, 1), wt::pattern(101, 2), wt::pattern(99, 3)};
    for (int i = 0; i < 3; ++i)  // flags 2, 2, 3: end of strip, then end of page
        EXPECT_EQ(int32_t(s[i].size()), xtavwrite(&h, s[i].data(), uint32_t(s[i].size()), 1, i < 2 ? 2 : 3, &err));
    // The last-data flag alone is refused while the caller ends strips.
    PageInfo next = wt::bilevel(80, 30);
    ASSERT_EQ(0, xtavputi(&h, 2, &next, nullptr, &err));
    EXPECT_EQ(-1, xtavwrite(&h, s[0].data(), 10, 2, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_WRITE_FLAG), err);
    EXPECT_EQ(10, xtavwrite(&h, s[0].data(), 10, 2, 3, &err));
    wt::close(h);

    File f(path);  // byte counts first, at the aligned end, offsets behind
    const wt::Entry off = f.at(f.first_ifd(), 273), cnt = f.at(f.first_ifd(), 279);
    EXPECT_EQ(U32s({off.count, cnt.count, cnt.value % 4, off.value}), U32s({3, 3, 0, cnt.value + 12}));
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s[i].size(), f.u32(cnt.value + 4 * i));
        EXPECT_TRUE(f.holds(f.u32(off.value + 4 * i), s[i]));
    }
}

TEST_F(WriteTiff, OneStripFromThreeWritesAndEmptyPage) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(80, 300);
    info.stripCount = 5;  // no option 4: one strip whatever was asked
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(1u, info.stripCount);
    std::vector<uint8_t> all = wt::pattern(3000, 9);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(1000, xtavwrite(&h, all.data() + 1000 * i, 1000, 1, i == 2 ? 1 : 0, &err));
    EXPECT_EQ(-1, xtavwrite(&h, all.data(), 10, 1, 1, &err));  // after the last data
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), err);
    PageInfo empty = wt::bilevel(8, 8);
    ASSERT_EQ(0, xtavputi(&h, 2, &empty, nullptr, &err));
    wt::close(h);

    File f(path);
    auto chain = f.ifd_offsets();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(U32s({f.at(chain[0], 279).count, f.at(chain[0], 279).value, f.at(chain[1], 273).count,
                    f.at(chain[1], 279).count}), U32s({1, 3000, 0, 0}));
    EXPECT_TRUE(f.holds(f.at(chain[0], 273).value, all));
}

// The work file's names in the temporary directory can be foreseen: a
// dangling link placed at the next one looks free, but the create passes
// over it to the name after, and nothing is made where the link points.
TEST_F(WriteTiff, WorkFileNamePassesOverALinkInItsWay) {
    TempDir temp;
    TempDirOverride libraryTemp(temp.path());
    char probe[TAV_PATH_SIZE];
    tmp_name_in_dir(nullptr, temp.path().c_str(), probe);
    std::string name = path_name_part(probe);
    ASSERT_EQ(7u, name.size());
    // The seed's first letter counts fastest.
    if (name[0] != 'z') {
        ++name[0];
    } else {
        name[0] = 'a';
        name[1] = name[1] == 'z' ? 'a' : char(name[1] + 1);
    }
    name[2] = 'a';
    const std::string next = temp.file(name), pointee = temp.file("pointee");
    ASSERT_EQ(0, symlink(pointee.c_str(), next.c_str()));

    int32_t h = wt::create(path);
    PageInfo info = wt::bilevel(16, 2);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(4, 1)));
    ASSERT_EQ(0u, wt::put_page(h, 2, info, wt::pattern(4, 2)));
    wt::close(h);
    EXPECT_EQ(2u, File(path).ifd_offsets().size());
    EXPECT_FALSE(file_exists(pointee));
    EXPECT_TRUE(file_exists(next));
}

TEST_F(WriteTiff, AnnotationAreasBelongToOnePage) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(16, 16);
    std::vector<uint8_t> px = wt::pattern(32, 4), a1 = wt::pattern(120, 5), a2 = wt::pattern(9, 6);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, px));
    tiff_of(fct_entry_at(h)).tiffWritePos = 4097;  // the first append is aligned: 4100
    auto opt = [&](uint32_t o, void* v) { return xtavopts(&h, 1, o, static_cast<uint32_t*>(v), &err); };
    TavAreaAppend app{120, a1.data()}, app2{9, a2.data()};
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_APPEND, &app));
    TavAreaInfo ai{};
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_INFO, &ai));
    EXPECT_EQ(U32s({ai.length, ai.offset}), U32s({120, 4100}));
    ASSERT_EQ(0, opt(TAV_OPT_AREA2_APPEND, &app2));
    uint8_t buf[100];
    TavAreaRead rd{100, 90, buf}, past{100, 200, nullptr};
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_READ, &rd));
    EXPECT_EQ(30u, rd.count);  // clipped to the area
    EXPECT_EQ(0, std::memcmp(buf, a1.data() + 90, 30));
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_READ, &past));  // no file access: null buffer
    EXPECT_EQ(0u, past.count);
    PageInfo second = wt::bilevel(16, 16);
    ASSERT_EQ(0u, wt::put_page(h, 2, second, px));
    wt::close(h);

    File f(path);
    auto chain = f.ifd_offsets();
    ASSERT_EQ(2u, chain.size());
    U32s late;  // the private entries of page 1, in the order written
    for (auto& x : f.entries(chain[0]))
        if (x.tag > 32900) late.push_back(x.tag);
    EXPECT_EQ(late, U32s({32931, 32932, 32934}));
    EXPECT_EQ(0u, f.at(chain[1], 32931).tag + f.at(chain[1], 32932).tag);  // not repeated on page 2
    EXPECT_EQ(4100u, f.at(chain[0], 32932).value);
    EXPECT_TRUE(f.holds(4100, a1));
}

TEST_F(WriteTiff, OldStyleJpegEntries) {
    int32_t h = wt::create(path);
    uint8_t header[40] = {0xFF, 0xD8};
    JpegInfo j{};
    j.jpegOptions = (1u << 14) | (2u << 16);  // subsampling 2, 2
    j.headerLength = sizeof header;
    j.header = header;
    j.restartInterval = 7;
    const uint32_t tables[7] = {1, 20, 0, 0, 2, 4, 8};  // one quantisation table at 20, two DC tables
    std::copy(tables, tables + 7, j.unused);
    PageInfo info = image(16, 16, TAV_PHOTO_RGB, 1, 1, TAV_COMP_JPEG_INFO);
    info.compressionInfo.jpeg = &j;
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(50, 1)));
    EXPECT_EQ(uint32_t(TAV_PHOTO_YCBCR), info.photometric);
    EXPECT_EQ(nullptr, info.compressionInfo.jpeg);
    wt::close(h);

    File f(path);  // compression 12 written as 6; the caller's offsets made absolute
    const uint32_t hpos = f.at(8, 513).value;
    EXPECT_TRUE(f.holds(hpos, std::vector<uint8_t>(header, header + 40)));
    EXPECT_EQ(U32s({f.at(8, 259).value, f.at(8, 262).value, f.at(8, 514).value, f.at(8, 515).value,
                    f.at(8, 519).value, f.at(8, 520).count, f.u32(f.at(8, 520).value + 4), j.unused[6],
                    f.u32(f.at(8, 530).pos + 8)}),
              U32s({6, 6, 40, 7, hpos + 20, 2, hpos + 8, hpos + 8, 0x20002}));
}

TEST_F(WriteTiff, RefusedPages) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo jpeg = wt::bilevel(8, 8, TAV_COMP_JPEG), photo = wt::bilevel(8, 8), info = wt::bilevel(8, 8);
    photo.photometric = 2;
    EXPECT_EQ(uint32_t(TAV_E_COMPRESSION), wt::put_page(h, 1, jpeg, {}));
    EXPECT_EQ(uint32_t(TAV_E_UNSUPPORTED), wt::put_page(h, 1, photo, {}));
    EXPECT_EQ(uint32_t(TAV_E_PAGE), wt::put_page(h, 2, info, {}));  // would leave a hole
    EXPECT_EQ(uint32_t(TAV_EINVAL), wt::put_page(h, 0, info, {}));
    uint8_t b[8] = {};
    EXPECT_EQ(-1, xtavwrite(&h, b, 8, 1, 1, &err));  // data before page information
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), err);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, {}));
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), wt::put_page(h, 1, info, {}));  // twice without data
    EXPECT_EQ(-1, xtavwrite(&h, b, 0, 1, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_COUNT), err);
    EXPECT_EQ(8, xtavwrite(&h, b, 8, 1, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_WRITTEN), wt::put_page(h, 1, info, {}));  // the same page again
    wt::close(h);
    // Flags 8 alone give no write access: close could never finish a page.
    PathBuf p(path);
    uint32_t type = 0, pages = 0;
    int32_t r = xtavopen(nullptr, p, TAV_OPEN_UPDATE, &type, &pages, &err);
    ASSERT_GT(r, 0) << err;
    EXPECT_EQ(uint32_t(TAV_EACCES), wt::put_page(r, 2, info, {}));
    EXPECT_EQ(-1, xtavwrite(&r, b, 4, 2, 1, &err));
    EXPECT_EQ(uint32_t(TAV_EACCES), err);
    xtavclose(&r, &err);
}

// Raw files: no page information, the bytes as they come.
TEST_F(WriteTiff, RawFile) {
    int32_t h = wt::create(dir.file("r.bin"), FILETYPE_RAW);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8);
    EXPECT_EQ(uint32_t(TAV_E_RAW_FILE), wt::put_page(h, 1, info, {}));
    std::vector<uint8_t> a = wt::pattern(100, 1), b = wt::pattern(50, 2);
    EXPECT_EQ(100, xtavwrite(&h, a.data(), 100, 0, 0, &err));
    EXPECT_EQ(50, xtavwrite(&h, b.data(), 50, 0, 0, &err));
    wt::close(h);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_TRUE(a == read_file(dir.file("r.bin")));
}

TEST_F(WriteTiff, WriterOptions) {
    int32_t h = wt::create(path);
    uint32_t err = 0, rows = 0;
    // Option 9 needs a page index; option 11 a row count.
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_INDEX_WINDOW, reinterpret_cast<uint32_t*>(uintptr_t(5)), &err));
    EXPECT_EQ(uint32_t(TAV_E_INDEX_KIND), err);
    EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_IMAGE_LENGTH, &rows, &err));
    EXPECT_EQ(uint32_t(TAV_EINVAL), err);
    // The row count of the page being written, learnt after its data.
    PageInfo info = wt::bilevel(8, 0);
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    uint8_t b[40] = {};
    ASSERT_EQ(40, xtavwrite(&h, b, 40, 1, 0, &err));
    rows = 40;
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_IMAGE_LENGTH, &rows, &err));
    EXPECT_EQ(-1, xtavwrite(&h, b, 0, 1, 1, &err));  // a count of 0 is refused
    wt::close(h);
    EXPECT_EQ(40u, wt::File(path).at(8, 257).value);
}

// Bilevel, RGB, palette and grey pages with texts, read back by our own
// reader and by libtiff, in "II" by default and in "MM" through option 14.
TEST_F(WriteTiff, RoundTripInBothByteOrders) {
    std::vector<uint16_t> map(48);  // 4 bits: 3 x 16 entries
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 1000);
    char title[] = "Invoice", author[] = "Scanner", empty[] = "", ab[] = "ab";  // "ab" lies in its entry
    TextTagBuf texts[9] = {};
    texts[TAV_TEXT_DOCUMENT_NAME] = {sizeof ab, ab};
    const struct { uint32_t w, l, compression, photometric; uint16_t bits, spp; size_t bytes; } pages[] = {
        {100, 21, TAV_COMP_PACKBITS, TAV_PHOTO_BILEVEL_WHITE, 1, 1, 600},
        {200, 22, TAV_COMP_CCITT_T6, TAV_PHOTO_BILEVEL_WHITE, 1, 1, 600},
        {100, 2, TAV_COMP_NONE, TAV_PHOTO_RGB, 8, 3, 600},
        {16, 4, TAV_COMP_NONE, TAV_PHOTO_PALETTE, 4, 1, 32},
        {10, 3, TAV_COMP_NONE, TAV_PHOTO_GRAY_BLACK, 8, 1, 30}};
    for (bool mm : {false, true}) {
        std::string p = dir.file(mm ? "mm.tif" : "ii.tif");
        int32_t h = wt::create(p);
        uint32_t err = 0;
        uint16_t order = 0x4D4D;
        if (mm) {
            ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_BYTE_ORDER, reinterpret_cast<uint32_t*>(&order), &err));
        }
        std::vector<std::vector<uint8_t>> data;
        for (uint16_t k = 1; k <= 5; ++k) {
            const auto& pg = pages[k - 1];
            PageInfo info = image(pg.w, pg.l, pg.photometric, pg.bits, pg.spp, pg.compression);
            info.yResNum = 150 * k;
            info.title = title;
            info.author = author;
            info.subject = info.keywords = info.comments = empty;
            info.textTags = texts;
            if (pg.photometric == TAV_PHOTO_PALETTE) {
                info.area.palette.colorMapSize = uint32_t(map.size() * 2);
                info.area.palette.colorMapBuffer = map.data();
                info.area.palette.planarConfig = 1;
            }
            data.push_back(wt::pattern(pg.bytes, k));
            ASSERT_EQ(0u, wt::put_page(h, k, info, data.back()));
        }
        wt::close(h);
        File f(p);
        EXPECT_EQ(0, std::memcmp(f.bytes.data(), mm ? "MM\0*" : "II*\0", 4));
        EXPECT_EQ(0, std::memcmp(&f.bytes[f.at(f.first_ifd(), 32934).value], mm ? "OXET" : "TEXO", 4));

        PathBuf pb(p);
        uint32_t type = 0, count = 0;
        int32_t r = xtavopen(nullptr, pb, TAV_OPEN_READ, &type, &count, &err);
        ASSERT_GT(r, 0) << err;
        EXPECT_EQ(5u, count);
        for (uint16_t k = 1; k <= 5; ++k) {
            const auto& pg = pages[k - 1];
            PageInfo info{};
            PageSizes sizes{};
            ASSERT_EQ(0, xtavgeti(&r, k, &info, &sizes, &err)) << err;
            EXPECT_EQ(U32s({info.imageWidth, info.samplesPerPixel, info.bitsPerSample[0], info.compression,
                            info.photometric, info.yResNum}),
                      U32s({pg.w, pg.spp, pg.bits, pg.compression, pg.photometric, 150u * k})) << k;
            ASSERT_TRUE(info.title);
            EXPECT_STREQ("Invoice", info.title);
            EXPECT_STREQ("Scanner", info.author);
            // A single strip runs to the file's end: the page's bytes first.
            std::vector<uint8_t> got(pg.bytes);
            uint32_t remaining = 0;
            ASSERT_GE(xtavread(&r, got.data(), 0, uint32_t(pg.bytes), &remaining, k, &err), 0) << err;
            EXPECT_TRUE(data[k - 1] == got) << k;
        }
        xtavclose(&r, &err);
#ifdef QVTAV_HAVE_LIBTIFF
        auto lt = wt::libtiff_read(p);
        ASSERT_EQ(5u, lt.size());
        const uint16_t photo[5] = {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_RGB,
                                   PHOTOMETRIC_PALETTE, PHOTOMETRIC_MINISBLACK};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_TRUE(data[i] == lt[i].strips.at(0)) << i;
            EXPECT_EQ(U32s({lt[i].photometric, lt[i].bps}), U32s({photo[i], pages[i].bits})) << i;
            EXPECT_EQ("ab", lt[i].documentName);
        }
        TIFF* t = TIFFOpen(p.c_str(), "r");
        ASSERT_TRUE(t && TIFFSetDirectory(t, 3));
        uint16_t *cr = nullptr, *cg = nullptr, *cb = nullptr;
        ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &cr, &cg, &cb));
        EXPECT_EQ(0, std::memcmp(cr, map.data(), 32));
        EXPECT_EQ(0, std::memcmp(cb, map.data() + 32, 32));
        TIFFClose(t);
#endif
    }
}

#ifdef QVTAV_HAVE_LIBTIFF

// Data pre-compressed by libtiff in every compression read back by libtiff:
// tags and raw strips; tiffinfo complains of nothing but our private tags.
TEST_F(WriteTiff, LibtiffReadsEveryCompression) {
    const std::pair<uint32_t, uint16_t> cases[] = {
        {TAV_COMP_NONE, COMPRESSION_NONE},          {TAV_COMP_PACKBITS, COMPRESSION_PACKBITS},
        {TAV_COMP_CCITT_T4, COMPRESSION_CCITTFAX3}, {TAV_COMP_CCITT_T6, COMPRESSION_CCITTFAX4},
        {TAV_COMP_LZW, COMPRESSION_LZW}};
    const uint32_t w = 256, len = 64;
    std::vector<uint8_t> px(w / 8 * len, 0);
    for (uint32_t y = 0; y < len; ++y)
        for (uint32_t x = y % 7; x < w; x += 13) px[y * (w / 8) + x / 8] |= uint8_t(0x80 >> (x % 8));
    int32_t h = wt::create(path);
    std::vector<std::vector<uint8_t>> raws;
    for (const auto& [ours, tiff] : cases) {
        raws.push_back(wt::libtiff_compress(dir.file("c.tif"), px, w, len, tiff));
        ASSERT_FALSE(raws.back().empty());
        PageInfo info = wt::bilevel(w, len, ours);
        ASSERT_EQ(0u, wt::put_page(h, uint16_t(raws.size()), info, raws.back()));
    }
    wt::close(h);
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(5u, pages.size());
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(U32s({pages[i].compression, pages[i].width, pages[i].length, pages[i].photometric,
                        uint32_t(pages[i].xres), uint32_t(pages[i].yres)}),
                  U32s({cases[i].second, w, len, PHOTOMETRIC_MINISWHITE, 200, 100}));
        EXPECT_EQ("Qv/TAV, writer v00.06.02", pages[i].software);
        ASSERT_EQ(1u, pages[i].strips.size());
        EXPECT_TRUE(raws[i] == pages[i].strips[0]);
    }
    if (have_program("tiffinfo")) {
        std::string err = dir.file("err");
        EXPECT_EQ(0, run_command("tiffinfo -D " + path + " 2>&1 >/dev/null | grep -v 'Unknown field with tag 3293' >" + err + "; true"));
        EXPECT_TRUE(read_file(err).empty());
    }
}

TEST_F(WriteTiff, FiftyPages) {
    int32_t h = wt::create(path);
    for (uint16_t p = 1; p <= 50; ++p) {
        PageInfo info = wt::bilevel(64 + p, 10 + p);
        ASSERT_EQ(0u, wt::put_page(h, p, info, wt::pattern(size_t((64 + p + 7) / 8) * (10 + p), p)));
    }
    wt::close(h);
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(50u, pages.size());
    for (uint16_t i = 0; i < 50; ++i) {
        EXPECT_EQ(65u + i, pages[i].width);
        EXPECT_TRUE(wt::pattern(size_t((65 + i + 7) / 8) * (11 + i), i + 1) == pages[i].strips.at(0)) << i;
    }
    EXPECT_EQ(54u, File(path).at(8, 32934).count);
    if (have_program("tiffdump")) {
        EXPECT_EQ(0, run_command("tiffdump " + path + " >/dev/null 2>&1"));
    }
}

#endif  // QVTAV_HAVE_LIBTIFF

}  // namespace
