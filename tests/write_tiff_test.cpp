// Writing new TIFF files page by page: the layout of what is written, and
// independent readers (libtiff, tiffinfo) reading it back unchanged.
#include <algorithm>
#include <cstring>

#include "frame/fct.h"
#include "write_test_util.h"

namespace {

using wt::File;

constexpr uint32_t kFlagLast = 1;

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
    info.xResDen = 0;
    info.yResDen = 0;
    info.resolutionUnit = 7;
    std::vector<uint8_t> data = wt::pattern(80, 1);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, data));
    // The writer's corrections show in the caller's record.
    EXPECT_EQ(1u, info.xResDen);
    EXPECT_EQ(1u, info.yResDen);
    EXPECT_EQ(1u, info.resolutionUnit);
    wt::close(h);

    File f(path);
    ASSERT_GT(f.bytes.size(), 744u);
    EXPECT_EQ(0, std::memcmp(f.bytes.data(), "II*\0", 4));
    EXPECT_EQ(76u, f.first_ifd());
    EXPECT_EQ(0, std::memcmp(&f.bytes[8], "TEXO TIFF \x01\x00\x34\x00\x00\x00", 16));
    EXPECT_EQ(0, std::memcmp(&f.bytes[24], "Title:abc\0Author:\0", 18));
    auto es = f.entries(76);
    // Tags ascend; the first out-of-line value lies right behind the slot.
    for (size_t i = 1; i < es.size(); ++i) EXPECT_LT(es[i - 1].tag, es[i].tag);
    const wt::Entry* xres = f.find(es, 282);
    ASSERT_TRUE(xres);
    EXPECT_EQ(744u, xres->value);
    EXPECT_EQ(1u, f.u32(xres->value + 4));
    const wt::Entry* bits = f.find(es, 258);
    ASSERT_TRUE(bits);
    EXPECT_EQ(1u, bits->count);
    EXPECT_EQ(1u, bits->value);
    const wt::Entry* sw = f.find(es, 305);
    ASSERT_TRUE(sw);
    EXPECT_EQ(25u, sw->count);
    EXPECT_STREQ("Qv/TAV, writer v00.06.02", reinterpret_cast<const char*>(&f.bytes[sw->value]));
    // One strip: offset and count inline.
    const wt::Entry* off = f.find(es, 273);
    const wt::Entry* cnt = f.find(es, 279);
    ASSERT_TRUE(off && cnt);
    EXPECT_EQ(1u, off->count);
    EXPECT_EQ(80u, cnt->value);
    EXPECT_EQ(0, std::memcmp(&f.bytes[off->value], data.data(), data.size()));
    const wt::Entry* table = f.find(es, 32934);
    ASSERT_TRUE(table);
    EXPECT_EQ(1u, table->count);  // one page: no table
    EXPECT_EQ(0u, f.next_of(76));
}

TEST_F(WriteTiff, ThreePagesAreChainedAndTabled) {
    int32_t h = wt::create(path);
    std::vector<std::vector<uint8_t>> data;
    for (uint16_t p = 1; p <= 3; ++p) {
        PageInfo info = wt::bilevel(32, 8);
        data.push_back(wt::pattern(32 + p, p));
        ASSERT_EQ(0u, wt::put_page(h, p, info, data.back()));
    }
    wt::close(h);

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(3u, chain.size());
    EXPECT_EQ(8u, chain[0]);
    for (uint32_t ifd : chain) EXPECT_EQ(0u, ifd % 4);
    EXPECT_EQ(0u, f.next_of(chain[2]));
    auto es0 = f.entries(chain[0]);
    const wt::Entry* tag = f.find(es0, 32934);
    ASSERT_TRUE(tag);
    EXPECT_EQ(4u, tag->type);
    EXPECT_EQ(7u, tag->count);
    uint32_t t = tag->value;
    EXPECT_EQ(0u, t % 4);
    EXPECT_EQ(0, std::memcmp(&f.bytes[t], "TEXO", 4));
    EXPECT_EQ(1u, f.u32(t + 4));
    EXPECT_EQ(3u, f.u32(t + 8));
    EXPECT_EQ(f.bytes.size(), f.u32(t + 12));
    EXPECT_EQ(t + 28, f.bytes.size());
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(chain[i], f.u32(t + 16 + 4 * i));
    // Each page's data lies where its strip entry says.
    for (uint32_t i = 0; i < 3; ++i) {
        auto es = f.entries(chain[i]);
        uint32_t at = f.find(es, 273)->value;
        EXPECT_EQ(data[i].size(), f.find(es, 279)->value);
        EXPECT_EQ(0, std::memcmp(&f.bytes[at], data[i].data(), data[i].size()));
    }
}

