// Writing new TIFF files page by page: the layout of what is written, and
// independent readers (libtiff, tiffinfo) and our own reading it back.
#include <algorithm>
#include <cstring>

#include "frame/fct.h"
#include "write_test_util.h"

namespace {

using wt::File;

struct WriteTiff : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("out.tif");
};

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
    EXPECT_EQ(744u, f.at(76, 282).value);  // the first value right behind the 668-byte slot
    EXPECT_EQ(1u, f.u32(744 + 4));
    EXPECT_EQ(1u, f.at(76, 258).count);
    EXPECT_EQ(1u, f.at(76, 258).value);
    const wt::Entry sw = f.at(76, 305);
    EXPECT_EQ(25u, sw.count);
    EXPECT_STREQ("Qv/TAV, writer v00.06.02", reinterpret_cast<const char*>(&f.bytes[sw.value]));
    EXPECT_EQ(1u, f.at(76, 273).count);  // one strip: offset and count inline
    EXPECT_EQ(80u, f.at(76, 279).value);
    EXPECT_TRUE(f.holds(f.at(76, 273).value, data));
    EXPECT_EQ(1u, f.at(76, 32934).count);  // one page: no table
    EXPECT_EQ(0u, f.next_of(76));
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
        auto chain = f.chain();
        ASSERT_EQ(n, chain.size());
        EXPECT_EQ(8u, chain[0]);
        const wt::Entry tag = f.at(8, 32934);
        EXPECT_EQ(4u, tag.type);
        EXPECT_EQ(n + 4, tag.count);
        const uint32_t t = tag.value;  // at the aligned end, closing the file
        EXPECT_EQ(0u, t % 4);
        EXPECT_EQ(t + 16 + 4 * n, f.bytes.size());
        EXPECT_EQ(0, std::memcmp(&f.bytes[t], "TEXO", 4));
        EXPECT_EQ(1u, f.u32(t + 4));
        EXPECT_EQ(n, f.u32(t + 8));
        EXPECT_EQ(f.bytes.size(), f.u32(t + 12));
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(0u, chain[i] % 4);
            EXPECT_EQ(chain[i], f.u32(t + 16 + 4 * i));
            EXPECT_EQ(32 + i + 1, f.at(chain[i], 279).value);
            EXPECT_TRUE(f.holds(f.at(chain[i], 273).value, wt::pattern(33 + i, i + 1)));
        }
    }
}

TEST_F(WriteTiff, EntryTypesAndValues) {
    int32_t h = wt::create(path);
    PageInfo wide = wt::bilevel(70000, 2);
    ASSERT_EQ(0u, wt::put_page(h, 1, wide, wt::pattern(100, 2)));
    PageInfo rgb = wt::rgb(65535, 1);
    rgb.rotation = 90;
    rgb.mirrored = 1;
    ASSERT_EQ(0u, wt::put_page(h, 2, rgb, wt::pattern(100, 3)));
    wt::close(h);

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(4u, f.at(chain[0], 256).type);
    EXPECT_EQ(70000u, f.at(chain[0], 256).value);
    EXPECT_EQ(3u, f.at(chain[1], 256).type);
    EXPECT_EQ(65535u, f.at(chain[1], 256).value);
    // Three samples: three SHORTs out of line, padded to 4 before the next value.
    const wt::Entry bits = f.at(chain[1], 258);
    EXPECT_EQ(3u, bits.count);
    EXPECT_TRUE(f.holds(bits.value, {8, 0, 8, 0, 8, 0, 0, 0}));
    EXPECT_EQ(bits.value + 8, f.at(chain[1], 282).value);
    EXPECT_EQ(2u, f.at(chain[1], 262).value);
    EXPECT_EQ(7u, f.at(chain[1], 274).value);  // 90 degrees, mirrored
    EXPECT_EQ(1u, f.at(chain[1], 284).value);
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

    File f(path);
    const wt::Entry off = f.at(f.first_ifd(), 273), cnt = f.at(f.first_ifd(), 279);
    ASSERT_EQ(3u, off.count);
    ASSERT_EQ(3u, cnt.count);
    EXPECT_EQ(0u, cnt.value % 4);  // byte counts first, at the aligned end, offsets behind
    EXPECT_EQ(cnt.value + 12, off.value);
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
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(1u, f.at(chain[0], 279).count);
    EXPECT_EQ(3000u, f.at(chain[0], 279).value);
    EXPECT_TRUE(f.holds(f.at(chain[0], 273).value, all));
    EXPECT_EQ(0u, f.at(chain[1], 273).count + f.at(chain[1], 279).count);
}

