// The PCX and DCX writers: headers, the run-length code, the palette
// trailer, DCX page tables (new files and updates), refusals, and files
// read back by the library, Pillow and ImageMagick with the pixels given.
#include <gtest/gtest.h>

#include <cstring>

#include "format_test_util.h"
#include "write_formats_util.h"

namespace {

using wf::Image;

constexpr uint32_t kDcxStart = 4100;  // mark and page table

// An image of `bits` (1 to 4, 8 or 24) with pseudo-random pixels, its rows as
// the PCX writer takes them: bilevel rows of bits (1 white), 2 to 4 bits
// as packed nibbles, a byte a pixel, or red, green, blue.
Image pcx_image(uint32_t bits, uint32_t width, uint32_t length, uint32_t seed) {
    Image im;
    im.width = width;
    im.length = length;
    im.bits = bits;
    const std::vector<uint8_t> noise = wt::pattern(size_t(width) * length * 3 + 64, seed);
    if (bits > 1 && bits <= 8) {
        im.map = wt::pattern(3u << bits, seed + 1);
        im.photometric = TAV_PHOTO_PALETTE;
    }
    if (bits == 1) {
        im.rowBytes = (width + 7) / 8;
        im.photometric = TAV_PHOTO_BILEVEL_BLACK;
    } else if (bits <= 4) {
        im.rowBytes = (width + 1) / 2;
    } else if (bits <= 8) {
        im.rowBytes = width;
    } else {
        im.rowBytes = 3 * width;
        im.photometric = TAV_PHOTO_RGB;
    }
    im.rows.assign(noise.begin(), noise.begin() + long(im.rowBytes) * length);
    for (uint32_t y = 0; y < length; ++y) {
        const uint8_t* row = &im.rows[size_t(y) * im.rowBytes];
        for (uint32_t x = 0; x < width; ++x) {
            if (bits == 24) {
                im.rgb.insert(im.rgb.end(), row + 3 * x, row + 3 * x + 3);
                continue;
            }
            uint32_t v;
            if (bits == 1) v = (row[x / 8] >> (7 - x % 8)) & 1;
            // (2 and 3 bits: the planes take the low bits of each nibble)
            else if (bits <= 4) v = (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0xF) & ((1u << bits) - 1);
            else v = row[x];
            if (bits == 1) im.rgb.insert(im.rgb.end(), 3, v ? 255 : 0);
            else im.rgb.insert(im.rgb.end(), im.map.begin() + 3 * v, im.map.begin() + 3 * v + 3);
        }
    }
    return im;
}

struct PcxTest : ::testing::Test {
    TempDir dir;
    int n = 0;
    std::string next(const char* ext = "pcx") { return dir.file("f" + std::to_string(n++) + "." + ext); }
};

// The 128-byte header's fields: version, bits per plane, planes, bytes per
// line, xmax, ymax, palette information.
std::vector<uint32_t> header_fields(const std::vector<uint8_t>& f, size_t at) {
    auto u16 = [&](size_t k) { return uint32_t(f[at + k] | f[at + k + 1] << 8); };
    return {f[at + 1], f[at + 3], f[at + 65], u16(66), u16(8), u16(10), u16(68)};
}

TEST_F(PcxTest, HeadersOfOneEightAndTwentyFourBits) {
    struct Case {
        uint32_t bits, width, length;
        std::vector<uint32_t> header;
    } cases[] = {
        {1, 100, 50, {2, 1, 1, 13, 99, 49, 1}},
        {8, 640, 2, {5, 8, 1, 640, 639, 1, 1}},
        {24, 33, 3, {5, 8, 3, 33, 32, 2, 0}},
        {4, 9, 2, {2, 1, 4, 2, 8, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        Image im = pcx_image(c.bits, c.width, c.length, c.bits);
        const std::string path = next();
        int32_t h = wt::create(path, FILETYPE_PCX);
        PageInfo info = wf::info_for(im);
        info.rowsPerStrip = 0xABCD0000;
        ASSERT_EQ(wf::put(h, 1, info), 0u);
        // The layout values: the data offset in rowsPerStrip's low half,
        // the bytes per line in the flags word.
        EXPECT_EQ(info.rowsPerStrip, 0xABCD0080u);
        EXPECT_EQ(uint32_t(info.privateTagFlags | info.formatBytes[0] << 8), c.header[3]);
        ASSERT_EQ(wf::write_rows(h, 1, im, 1), 0u);
        wt::close(h);
        const std::vector<uint8_t> f = read_file(path);
        ASSERT_GE(f.size(), 128u);
        EXPECT_EQ(header_fields(f, 0), c.header);
        EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 3), std::vector<uint8_t>({10, uint8_t(c.header[0]), 1}));
        // No resolution is written; the header palette only for 16 colours.
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 12, f.begin() + 16), std::vector<uint8_t>(4, 0));
        std::vector<uint8_t> palette(f.begin() + 16, f.begin() + 64);
        EXPECT_EQ(palette, c.bits == 4 ? im.map : std::vector<uint8_t>(48, 0));
    }
}