TEST_F(WriteTiff, EntryTypesAndValues) {
    int32_t h = wt::create(path);
    PageInfo wide = wt::bilevel(70000, 2);
    ASSERT_EQ(0u, wt::put_page(h, 1, wide, wt::pattern(100, 2)));
    PageInfo rgb = wt::bilevel(65535, 1);
    rgb.samplesPerPixel = 3;
    rgb.bitsPerSample[0] = rgb.bitsPerSample[1] = rgb.bitsPerSample[2] = 8;
    rgb.photometric = TAV_PHOTO_RGB;
    rgb.rotation = 90;
    rgb.mirrored = 1;
    ASSERT_EQ(0u, wt::put_page(h, 2, rgb, wt::pattern(100, 3)));
    wt::close(h);

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    auto es0 = f.entries(chain[0]), es1 = f.entries(chain[1]);
    EXPECT_EQ(4u, f.find(es0, 256)->type);
    EXPECT_EQ(70000u, f.find(es0, 256)->value);
    EXPECT_EQ(3u, f.find(es1, 256)->type);
    EXPECT_EQ(65535u, f.find(es1, 256)->value);
    // Three samples: three SHORTs out of line, padded to 4 before the next value.
    const wt::Entry* bits = f.find(es1, 258);
    EXPECT_EQ(3u, bits->count);
    EXPECT_EQ(8u, f.u16(bits->value));
    EXPECT_EQ(8u, f.u16(bits->value + 4));
    EXPECT_EQ(0u, f.u16(bits->value + 6));
    EXPECT_EQ(bits->value + 8, f.find(es1, 282)->value);
    EXPECT_EQ(2u, f.find(es1, 262)->value);
    EXPECT_EQ(7u, f.find(es1, 274)->value);  // 90 degrees, mirrored
    EXPECT_EQ(1u, f.find(es1, 284)->value);
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
    EXPECT_EQ(100, xtavwrite(&h, s[0].data(), 100, 1, 2, &err));
    EXPECT_EQ(101, xtavwrite(&h, s[1].data(), 101, 1, 2, &err));
    EXPECT_EQ(99, xtavwrite(&h, s[2].data(), 99, 1, 3, &err));
    // The last-data flag alone is refused while the caller ends strips.
    PageInfo next = wt::bilevel(80, 30);
    ASSERT_EQ(0, xtavputi(&h, 2, &next, nullptr, &err));
    EXPECT_EQ(-1, xtavwrite(&h, s[0].data(), 10, 2, kFlagLast, &err));
    EXPECT_EQ(uint32_t(TAV_E_WRITE_FLAG), err);
    EXPECT_EQ(10, xtavwrite(&h, s[0].data(), 10, 2, 3, &err));
    wt::close(h);

    File f(path);
    auto es = f.entries(f.first_ifd());
    const wt::Entry* off = f.find(es, 273);
    const wt::Entry* cnt = f.find(es, 279);
    ASSERT_EQ(3u, off->count);
    ASSERT_EQ(3u, cnt->count);
    // Byte counts first, at the aligned end of the data, offsets behind them.
    EXPECT_EQ(0u, cnt->value % 4);
    EXPECT_EQ(cnt->value + 12, off->value);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s[i].size(), f.u32(cnt->value + 4 * i));
        EXPECT_EQ(0, std::memcmp(&f.bytes[f.u32(off->value + 4 * i)], s[i].data(), s[i].size()));
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
    // Data after the last-data flag needs new page information.
    EXPECT_EQ(-1, xtavwrite(&h, all.data(), 10, 1, 1, &err));
    EXPECT_EQ(uint32_t(TAV_E_SEQUENCE), err);
    PageInfo empty = wt::bilevel(8, 8);
    ASSERT_EQ(0, xtavputi(&h, 2, &empty, nullptr, &err));
    wt::close(h);

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    auto es = f.entries(chain[0]);
    EXPECT_EQ(1u, f.find(es, 279)->count);
    EXPECT_EQ(3000u, f.find(es, 279)->value);
    EXPECT_EQ(0, std::memcmp(&f.bytes[f.find(es, 273)->value], all.data(), 3000));
    auto es1 = f.entries(chain[1]);
    EXPECT_EQ(0u, f.find(es1, 273)->count);
    EXPECT_EQ(0u, f.find(es1, 279)->count);
}