TEST_F(WriteTiff, AnnotationAreasBelongToOnePage) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(16, 16);
    std::vector<uint8_t> px = wt::pattern(32, 4), a1 = wt::pattern(120, 5), a2 = wt::pattern(9, 6);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, px));
    fct_entry_at(h)->tiffWritePos = 4097;  // the first append is aligned: 4100
    auto opt = [&](uint32_t o, void* v) { return xtavopts(&h, 1, o, static_cast<uint32_t*>(v), &err); };
    TavAreaAppend app{120, a1.data()}, app2{9, a2.data()};
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_APPEND, &app));
    TavAreaInfo ai{};
    ASSERT_EQ(0, opt(TAV_OPT_AREA1_INFO, &ai));
    EXPECT_EQ(120u, ai.length);
    EXPECT_EQ(4100u, ai.offset);
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
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    std::vector<uint16_t> tags;
    for (auto& x : f.entries(chain[0])) tags.push_back(x.tag);
    auto pos = [&](uint16_t t) { return std::find(tags.begin(), tags.end(), t) - tags.begin(); };
    EXPECT_LT(pos(32931), pos(32932));
    EXPECT_LT(pos(32932), pos(32934));
    EXPECT_LT(pos(32934), long(tags.size()));
    EXPECT_EQ(4100u, f.at(chain[0], 32932).value);
    EXPECT_TRUE(f.holds(4100, a1));
    EXPECT_EQ(0u, f.at(chain[1], 32931).tag + f.at(chain[1], 32932).tag);  // not repeated on page 2
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
    PageInfo info = wt::bilevel(16, 16, TAV_COMP_JPEG_INFO);
    info.photometric = TAV_PHOTO_RGB;
    info.compressionInfo.jpeg = &j;
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(50, 1)));
    EXPECT_EQ(uint32_t(TAV_PHOTO_YCBCR), info.photometric);
    EXPECT_EQ(nullptr, info.compressionInfo.jpeg);
    wt::close(h);

    File f(path);
    EXPECT_EQ(6u, f.at(8, 259).value);  // compression 12 written as 6
    EXPECT_EQ(6u, f.at(8, 262).value);
    const uint32_t hpos = f.at(8, 513).value;
    EXPECT_TRUE(f.holds(hpos, std::vector<uint8_t>(header, header + 40)));
    EXPECT_EQ(40u, f.at(8, 514).value);
    EXPECT_EQ(7u, f.at(8, 515).value);
    EXPECT_EQ(hpos + 20, f.at(8, 519).value);
    EXPECT_EQ(2u, f.at(8, 520).count);
    EXPECT_EQ(hpos + 8, f.u32(f.at(8, 520).value + 4));
    EXPECT_EQ(hpos + 8, j.unused[6]);  // the caller's offsets were made absolute
    EXPECT_EQ(0x20002u, f.u32(f.at(8, 530).pos + 8));
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
}

// Three pages with texts, read back by our own reader and by libtiff, in
// "II" by default and in "MM" through option 14.
TEST_F(WriteTiff, RoundTripInBothByteOrders) {
    for (bool mm : {false, true}) {
        std::string p = dir.file(mm ? "mm.tif" : "ii.tif");
        int32_t h = wt::create(p);
        uint32_t err = 0;
        uint16_t order = 0x4D4D;
        if (mm) {
            ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_BYTE_ORDER, reinterpret_cast<uint32_t*>(&order), &err));
        }
        char title[] = "Invoice", author[] = "Scanner", empty[] = "";
        std::vector<std::vector<uint8_t>> data;
        for (uint16_t k = 1; k <= 3; ++k) {
            PageInfo info = k == 3 ? wt::rgb(100, 2) : wt::bilevel(100 * k, 20 + k, k == 2 ? TAV_COMP_CCITT_T6 : TAV_COMP_PACKBITS);
            info.yResNum = 150 * k;
            info.title = title;
            info.author = author;
            info.subject = info.keywords = info.comments = empty;
            data.push_back(wt::pattern(600, k));
            ASSERT_EQ(0u, wt::put_page(h, k, info, data.back()));
        }
        wt::close(h);
        File f(p);
        EXPECT_EQ(0, std::memcmp(f.bytes.data(), mm ? "MM\0*" : "II*\0", 4));
        EXPECT_EQ(0, std::memcmp(&f.bytes[f.at(f.first_ifd(), 32934).value], mm ? "OXET" : "TEXO", 4));

        PathBuf pb(p);
        uint32_t type = 0, pages = 0;
        int32_t r = xtavopen(nullptr, pb, TAV_OPEN_READ, &type, &pages, &err);
        ASSERT_GT(r, 0) << err;
        EXPECT_EQ(3u, pages);
        for (uint16_t k = 1; k <= 3; ++k) {
            PageInfo info{};
            PageSizes sizes{};
            ASSERT_EQ(0, xtavgeti(&r, k, &info, &sizes, &err)) << err;
            EXPECT_EQ(k == 3 ? 100u : 100u * k, info.imageWidth);
            EXPECT_EQ(k == 3 ? 3u : 1u, info.samplesPerPixel);
            EXPECT_EQ(k == 2 ? TAV_COMP_CCITT_T6 : k == 1 ? TAV_COMP_PACKBITS : TAV_COMP_NONE, info.compression);
            EXPECT_EQ(150u * k, info.yResNum);
            ASSERT_TRUE(info.title);
            EXPECT_STREQ("Invoice", info.title);
            EXPECT_STREQ("Scanner", info.author);
            std::vector<uint8_t> got(600);  // a single strip runs to the file's end: the page's bytes first
            uint32_t remaining = 0;
            ASSERT_GE(xtavread(&r, got.data(), 0, 600, &remaining, k, &err), 0) << err;
            EXPECT_TRUE(data[k - 1] == got) << k;
        }
        xtavclose(&r, &err);
