// The BMP writer: headers and their kind, bottom-up placement, the embedded
// profile at close, refusals, and files read back by the library, Pillow
// and ImageMagick with the pixels given.
#include <gtest/gtest.h>

#include "fileio/mem.h"
#include "format_test_util.h"
#include "write_formats_util.h"

namespace {

using wf::Image;

constexpr uint32_t kMbed = 0x4D424544;  // 'MBED': an embedded profile
constexpr uint32_t kSrgb = 0x73524742;

// An image of 1, 4, 8 or 24 bits with pseudo-random pixels, its rows as the
// BMP writer takes them (top row first, padded to 4 bytes; 24-bit pixels
// blue, green, red) and a palette of blue, green, red, 0 of `colours`
// entries (0: all 2^bits), which the pixels keep to.
Image bmp_image(uint32_t bits, uint32_t width, uint32_t length, uint32_t seed, uint32_t colours = 0) {
    Image im;
    im.width = width;
    im.length = length;
    im.bits = bits;
    im.rowBytes = (width * bits + 31) / 32 * 4;
    im.rows = wt::pattern(size_t(im.rowBytes) * length, seed);
    if (bits <= 8) {
        if (colours == 0) colours = 1u << bits;
        if (bits == 8) {
            for (uint8_t& b : im.rows) b = uint8_t(b % colours);
        } else if (bits == 4) {
            for (uint8_t& b : im.rows) b = uint8_t((b >> 4) % colours << 4 | (b & 15) % colours);
        }
        im.map = wt::pattern(4 * colours, seed + 1);
        for (size_t k = 3; k < im.map.size(); k += 4) im.map[k] = 0;
        im.photometric = TAV_PHOTO_PALETTE;
    } else {
        im.photometric = TAV_PHOTO_RGB;
    }
    for (uint32_t y = 0; y < length; ++y) {
        const uint8_t* row = &im.rows[size_t(y) * im.rowBytes];
        for (uint32_t x = 0; x < width; ++x) {
            if (bits == 24) {
                im.rgb.insert(im.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
                continue;
            }
            const uint32_t perByte = 8 / bits;
            const uint32_t v = (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & ((1u << bits) - 1);
            im.rgb.insert(im.rgb.end(), {im.map[4 * v + 2], im.map[4 * v + 1], im.map[4 * v]});
        }
    }
    return im;
}

struct BmpTest : ::testing::Test {
    TempDir dir;
    int n = 0;
    std::string next() { return dir.file("f" + std::to_string(n++) + ".bmp"); }
};

uint32_t le32(const std::vector<uint8_t>& f, size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24;
}
uint32_t le16(const std::vector<uint8_t>& f, size_t at) { return f[at] | f[at + 1] << 8; }

TEST_F(BmpTest, HeadersAndLayoutValues) {
    struct Case {
        uint32_t bits, width, rowBytes;
    } cases[] = {{24, 3, 12}, {1, 10, 4}, {8, 5, 8}, {4, 9, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        Image im = bmp_image(c.bits, c.width, 3, c.bits);
        const std::string path = next();
        int32_t h = wt::create(path, FILETYPE_BMP);
        PageInfo info = wf::info_for(im);
        info.xResNum = 300;
        info.xResDen = 0;  // taken as 1
        info.yResNum = 600;
        info.yResDen = 2;
        ASSERT_EQ(wf::put(h, 1, info), 0u);
        const uint32_t palette = c.bits <= 8 ? 4u << c.bits : 0;
        const uint32_t D = 14 + 40 + palette;
        EXPECT_EQ(std::vector<uint32_t>({info.stripCount, info.rowsPerStrip}),
                  std::vector<uint32_t>({D, c.rowBytes}));
        ASSERT_EQ(wf::write_rows(h, 1, im, 3), 0u);
        wt::close(h);
        const std::vector<uint8_t> f = read_file(path);
        ASSERT_EQ(f.size(), D + 3 * c.rowBytes);
        EXPECT_EQ(std::vector<uint32_t>({f[0], f[1], le32(f, 2), le32(f, 6), le32(f, 10)}),
                  std::vector<uint32_t>({'B', 'M', uint32_t(f.size()), 0, D}));
        EXPECT_EQ(std::vector<uint32_t>({le32(f, 14), le32(f, 18), le32(f, 22), le16(f, 26), le16(f, 28), le32(f, 30),
                                         le32(f, 34), le32(f, 38), le32(f, 42), le32(f, 46), le32(f, 50)}),
                  std::vector<uint32_t>({40, c.width, 3, 1, c.bits, 0, 3 * c.rowBytes, 300, 300, palette / 4, 0}));
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + D), im.map);
    }
}

// The header kind: 124 bytes only when a colour-space field asks for it.
TEST_F(BmpTest, HeaderKindFollowsTheColourSpaceFields) {
    Image im = bmp_image(24, 4, 2, 1);
    auto kind = [&](auto change) {
        const std::string path = next();
        int32_t h = wt::create(path, FILETYPE_BMP);
        PageInfo info = wf::info_for(im);
        change(info);
        EXPECT_EQ(wf::put(h, 1, info), 0u);
        EXPECT_EQ(wf::write_rows(h, 1, im, 2), 0u);
        wt::close(h);
        const std::vector<uint8_t> f = read_file(path);
        EXPECT_EQ(le32(f, 14), ((info.rowsPerStrip >> 16) & 0xFF) == 3 ? 124u : 40u);
        return le32(f, 14);
    };
    EXPECT_EQ(kind([](PageInfo&) {}), 40u);
    EXPECT_EQ(kind([](PageInfo& i) { i.colorSpaceType = kSrgb; }), 40u);
    EXPECT_EQ(kind([](PageInfo& i) { i.colorSpaceType = 1; }), 40u);
    EXPECT_EQ(kind([](PageInfo& i) { i.colorSpaceType = kSrgb, i.gammaRed = 1; }), 124u);
    EXPECT_EQ(kind([](PageInfo& i) { i.colorSpaceType = kMbed; }), 124u);
    EXPECT_EQ(kind([](PageInfo& i) { i.endpoints[8] = 5; }), 124u);
    EXPECT_EQ(kind([](PageInfo& i) { i.intent = 4; }), 124u);
}

// A profile is announced and written behind the pixels when its bytes come
// with the record; an abort frees the copy unwritten.
TEST_F(BmpTest, EmbeddedProfileFollowsThePixelsAtClose) {
    Image im = bmp_image(24, 5, 4, 2);  // rows of 16 bytes
    std::vector<uint8_t> profile = wt::pattern(300, 7);
    const std::string path = next();
    int32_t h = wt::create(path, FILETYPE_BMP);
    PageInfo info = wf::info_for(im);
    info.colorSpaceType = kMbed;
    info.intent = 4;
    info.profileSize = uint32_t(profile.size());
    info.profileOffset.ptr = profile.data();
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    EXPECT_NE(info.profileBuffer, nullptr);
    std::fill(profile.begin(), profile.end(), 0);  // the caller's buffer may go
    profile = wt::pattern(300, 7);
    ASSERT_EQ(wf::write_rows(h, 1, im, 4), 0u);
    wt::close(h);
    const std::vector<uint8_t> f = read_file(path);
    const uint32_t pixelsEnd = 14 + 124 + 4 * 16;
    ASSERT_EQ(f.size(), pixelsEnd + 300);
    EXPECT_EQ(std::vector<uint32_t>({le32(f, 2), le32(f, 14 + 112), le32(f, 14 + 116), le32(f, 14 + 56)}),
              std::vector<uint32_t>({pixelsEnd + 300, pixelsEnd - 14, 300, kMbed}));
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + pixelsEnd, f.end()), profile);