TEST_F(WriteTiff, AnnotationAreasBelongToOnePage) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(16, 16);
    ASSERT_EQ(0, xtavputi(&h, 1, &info, nullptr, &err));
    std::vector<uint8_t> px = wt::pattern(32, 4);
    ASSERT_EQ(32, xtavwrite(&h, px.data(), 32, 1, 1, &err));
    // tiffWritePos stands at a position not a multiple of 4: the area is aligned.
    FctEntry* e = fct_entry_at(h);
    e->tiffWritePos = 4097;
    std::vector<uint8_t> a1 = wt::pattern(120, 5), a2 = wt::pattern(9, 6);
    TavAreaAppend app{120, a1.data()};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_AREA1_APPEND, reinterpret_cast<uint32_t*>(&app), &err));
    TavAreaInfo ai{};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_AREA1_INFO, reinterpret_cast<uint32_t*>(&ai), &err));
    EXPECT_EQ(120u, ai.length);
    EXPECT_EQ(4100u, ai.offset);
    TavAreaAppend app2{9, a2.data()};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_AREA2_APPEND, reinterpret_cast<uint32_t*>(&app2), &err));
    // Reading clips to the area.
    uint8_t buf[100];
    TavAreaRead rd{100, 90, buf};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_AREA1_READ, reinterpret_cast<uint32_t*>(&rd), &err));
    EXPECT_EQ(30u, rd.count);
    EXPECT_EQ(0, std::memcmp(buf, a1.data() + 90, 30));
    TavAreaRead past{100, 200, nullptr};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_AREA1_READ, reinterpret_cast<uint32_t*>(&past), &err));
    EXPECT_EQ(0u, past.count);

    PageInfo second = wt::bilevel(16, 16);
    ASSERT_EQ(0u, wt::put_page(h, 2, second, px));
    wt::close(h);

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    auto es = f.entries(chain[0]);
    std::vector<uint16_t> tags;
    for (auto& x : es) tags.push_back(x.tag);
    auto at = [&](uint16_t t) { return std::find(tags.begin(), tags.end(), t) - tags.begin(); };
    ASSERT_LT(size_t(at(32932)), tags.size());
    EXPECT_LT(at(32931), at(32932));
    EXPECT_LT(at(32932), at(32934));
    EXPECT_EQ(4100u, f.find(es, 32932)->value);
    EXPECT_EQ(0, std::memcmp(&f.bytes[4100], a1.data(), 120));
    auto es1 = f.entries(chain[1]);
    EXPECT_EQ(nullptr, f.find(es1, 32931));
    EXPECT_EQ(nullptr, f.find(es1, 32932));
}

TEST_F(WriteTiff, OldStyleJpegEntries) {
    int32_t h = wt::create(path);
    uint8_t header[40] = {0xFF, 0xD8};
    JpegInfo j{};
    j.jpegOptions = (1u << 14) | (2u << 16);  // subsampling 2, 2
    j.headerLength = sizeof header;
    j.header = header;
    j.restartInterval = 7;
    j.unused[0] = 1;  // one quantisation table at 20
    j.unused[1] = 20;
    j.unused[4] = 2;  // two DC tables
    j.unused[5] = 4;
    j.unused[6] = 8;
    PageInfo info = wt::bilevel(16, 16, TAV_COMP_JPEG_INFO);
    info.samplesPerPixel = 1;
    info.photometric = TAV_PHOTO_RGB;
    info.compressionInfo.jpeg = &j;
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(50, 1)));
    EXPECT_EQ(uint32_t(TAV_PHOTO_YCBCR), info.photometric);
    EXPECT_EQ(nullptr, info.compressionInfo.jpeg);
    wt::close(h);

    File f(path);
    auto es = f.entries(8);
    EXPECT_EQ(6u, f.find(es, 259)->value);
    EXPECT_EQ(6u, f.find(es, 262)->value);
    uint32_t hpos = f.find(es, 513)->value;
    EXPECT_EQ(0, std::memcmp(&f.bytes[hpos], header, sizeof header));
    EXPECT_EQ(40u, f.find(es, 514)->value);
    EXPECT_EQ(7u, f.find(es, 515)->value);
    EXPECT_EQ(hpos + 20, f.find(es, 519)->value);
    const wt::Entry* dc = f.find(es, 520);
    EXPECT_EQ(2u, dc->count);
    EXPECT_EQ(hpos + 8, f.u32(dc->value + 4));
    EXPECT_EQ(hpos + 8, j.unused[6]);  // the caller's offsets were made absolute
    const wt::Entry* sub = f.find(es, 530);
    EXPECT_EQ(2u, f.u16(sub->pos + 8));
    EXPECT_EQ(2u, f.u16(sub->pos + 10));
}