// One page of one row: the coded bytes behind the header.
std::vector<uint8_t> coded_row(PcxTest& t, uint32_t bits, uint32_t width, std::vector<uint8_t> row) {
    Image im;
    im.bits = bits;
    im.width = width;
    im.length = 1;
    im.rows = row;
    im.rowBytes = uint32_t(row.size());
    if (bits == 8) im.map = std::vector<uint8_t>(768, 7);
    const std::string path = t.next();
    std::vector<Image> pages{im};
    EXPECT_TRUE(wf::write_file_of(path, FILETYPE_PCX, pages));
    std::vector<uint8_t> f = read_file(path);
    const size_t trailer = bits == 8 ? 769 : 0;
    if (f.size() < 128 + trailer) return {};
    return {f.begin() + 128, f.end() - long(trailer)};
}

TEST_F(PcxTest, RunLengthCode) {
    using V = std::vector<uint8_t>;
    EXPECT_EQ(coded_row(*this, 1, 64, V(8, 0)), V({0xC7, 0x00, 0x00}));
    EXPECT_EQ(coded_row(*this, 8, 1, {0xC5}), V({0xC1, 0xC5}));
    EXPECT_EQ(coded_row(*this, 8, 4, {1, 2, 0x3F, 0x40}), V({1, 2, 0x3F, 0x40}));
    // A run of 100: 63 repeats, 36 repeats, then the last byte alone.
    EXPECT_EQ(coded_row(*this, 8, 100, V(100, 0x41)), V({0xFF, 0x41, 0xE4, 0x41, 0x41}));
    // A run of exactly 64 and one of 65.
    EXPECT_EQ(coded_row(*this, 8, 64, V(64, 9)), V({0xFF, 9, 9}));
    EXPECT_EQ(coded_row(*this, 8, 65, V(65, 9)), V({0xFF, 9, 0xC1, 9, 9}));
    // Two equal high bytes: a count of 1, then the second behind 0xC1.
    EXPECT_EQ(coded_row(*this, 8, 3, {0xC0, 0xC0, 1}), V({0xC1, 0xC0, 0xC1, 0xC0, 1}));
}

TEST_F(PcxTest, PaletteTrailerEndsAnEightBitPage) {
    Image im = pcx_image(8, 20, 5, 3);
    const std::string path = next();
    int32_t h = wt::create(path, FILETYPE_PCX);
    PageInfo info = wf::info_for(im);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    // The caller's map may be gone before the last data comes.
    std::vector<uint8_t> expected = im.map;
    std::fill(im.map.begin(), im.map.end(), 0xEE);
    uint32_t err = 0;
    const int32_t first = xtavwrite(&h, im.rows.data(), 3 * 20, 1, 0, &err);
    const int32_t last = xtavwrite(&h, im.rows.data() + 60, 2 * 20, 1, 1, &err);
    wt::close(h);
    const std::vector<uint8_t> f = read_file(path);
    ASSERT_GT(f.size(), 128u + 769);
    EXPECT_EQ(size_t(first + last), f.size() - 128);
    EXPECT_EQ(f[f.size() - 769], 0x0C);
    EXPECT_EQ(std::vector<uint8_t>(f.end() - 768, f.end()), expected);
}