    OpenedFile r(path);
    ASSERT_EQ(r.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({r.pi.profileSize, r.pi.profileOffset.value, r.pi.colorSpaceType, r.pi.intent}),
              std::vector<uint32_t>({300, pixelsEnd, kMbed, 4}));

    // Size without bytes: not announced.
    info = wf::info_for(im);
    info.profileSize = 300;
    h = wt::create(next(), FILETYPE_BMP);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    EXPECT_EQ(info.profileBuffer, nullptr);
    wt::close(h);

    const int blocks = mem_live_blocks();
    info = wf::info_for(im);
    info.profileSize = 300;
    info.profileOffset.ptr = profile.data();
    const std::string aborted = next();
    h = wt::create(aborted, FILETYPE_BMP);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    uint32_t err = 0;
    EXPECT_EQ(xtavabort(&h, &err), 0);
    EXPECT_EQ(mem_live_blocks(), blocks);
    EXPECT_EQ(read_file(aborted).size(), 14u + 124);
}

// Ten rows of 40 bytes: rows 0-4 land at D + 5 x 40, rows 5-9 at D, each
// call's rows bottom-up.
TEST_F(BmpTest, RowsArePlacedBottomUp) {
    Image im = bmp_image(24, 13, 10, 3);  // rows of 40 bytes
    const std::string path = next();
    int32_t h = wt::create(path, FILETYPE_BMP);
    PageInfo info = wf::info_for(im);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    ASSERT_EQ(info.rowsPerStrip, 40u);
    const uint32_t D = 14 + 40;
    uint32_t err = 0;
    std::vector<uint8_t> top = im.row_range(0, 5), bottom = im.row_range(5, 5);
    EXPECT_EQ(xtavwrite(&h, top.data(), 200, 1, 0, &err), 0);
    std::vector<uint8_t> f = read_file(path);
    ASSERT_EQ(f.size(), D + 400);
    auto upside_down = [&](uint32_t first) {
        std::vector<uint8_t> v;
        for (uint32_t r = first + 5; r-- > first;) {
            std::vector<uint8_t> row = im.row_range(r, 1);
            v.insert(v.end(), row.begin(), row.end());
        }
        return v;
    };
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + D + 5 * 40, f.end()), upside_down(0));
    EXPECT_EQ(xtavwrite(&h, bottom.data(), 200, 1, 0, &err), 0);
    wt::close(h);
    f = read_file(path);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + D, f.begin() + D + 200), upside_down(5));
}