TEST_F(WriteTiff, RefusedCompressionAndPhotometric) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    PageInfo info = wt::bilevel(8, 8, TAV_COMP_JPEG);
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_COMPRESSION), err);
    info = wt::bilevel(8, 8);
    info.photometric = 2;
    EXPECT_EQ(-1, xtavputi(&h, 1, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_UNSUPPORTED), err);
    // A later page than the next one would leave a hole.
    info = wt::bilevel(8, 8);
    EXPECT_EQ(-1, xtavputi(&h, 2, &info, nullptr, &err));
    EXPECT_EQ(uint32_t(TAV_E_PAGE), err);
    EXPECT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(8, 1)));
    wt::close(h);
}

#ifdef QVTAV_HAVE_LIBTIFF

// Pre-compressed data of every compression, written page by page and read
// back by libtiff: tags, raw strips and decoded pixels.
TEST_F(WriteTiff, LibtiffReadsEveryCompression) {
    struct Case { uint32_t ours; uint16_t tiff; };
    const Case cases[] = {{TAV_COMP_NONE, COMPRESSION_NONE},
                          {TAV_COMP_PACKBITS, COMPRESSION_PACKBITS},
                          {TAV_COMP_CCITT_T4, COMPRESSION_CCITTFAX3},
                          {TAV_COMP_CCITT_T6, COMPRESSION_CCITTFAX4},
                          {TAV_COMP_LZW, COMPRESSION_LZW}};
    const uint32_t w = 256, len = 64;
    std::vector<uint8_t> px(w / 8 * len, 0);
    for (uint32_t y = 0; y < len; ++y)
        for (uint32_t x = y % 7; x < w; x += 13) px[y * (w / 8) + x / 8] |= uint8_t(0x80 >> (x % 8));
    int32_t h = wt::create(path);
    std::vector<std::vector<uint8_t>> raws;
    uint16_t page = 1;
    for (const Case& c : cases) {
        raws.push_back(wt::libtiff_compress(dir.file("c.tif"), px, w, len, 1, 1,
                                            PHOTOMETRIC_MINISWHITE, c.tiff));
        ASSERT_FALSE(raws.back().empty());
        PageInfo info = wt::bilevel(w, len, c.ours);
        ASSERT_EQ(0u, wt::put_page(h, page++, info, raws.back()));
    }
    wt::close(h);

    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(5u, pages.size());
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cases[i].tiff, pages[i].compression);
        EXPECT_EQ(w, pages[i].width);
        EXPECT_EQ(len, pages[i].length);
        EXPECT_EQ(PHOTOMETRIC_MINISWHITE, pages[i].photometric);
        EXPECT_EQ(200.0f, pages[i].xres);
        EXPECT_EQ(100.0f, pages[i].yres);
        EXPECT_EQ("Qv/TAV, writer v00.06.02", pages[i].software);
        ASSERT_EQ(1u, pages[i].strips.size());
        EXPECT_TRUE(wt::same_bytes(raws[i], pages[i].strips[0]));
        EXPECT_TRUE(wt::same_bytes(px, wt::libtiff_decode(path, int(i))));
    }
    if (have_program("tiffinfo")) {
        // Our private tags are unknown to libtiff; nothing else may be said.
        EXPECT_EQ(0, run_command("tiffinfo -D " + path + " >/dev/null 2>" + dir.file("err")));
        std::vector<uint8_t> bytes = read_file(dir.file("err"));
        std::string said(bytes.begin(), bytes.end()), line, other;
        for (size_t at = 0; at < said.size();) {
            size_t nl = said.find('\n', at);
            line = said.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            at = nl == std::string::npos ? said.size() : nl + 1;
            if (line.find("Unknown field with tag 3293") == std::string::npos) other += line;
        }
        EXPECT_EQ("", other);
    }
}