TEST_F(PcxTest, DcxPagesGoToTheEndWithTheirTableEntries) {
    const std::string path = next("dcx");
    Image a = pcx_image(1, 40, 10, 1), b = pcx_image(8, 30, 4, 2);
    int32_t h = wt::create(path, FILETYPE_DCX);
    PageInfo ia = wf::info_for(a), ib = wf::info_for(b);
    ASSERT_EQ(wf::put(h, 1, ia), 0u);
    EXPECT_EQ(ia.compressionInfo.value, kDcxStart + 128);
    ASSERT_EQ(wf::write_rows(h, 1, a, 4), 0u);
    const uint32_t second = uint32_t(read_file(path).size());
    ASSERT_EQ(wf::put(h, 2, ib), 0u);
    EXPECT_EQ(ib.compressionInfo.value, second + 128);
    ASSERT_EQ(wf::write_rows(h, 2, b, 4), 0u);
    wt::close(h);

    const std::vector<uint8_t> f = read_file(path);
    auto u32 = [&](size_t k) { return uint32_t(f[k] | f[k + 1] << 8 | f[k + 2] << 16 | uint32_t(f[k + 3]) << 24); };
    EXPECT_EQ(std::vector<uint32_t>({u32(0), u32(4), u32(8), u32(12)}),
              std::vector<uint32_t>({987654321u, kDcxStart, second, 0}));
    EXPECT_EQ(header_fields(f, second), std::vector<uint32_t>({5, 8, 1, 30, 29, 3, 1}));
    OpenedFile r(path);
    ASSERT_EQ(std::vector<uint32_t>({r.type, r.pages}), std::vector<uint32_t>({FILETYPE_DCX, 2}));
    ASSERT_EQ(r.info(2), 0u);
    EXPECT_EQ(r.pi.compressionInfo.value, second + 128);
}

TEST_F(PcxTest, RefusesWhatTheFormatCannotHold) {
    Image im = pcx_image(8, 10, 2, 5);
    auto refusal = [&](uint32_t type, auto change) {
        return wf::refusal(next(type == FILETYPE_DCX ? "dcx" : "pcx"), type, im, change);
    };
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.bitsPerSample[0] = 12; }), uint32_t(TAV_E_COMPRESSION));
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.samplesPerPixel = 2; }), uint32_t(TAV_E_COMPRESSION));
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.imageWidth = 0; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(refusal(FILETYPE_DCX, [](PageInfo& i) { i.imageWidth = 65536; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.imageLength = 65536; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.area.palette.colorMapBuffer = nullptr; }),
              uint32_t(TAV_E_OPTION));
    EXPECT_EQ(refusal(FILETYPE_DCX, [](PageInfo& i) { i.area.palette.colorMapSize = 767; }),
              uint32_t(TAV_E_INCONSISTENT));
    // 16 colours need 48 bytes; 4 colours 12.
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.bitsPerSample[0] = 4, i.area.palette.colorMapSize = 47; }),
              uint32_t(TAV_E_INCONSISTENT));
    EXPECT_EQ(refusal(FILETYPE_PCX, [](PageInfo& i) { i.bitsPerSample[0] = 2, i.area.palette.colorMapSize = 12; }),
              0u);

    // Calls: fewer bytes than a row, data of another page, data after the
    // last.
    int32_t h = wt::create(next(), FILETYPE_PCX);
    PageInfo info = wf::info_for(im);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    uint32_t err = 0;
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 9, 1, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 10, 2, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OTHER_PAGE));
    EXPECT_GT(xtavwrite(&h, im.rows.data(), 20, 1, 1, &err), 769);
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 10, 1, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_SEQUENCE));
    // A PCX file holds one page, page 1; so does one opened for update.
    EXPECT_EQ(wf::put(h, 2, info), uint32_t(TAV_E_WRITTEN));
    wt::close(h);
    h = wt::create(next(), FILETYPE_PCX);
    EXPECT_EQ(wf::put(h, 2, info), uint32_t(TAV_E_PAGE));
    wt::close(h);
    const std::string one = next();
    std::vector<Image> pages{im};
    ASSERT_TRUE(wf::write_file_of(one, FILETYPE_PCX, pages));
    const std::vector<uint8_t> before = read_file(one);
    uint32_t count = 0;
    h = wt::open_update(one, &count);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(wf::put(h, 1, info), uint32_t(TAV_E_WRITTEN));
    wt::close(h);
    EXPECT_EQ(read_file(one), before);

    // DCX pages come in order, each once, at most 1024.
    h = wt::create(next("dcx"), FILETYPE_DCX);
    EXPECT_EQ(wf::put(h, 2, info), uint32_t(TAV_E_PAGE));
    EXPECT_EQ(wf::put(h, 1025, info), uint32_t(TAV_E_SIZE));
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    ASSERT_EQ(wf::write_rows(h, 1, im, 2), 0u);
    EXPECT_EQ(wf::put(h, 1, info), uint32_t(TAV_E_WRITTEN));
    wt::close(h);
}