#ifdef QVTAV_HAVE_LIBTIFF
        auto lt = wt::libtiff_read(p);
        ASSERT_EQ(3u, lt.size());
        for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(data[i] == lt[i].strips.at(0)) << i;
        EXPECT_EQ(PHOTOMETRIC_RGB, lt[2].photometric);
        EXPECT_TRUE(data[2] == wt::libtiff_decode(p, 2));
#endif
    }
}

#ifdef QVTAV_HAVE_LIBTIFF

// Pre-compressed data of every compression read back by libtiff: tags, raw
// strips and decoded pixels; tiffinfo complains of nothing but our private tags.
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
        EXPECT_EQ(cases[i].second, pages[i].compression);
        EXPECT_EQ(w * 1000 + len, pages[i].width * 1000 + pages[i].length);
        EXPECT_EQ(PHOTOMETRIC_MINISWHITE, pages[i].photometric);
        EXPECT_EQ(200.0f * 1000 + 100.0f, pages[i].xres * 1000 + pages[i].yres);
        EXPECT_EQ("Qv/TAV, writer v00.06.02", pages[i].software);
        ASSERT_EQ(1u, pages[i].strips.size());
        EXPECT_TRUE(raws[i] == pages[i].strips[0]);
        EXPECT_TRUE(px == wt::libtiff_decode(path, int(i)));
    }
    if (have_program("tiffinfo")) {
        std::string err = dir.file("err");
        EXPECT_EQ(0, run_command("tiffinfo -D " + path + " 2>&1 >/dev/null | grep -v 'Unknown field with tag 3293' >" + err + "; true"));
        EXPECT_TRUE(read_file(err).empty());
    }
}

TEST_F(WriteTiff, LibtiffReadsPaletteGreyAndTexts) {
    int32_t h = wt::create(path);
    std::vector<uint16_t> map(48);  // 4 bits: 3 x 16 entries
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 1000);
    PageInfo pal = wt::bilevel(16, 4);
    pal.bitsPerSample[0] = 4;
    pal.photometric = TAV_PHOTO_PALETTE;
    pal.area.palette.colorMapSize = uint32_t(map.size() * 2);
    pal.area.palette.colorMapBuffer = map.data();
    pal.area.palette.planarConfig = 1;
    TextTagBuf texts[9] = {};
    char name[] = "scan 17", ab[] = "ab";  // "ab" lies in its entry
    texts[TAV_TEXT_DOCUMENT_NAME] = {sizeof name, name};
    texts[TAV_TEXT_PAGE_NAME] = {sizeof ab, ab};
    pal.textTags = texts;
    ASSERT_EQ(0u, wt::put_page(h, 1, pal, wt::pattern(32, 1)));
    PageInfo grey = wt::bilevel(10, 3);
    grey.bitsPerSample[0] = 8;
    grey.photometric = TAV_PHOTO_GRAY_BLACK;
    ASSERT_EQ(0u, wt::put_page(h, 2, grey, wt::pattern(30, 2)));
    wt::close(h);

    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(2u, pages.size());
    EXPECT_EQ(PHOTOMETRIC_PALETTE, pages[0].photometric);
    EXPECT_EQ(4, pages[0].bps);
    EXPECT_EQ("scan 17", pages[0].documentName);
    EXPECT_EQ(PHOTOMETRIC_MINISBLACK, pages[1].photometric);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(t);
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    char* pn = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b));
    EXPECT_EQ(0, std::memcmp(r, map.data(), 32));
    EXPECT_EQ(0, std::memcmp(b, map.data() + 32, 32));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PAGENAME, &pn));
    EXPECT_STREQ("ab", pn);
    TIFFClose(t);
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