TEST_F(WriteTiff, LibtiffReadsPaletteGreyRgbAndTexts) {
    int32_t h = wt::create(path);
    // Palette, 4 bits: a colour map of 3 x 16 entries.
    std::vector<uint16_t> map(48);
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 1000);
    PageInfo pal = wt::bilevel(16, 4);
    pal.bitsPerSample[0] = 4;
    pal.photometric = TAV_PHOTO_PALETTE;
    pal.area.palette.colorMapSize = uint32_t(map.size() * 2);
    pal.area.palette.colorMapBuffer = map.data();
    pal.area.palette.planarConfig = 1;
    TextTagBuf texts[9] = {};
    char name[] = "scan 17";
    char ab[] = "ab";  // short enough to lie in its entry
    texts[TAV_TEXT_DOCUMENT_NAME] = {sizeof name, name};
    texts[TAV_TEXT_PAGE_NAME] = {sizeof ab, ab};
    pal.textTags = texts;
    std::vector<uint8_t> palData = wt::pattern(32, 1);
    ASSERT_EQ(0u, wt::put_page(h, 1, pal, palData));
    PageInfo grey = wt::bilevel(10, 3);
    grey.bitsPerSample[0] = 8;
    grey.photometric = TAV_PHOTO_GRAY_BLACK;
    ASSERT_EQ(0u, wt::put_page(h, 2, grey, wt::pattern(30, 2)));
    PageInfo rgb = wt::bilevel(5, 2);
    rgb.samplesPerPixel = 3;
    rgb.bitsPerSample[0] = rgb.bitsPerSample[1] = rgb.bitsPerSample[2] = 8;
    rgb.photometric = TAV_PHOTO_RGB;
    std::vector<uint8_t> rgbData = wt::pattern(30, 3);
    ASSERT_EQ(0u, wt::put_page(h, 3, rgb, rgbData));
    wt::close(h);

    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(3u, pages.size());
    EXPECT_EQ(PHOTOMETRIC_PALETTE, pages[0].photometric);
    EXPECT_EQ(4, pages[0].bps);
    EXPECT_EQ("scan 17", pages[0].documentName);
    EXPECT_TRUE(wt::same_bytes(palData, pages[0].strips[0]));
    EXPECT_EQ(PHOTOMETRIC_MINISBLACK, pages[1].photometric);
    EXPECT_EQ(PHOTOMETRIC_RGB, pages[2].photometric);
    EXPECT_EQ(3, pages[2].spp);
    EXPECT_TRUE(wt::same_bytes(rgbData, wt::libtiff_decode(path, 2)));

    wt::quiet_libtiff();
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(t);
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b));
    EXPECT_EQ(0, std::memcmp(r, map.data(), 32));
    EXPECT_EQ(0, std::memcmp(b, map.data() + 32, 32));
    char* pn = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PAGENAME, &pn));
    EXPECT_STREQ("ab", pn);
    TIFFClose(t);
}

TEST_F(WriteTiff, BigEndianThroughOptionFourteen) {
    int32_t h = wt::create(path);
    uint32_t err = 0;
    uint16_t mm = 0x4D4D;
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_BYTE_ORDER, reinterpret_cast<uint32_t*>(&mm), &err));
    std::vector<std::vector<uint8_t>> data;
    for (uint16_t p = 1; p <= 3; ++p) {
        PageInfo info = wt::bilevel(200, 1);
        info.samplesPerPixel = 3;
        info.bitsPerSample[0] = info.bitsPerSample[1] = info.bitsPerSample[2] = 8;
        info.photometric = TAV_PHOTO_RGB;
        data.push_back(wt::pattern(600, p));
        ASSERT_EQ(0u, wt::put_page(h, p, info, data.back()));
    }
    wt::close(h);
    File f(path);
    EXPECT_EQ(0, std::memcmp(f.bytes.data(), "MM\0*", 4));
    auto es = f.entries(f.first_ifd());
    uint32_t t = f.find(es, 32934)->value;
    EXPECT_EQ(0, std::memcmp(&f.bytes[t], "OXET", 4));
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(3u, pages.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(200u, pages[i].width);
        EXPECT_EQ(8, pages[i].bps);
        EXPECT_TRUE(wt::same_bytes(data[i], pages[i].strips[0]));
    }
}