// A call may code to more than 65534 bytes: the file is the same as when
// the rows come one by one.
TEST_F(PcxTest, LargeCallsGiveTheSameBytesAsSmallOnes) {
    std::vector<Image> pages{pcx_image(8, 3000, 40, 9)};  // noise: about 1.75 coded bytes a byte
    const std::string whole = next(), rowByRow = next();
    int32_t h = wt::create(whole, FILETYPE_PCX);
    PageInfo info = wf::info_for(pages[0]);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    uint32_t err = 0;
    const int32_t written = xtavwrite(&h, pages[0].rows.data(), uint32_t(pages[0].rows.size()), 1, 1, &err);
    wt::close(h);
    ASSERT_TRUE(wf::write_file_of(rowByRow, FILETYPE_PCX, pages, 1));
    const std::vector<uint8_t> f = read_file(whole);
    EXPECT_GT(f.size(), 128u + 120000);
    EXPECT_EQ(size_t(written), f.size() - 128);
    EXPECT_EQ(f, read_file(rowByRow));
}

// ImageMagick shows the set bits of every bilevel PCX page black, whatever
// the header's palette (of a file Pillow wrote too), where Pillow and this
// library's readers take them for white.
std::vector<uint8_t> inverted(std::vector<uint8_t> rgb) {
    for (auto& v : rgb) v = uint8_t(255 - v);
    return rgb;
}

// The page information the library reads back from a file it wrote.
void check_read_back(const std::string& path, uint16_t page, const Image& im) {
    OpenedFile r(path);
    ASSERT_EQ(r.info(page), 0u);
    const uint32_t bits = im.bits == 2 || im.bits == 3 ? 4 : im.bits;
    const uint32_t photometric = im.bits == 1 ? TAV_PHOTO_BILEVEL_BLACK : im.photometric;
    EXPECT_EQ(std::vector<uint32_t>({r.pi.imageWidth, r.pi.imageLength, r.pi.bitsPerSample[0], r.pi.photometric,
                                     r.pi.xResNum, r.pi.yResNum, r.pi.compression}),
              std::vector<uint32_t>({im.width, im.length, bits == 24 ? 8 : bits, photometric, 100, 100,
                                     TAV_COMP_NONE}));
    if (photometric == TAV_PHOTO_PALETTE) {
        std::vector<uint8_t> p = delivered_palette(r);
        std::vector<uint8_t> want(3u << bits, 0);
        std::copy_n(im.map.begin(), std::min(im.map.size(), want.size()), want.begin());
        EXPECT_EQ(p, want);
    }
}