TEST_F(BmpTest, RefusesWhatTheFormatCannotHold) {
    Image im = bmp_image(8, 6, 3, 4);
    auto refusal = [&](auto change) { return wf::refusal(next(), FILETYPE_BMP, im, change); };
    EXPECT_EQ(refusal([](PageInfo& i) { i.bitsPerSample[0] = 2; }), uint32_t(TAV_E_FIELD_TYPE));
    EXPECT_EQ(refusal([](PageInfo& i) { i.imageWidth = 32765; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(refusal([](PageInfo& i) { i.imageWidth = 32764; }), 0u);
    EXPECT_EQ(refusal([](PageInfo& i) { i.imageLength = 65536; }), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(refusal([](PageInfo& i) { i.area.palette.colorMapBuffer = nullptr; }), uint32_t(TAV_E_OPTION));
    // The colour map: whole entries, at least one, at most 2^bits.
    EXPECT_EQ(refusal([](PageInfo& i) { i.area.palette.colorMapSize = 1023; }), uint32_t(TAV_E_INCONSISTENT));
    EXPECT_EQ(refusal([](PageInfo& i) { i.area.palette.colorMapSize = 1028; }), uint32_t(TAV_E_INCONSISTENT));
    EXPECT_EQ(refusal([](PageInfo& i) { i.area.palette.colorMapSize = 0; }), uint32_t(TAV_E_INCONSISTENT));
    EXPECT_EQ(refusal([](PageInfo& i) { i.area.palette.colorMapSize = 4; }), 0u);
    EXPECT_EQ(refusal([](PageInfo& i) { i.imageWidth = 8191, i.imageLength = 65535; }), 0u);

    const std::string path = next();
    int32_t h = wt::create(path, FILETYPE_BMP);
    PageInfo info = wf::info_for(im);
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    uint32_t err = 0;
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 7, 1, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 8, 2, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OTHER_PAGE));
    std::vector<uint8_t> four(32, 1);
    EXPECT_EQ(xtavwrite(&h, four.data(), 32, 1, 0, &err), -1);  // 4 rows of a page of 3
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 24, 1, 0, &err), 0);
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 8, 1, 0, &err), -1);  // the page is complete
    EXPECT_EQ(err, uint32_t(TAV_E_SEQUENCE));
    EXPECT_EQ(wf::put(h, 2, info), uint32_t(TAV_E_WRITTEN));
    wt::close(h);

    // A page of 0 bytes a row takes no data.
    h = wt::create(next(), FILETYPE_BMP);
    info = wf::info_for(im);
    info.imageWidth = 0;
    ASSERT_EQ(wf::put(h, 1, info), 0u);
    EXPECT_EQ(xtavwrite(&h, im.rows.data(), 8, 1, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    wt::close(h);
    // A file opened for update holds its page.
    uint32_t count = 0;
    const std::vector<uint8_t> before = read_file(path);
    h = wt::open_update(path, &count);
    EXPECT_EQ(wf::put(h, 1, info), uint32_t(TAV_E_WRITTEN));
    wt::close(h);
    EXPECT_EQ(read_file(path), before);
}

// A palette of fewer colours than the bit depth allows is written as
// given, its entries counted in colours used, and reads back with the
// pixels given everywhere.
TEST_F(BmpTest, ShortPalettesAreWrittenAsGiven) {
    if (pillow_missing() || oracle_missing("convert")) GTEST_SKIP() << "Pillow or ImageMagick missing";
    struct Case {
        uint32_t bits, width, length, colours;
        bool v5;
    } cases[] = {{8, 40, 10, 200, false}, {8, 16, 8, 200, true}, {4, 16, 8, 5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.colours) + " colours");
        Image im = bmp_image(c.bits, c.width, c.length, c.colours, c.colours);
        const std::string path = next();
        int32_t h = wt::create(path, FILETYPE_BMP);
        PageInfo info = wf::info_for(im);
        if (c.v5) info.colorSpaceType = kSrgb, info.intent = 4;
        ASSERT_EQ(wf::put(h, 1, info), 0u);
        ASSERT_EQ(wf::write_rows(h, 1, im, 3), 0u);
        wt::close(h);

        const uint32_t header = c.v5 ? 124 : 40, D = 14 + header + 4 * c.colours;
        const std::vector<uint8_t> f = read_file(path);
        ASSERT_EQ(f.size(), D + c.length * im.rowBytes);
        EXPECT_EQ(std::vector<uint32_t>({le32(f, 10), le32(f, 14), le32(f, 14 + 32), info.stripCount & 0xFFFF}),
                  std::vector<uint32_t>({D, header, c.colours, D}));
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 14 + header, f.begin() + D), im.map);

        OpenedFile r(path);
        ASSERT_EQ(r.info(1), 0u);
        EXPECT_EQ(r.pi.area.palette.colorMapSize, 4 * c.colours);
        EXPECT_EQ(delivered_palette(r), im.map);
        uint32_t err = 0;
        std::vector<uint8_t> stored = r.stream(1, c.length * im.rowBytes, 100, &err);
        std::vector<uint8_t> bottomUp;
        for (uint32_t y = c.length; y-- > 0;) {
            std::vector<uint8_t> row = im.row_range(y, 1);
            bottomUp.insert(bottomUp.end(), row.begin(), row.end());
        }
        EXPECT_EQ(stored, bottomUp) << err;
        wf::Decoded p = wf::pillow_decode(path), m = wf::magick_decode(path);
        EXPECT_EQ(p.rgb, im.rgb) << "Pillow";
        EXPECT_EQ(m.rgb, im.rgb) << "ImageMagick";
    }
}