TEST_F(WriteTiff, FiftyPagesInterop) {
    int32_t h = wt::create(path);
    std::vector<std::vector<uint8_t>> data;
    for (uint16_t p = 1; p <= 50; ++p) {
        PageInfo info = wt::bilevel(64 + p, 10 + p);
        data.push_back(wt::pattern(size_t((64 + p + 7) / 8) * (10 + p), p));
        ASSERT_EQ(0u, wt::put_page(h, p, info, data.back()));
    }
    wt::close(h);
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(50u, pages.size());
    for (size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(65 + i, pages[i].width);
        ASSERT_EQ(1u, pages[i].strips.size());
        EXPECT_TRUE(wt::same_bytes(data[i], pages[i].strips[0]));
    }
    File f(path);
    auto es = f.entries(f.first_ifd());
    EXPECT_EQ(54u, f.find(es, 32934)->count);
    if (have_program("tiffdump")) {
        EXPECT_EQ(0, run_command("tiffdump " + path + " >/dev/null 2>&1"));
    }
}

#endif  // QVTAV_HAVE_LIBTIFF

}  // namespace

namespace {

// Our own reader gives back what was written: page information, texts and
// the stored data.
TEST(WriteTiffRoundTrip, OwnReaderReadsWhatWasWritten) {
    TempDir dir;
    std::string path = dir.file("rt.tif");
    int32_t h = wt::create(path);
    char title[] = "Invoice", author[] = "Scanner", empty[] = "";
    std::vector<std::vector<uint8_t>> data;
    for (uint16_t p = 1; p <= 3; ++p) {
        PageInfo info = wt::bilevel(100 * p, 20 + p, p == 2 ? TAV_COMP_CCITT_T6 : TAV_COMP_PACKBITS);
        info.xResNum = 300;
        info.yResNum = 150 * p;
        if (p == 1) {
            info.title = title;
            info.author = author;
            info.subject = info.keywords = info.comments = empty;
        }
        data.push_back(wt::pattern(500 + p, p));
        ASSERT_EQ(0u, wt::put_page(h, p, info, data.back()));
    }
    wt::close(h);

    PathBuf pb(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t r = xtavopen(nullptr, pb, TAV_OPEN_READ, &type, &pages, &err);
    ASSERT_GT(r, 0) << err;
    EXPECT_EQ(3u, pages);
    for (uint16_t p = 1; p <= 3; ++p) {
        SCOPED_TRACE(p);
        PageInfo info{};
        PageSizes sizes{};
        ASSERT_EQ(0, xtavgeti(&r, p, &info, &sizes, &err)) << err;
        EXPECT_EQ(100u * p, info.imageWidth);
        EXPECT_EQ(20u + p, info.imageLength);
        EXPECT_EQ(p == 2 ? TAV_COMP_CCITT_T6 : TAV_COMP_PACKBITS, info.compression);
        EXPECT_EQ(uint32_t(TAV_PHOTO_BILEVEL_WHITE), info.photometric);
        EXPECT_EQ(150u * p, info.yResNum);
        EXPECT_EQ(1u, info.yResDen);
        ASSERT_TRUE(info.title);
        EXPECT_STREQ("Invoice", info.title);
        EXPECT_STREQ("Scanner", info.author);
        // The reader lets a single strip run to the end of the file; the
        // page's bytes come first.
        ASSERT_GE(sizes.dataBytes, data[p - 1].size());
        std::vector<uint8_t> got(data[p - 1].size());
        uint32_t remaining = 0;
        ASSERT_GE(xtavread(&r, got.data(), 0, uint32_t(got.size()), &remaining, p, &err), 0) << err;
        EXPECT_TRUE(wt::same_bytes(data[p - 1], got));
    }
    xtavclose(&r, &err);
}

}  // namespace