TEST_F(PcxTest, PagesReadBackByTheLibraryPillowAndImageMagick) {
    if (pillow_missing() || oracle_missing("convert")) GTEST_SKIP() << "Pillow or ImageMagick missing";
    std::vector<Image> all;
    for (uint32_t bits : {1u, 4u, 8u, 24u}) all.push_back(pcx_image(bits, 37 + bits, 11, bits));
    const std::string dcx = next("dcx");
    ASSERT_TRUE(wf::write_file_of(dcx, FILETYPE_DCX, all, 4));
    for (uint32_t k = 0; k < all.size(); ++k) {
        const Image& im = all[k];
        SCOPED_TRACE(im.bits);
        std::vector<Image> one{im};
        const std::string pcx = next();
        ASSERT_TRUE(wf::write_file_of(pcx, FILETYPE_PCX, one, 5));
        check_read_back(pcx, 1, im);
        check_read_back(dcx, uint16_t(k + 1), im);
        for (const auto& [path, frame] : {std::pair{pcx, 0u}, std::pair{dcx, k}}) {
            SCOPED_TRACE(path);
            wf::Decoded p = wf::pillow_decode(path, frame), m = wf::magick_decode(path, frame);
            EXPECT_EQ(std::vector<uint32_t>({m.width, m.length}), std::vector<uint32_t>({im.width, im.length}));
            EXPECT_EQ(m.rgb, im.bits == 1 ? inverted(im.rgb) : im.rgb) << "ImageMagick";
            // Pillow reads a DCX page of 256 colours with the palette at
            // the end of the file and the data at offset 128, both wrong
            // but for a PCX file.
            if (path == dcx && im.bits == 8) continue;
            EXPECT_EQ(std::vector<uint32_t>({p.width, p.length}), std::vector<uint32_t>({im.width, im.length}));
            EXPECT_EQ(p.rgb, im.rgb) << "Pillow";
            if (path == dcx) {
                EXPECT_EQ(p.frames, all.size());
            }
        }
    }
    // Pages of 2 and 3 bits read back as 16-colour pages.
    for (uint32_t bits : {2u, 3u}) {
        std::vector<Image> one{pcx_image(bits, 21, 6, bits)};
        const std::string pcx = next();
        ASSERT_TRUE(wf::write_file_of(pcx, FILETYPE_PCX, one));
        check_read_back(pcx, 1, one[0]);
        EXPECT_EQ(wf::magick_decode(pcx).rgb, one[0].rgb) << bits;
    }
}

TEST_F(PcxTest, DcxOpenedForUpdateTakesPagesAndAbortPutsTheTableBack) {
    std::vector<Image> all{pcx_image(1, 64, 8, 1), pcx_image(8, 17, 5, 2), pcx_image(24, 9, 3, 3)};
    const std::string path = next("dcx");
    std::vector<Image> first{all[0]};
    ASSERT_TRUE(wf::write_file_of(path, FILETYPE_DCX, first));
    uint32_t count = 0;
    int32_t h = wt::open_update(path, &count);
    ASSERT_EQ(count, 1u);
    PageInfo info = wf::info_for(all[1]);
    ASSERT_EQ(wf::put(h, 2, info), 0u);
    ASSERT_EQ(wf::write_rows(h, 2, all[1], 2), 0u);
    wt::close(h);
    const std::vector<uint8_t> two = read_file(path);

    h = wt::open_update(path, &count);
    ASSERT_EQ(count, 2u);
    info = wf::info_for(all[2]);
    ASSERT_EQ(wf::put(h, 3, info), 0u);
    ASSERT_EQ(wf::write_rows(h, 3, all[2], 2), 0u);
    uint32_t err = 0;
    EXPECT_EQ(xtavabort(&h, &err), 0);
    EXPECT_EQ(read_file(path), two);

    OpenedFile r(path);
    ASSERT_EQ(r.pages, 2u);
    for (uint16_t p = 1; p <= 2; ++p) check_read_back(path, p, all[p - 1]);

    // An entry behind the table's first 0 does not become a page when a
    // page is appended in front of it.
    const std::string stale = next("dcx");
    Bytes b;
    b.le32(987654321).le32(0).le32(5000).fill(4100 - 12).fill(900, 0x11);
    write_file(stale, b.b);
    h = wt::open_update(stale, &count);
    ASSERT_EQ(count, 0u);
    info = wf::info_for(all[0]);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    ASSERT_EQ(wf::write_rows(h, 1, all[0], 8), 0u);
    wt::close(h);
    OpenedFile s(stale);
    EXPECT_EQ(s.pages, 1u);
    check_read_back(stale, 1, all[0]);
    if (!oracle_missing("convert")) {
        EXPECT_EQ(wf::magick_decode(path, 1).rgb, all[1].rgb);
    }
}