TEST_F(BmpTest, PagesReadBackByTheLibraryPillowAndImageMagick) {
    if (pillow_missing() || oracle_missing("convert")) GTEST_SKIP() << "Pillow or ImageMagick missing";
    for (uint32_t bits : {1u, 4u, 8u, 24u}) {
        for (bool v5 : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (v5 ? " 124-byte header" : " 40-byte header"));
            Image im = bmp_image(bits, 29 + bits, 7, bits + (v5 ? 10 : 0));
            const std::string path = next();
            int32_t h = wt::create(path, FILETYPE_BMP);
            PageInfo info = wf::info_for(im);
            if (v5) info.colorSpaceType = kSrgb, info.intent = 4;
            ASSERT_EQ(wf::put(h, 1, info), 0u);
            ASSERT_EQ(wf::write_rows(h, 1, im, 2), 0u);
            wt::close(h);

            OpenedFile r(path);
            ASSERT_EQ(r.info(1), 0u);
            // A bilevel page is min-is-white when palette entry 0 has blue.
            const uint32_t photometric =
                bits > 1 ? im.photometric : (im.map[0] != 0 ? TAV_PHOTO_BILEVEL_WHITE : TAV_PHOTO_BILEVEL_BLACK);
            EXPECT_EQ(std::vector<uint32_t>({r.pi.imageWidth, r.pi.imageLength, r.pi.bitsPerSample[0],
                                             r.pi.photometric, r.pi.xResNum, r.pi.yResNum,
                                             (r.pi.rowsPerStrip >> 16) & 0xFF}),
                      std::vector<uint32_t>({im.width, im.length, bits == 24 ? 8 : bits, photometric, 200 / 39,
                                             100 / 39, v5 ? 3u : 0u}));
            if (bits > 1 && bits <= 8) {
                EXPECT_EQ(delivered_palette(r), im.map);
            }
            wf::Decoded p = wf::pillow_decode(path), m = wf::magick_decode(path);
            EXPECT_EQ(std::vector<uint32_t>({p.width, p.length, m.width, m.length}),
                      std::vector<uint32_t>({im.width, im.length, im.width, im.length}));
            EXPECT_EQ(p.rgb, im.rgb) << "Pillow";
            EXPECT_EQ(m.rgb, im.rgb) << "ImageMagick";
        }
    }
}

}  // namespace