// A hostile table lists a page inside itself (offset 15): the page is
// refused when read, and an append, whose table slot lies in that page, is
// refused before anything is written.
TEST_F(PcxTest, DcxPageInsideTheTableIsRefused) {
    std::vector<Image> pages{pcx_image(1, 64, 8, 1), pcx_image(8, 17, 5, 2)};
    const std::string path = next("dcx");
    ASSERT_TRUE(wf::write_file_of(path, FILETYPE_DCX, pages));
    std::vector<uint8_t> bytes = read_file(path);
    for (auto [slot, value] : {std::pair<uint32_t, uint32_t>{12, 16777216}, {16, 15}})
        for (uint32_t k = 0; k < 4; ++k) bytes[slot + k] = uint8_t(value >> (8 * k));
    write_file(path, bytes);
    {
        OpenedFile r(path);
        ASSERT_EQ(r.pages, 4u);
        EXPECT_EQ(std::vector<uint32_t>({r.info(1), r.info(3), r.info(4)}),
                  std::vector<uint32_t>({0, TAV_E_TRUNCATED, TAV_E_TRUNCATED}));
    }
    uint32_t count = 0;
    int32_t h = wt::open_update(path, &count);
    ASSERT_EQ(count, 4u);
    PageInfo info = wf::info_for(pages[0]);
    EXPECT_EQ(wf::put(h, 5, info), uint32_t(TAV_E_TRUNCATED));
    wt::close(h);
    EXPECT_EQ(read_file(path), bytes);

    // A short table, as other programs write it: page 1 right behind the
    // closing 0. Its pages read; an append, whose slot would cover page 1's
    // header, is refused with the file as it was.
    const std::string made = next("dcx");
    ASSERT_TRUE(wf::write_file_of(made, FILETYPE_DCX, pages));
    const std::vector<uint8_t> whole = read_file(made);
    const uint32_t page1 = 4100, shift = page1 - 16;
    const uint32_t page2 = uint32_t(whole[8]) | uint32_t(whole[9]) << 8 | uint32_t(whole[10]) << 16 | uint32_t(whole[11]) << 24;
    std::vector<uint8_t> compact(whole.begin(), whole.begin() + 4);
    for (uint32_t at : {page1 - shift, page2 - shift, 0u})
        for (uint32_t k = 0; k < 4; ++k) compact.push_back(uint8_t(at >> (8 * k)));
    compact.insert(compact.end(), whole.begin() + page1, whole.end());
    const std::string short_table = next("dcx");
    write_file(short_table, compact);
    {
        OpenedFile r(short_table);
        ASSERT_EQ(r.pages, 2u);
        EXPECT_EQ(std::vector<uint32_t>({r.info(1), r.info(2)}), std::vector<uint32_t>({0, 0}));
        EXPECT_EQ(r.pi.imageWidth, 17u);
    }
    h = wt::open_update(short_table, &count);
    EXPECT_EQ(wf::put(h, 3, info), uint32_t(TAV_E_TRUNCATED));
    wt::close(h);
    EXPECT_EQ(read_file(short_table), compact);
}

}  // namespace
