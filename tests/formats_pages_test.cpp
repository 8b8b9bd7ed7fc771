// GIF, Targa, PCX and DCX pages from hand-made files: palette and data
// offsets, photometric rules, built-in palettes, resolutions, the DCX page
// ranges, refusals of files that lead nowhere or contradict themselves, and
// the current-page rule of by-strip reading.
#include "format_test_util.h"

namespace {

struct FormatFiles : ::testing::Test {
    TempDir dir;
    int n = 0;
    std::string save(const Bytes& bytes, const char* ext) {
        std::string path = dir.file("f" + std::to_string(n++) + ext);
        write_file(path, bytes.b);
        return path;
    }
    // Each file's page summary, or the code its page is refused with.
    void expect_pages(const std::vector<std::pair<Bytes, std::vector<uint32_t>>>& cases, const char* ext) {
        for (size_t k = 0; k < cases.size(); ++k) {
            OpenedFile f(save(cases[k].first, ext));
            uint32_t code = f.info(1);
            EXPECT_EQ(code ? std::vector<uint32_t>({code}) : page_summary(f), cases[k].second) << ext << " case " << k;
        }
    }
};

// ---- GIF ----

// Signature and screen descriptor with a global table of 2^bits entries
// (none when bits is 0); entry k is k, 2k, 3k, entry 0 firstRed, 0, 0.
Bytes gif_head(uint32_t bits, uint8_t firstRed = 0) {
    Bytes g;
    g.text("GIF89a").le16(40).le16(30).u8({uint8_t(bits ? 0x80 | (bits - 1) : 0x07), 0, 0});
    for (uint32_t k = 0; bits && k < (1u << bits); ++k) g.u8({uint8_t(k ? k : firstRed), uint8_t(2 * k), uint8_t(3 * k)});
    return g;
}
// An image (with a local table of entries 200 + k, 1, 2 when its flags say
// so), 6 bytes of data and the trailer.
Bytes gif_image(Bytes g, uint16_t w, uint8_t flags, uint8_t codeSize) {
    g.u8({0x2C}).le16(0).le16(0).le16(w).le16(4).u8({flags});
    for (uint32_t k = 0; (flags & 0x80) && k < (2u << (flags & 7)); ++k) g.u8({uint8_t(200 + k), 1, 2});
    return g.u8({codeSize, 3, 0x11, 0x22, 0x33, 0, 0x3B});
}

TEST_F(FormatFiles, GifTablesExtensionsAndTwoColours) {
    Bytes extensions = gif_head(8);
    extensions.u8({0x21, 0xF9, 4, 0, 0, 0, 0, 0});                             // graphic control
    extensions.u8({0x21, 0xFF, 11}).text("NETSCAPE2.0").u8({3, 1, 0, 0, 0});   // application
    extensions.u8({0x21, 0xFE, 2, 'h', 'i', 0});                               // comment
    extensions.u8({0x21, 0x01, 12}).fill(12).u8({1, 'x', 0});                  // plain text
    const uint32_t image = uint32_t(extensions.size()), local = 13 + 768 + 10;
    // A second image is never reached.
    Bytes two = gif_image(gif_head(8), 5, 0x83, 4);
    two.b.pop_back();
    two = gif_image(two, 99, 0, 8);
    // width, bits, photometric, palette bytes and offset, data offset, flags word, stored bytes
    expect_pages({{gif_image(extensions, 17, 0, 8), {17, 8, TAV_PHOTO_PALETTE, 768, 13, image + 11, 0x0808, 6}},
                  {two, {5, 4, TAV_PHOTO_PALETTE, 48, local, local + 49, 0x830404, 5 + 10 + 7}},
                  {gif_image(gif_head(1, 0), 8, 0, 2), {8, 1, TAV_PHOTO_BILEVEL_BLACK, 0, 0, 30, 0x0201, 6}},
                  {gif_image(gif_head(1, 255), 8, 0, 2), {8, 1, TAV_PHOTO_BILEVEL_WHITE, 0, 0, 30, 0x0201, 6}},
                  {gif_image(gif_head(0), 8, 0, 8), {8, 8, TAV_PHOTO_PALETTE, 768, 0, 24, 0x0808, 6}}},
                 ".gif");
    OpenedFile f(save(gif_image(extensions, 17, 0, 8), ".gif"));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.compression, f.pi.xResNum, f.pi.yResNum, f.pi.resolutionUnit}),
              std::vector<uint32_t>({TAV_COMP_LZW, 100, 100, 2}));
    std::vector<uint8_t> pal = delivered_palette(f);
    EXPECT_EQ(std::vector<uint8_t>(pal.begin() + 3, pal.begin() + 6), std::vector<uint8_t>({1, 2, 3}));
    OpenedFile l(save(two, ".gif"));
    ASSERT_EQ(l.info(1), 0u);
    EXPECT_EQ(delivered_palette(l)[0], 200);
    // Without any table the palette is a ramp; the caller's larger buffer
    // keeps its bytes beyond the page's palette.
    OpenedFile r(save(gif_image(gif_head(0), 8, 0, 8), ".gif"));
    ASSERT_EQ(r.info(1), 0u);
    std::vector<uint8_t> ramp = delivered_palette(r, 771, 0);
    EXPECT_EQ(std::vector<uint8_t>(ramp.begin() + 765, ramp.end()), std::vector<uint8_t>({255, 255, 255, 0xEE, 0xEE, 0xEE}));
}

// ---- Targa ----

// A header with a colour map of `entries` entries from index `first`, and a
// three-byte ID field.
Bytes tga(uint8_t type, uint8_t depth, uint8_t mapBits, uint16_t first, uint16_t entries) {
    Bytes t;
    t.u8({3, uint8_t(mapBits ? 1 : 0), type}).le16(first).le16(entries).u8({mapBits});
    return t.le16(0).le16(0).le16(6).le16(5).u8({depth, 0x20}).text("id.");
}

TEST_F(FormatFiles, TargaColourMapsAndRamps) {
    auto mapped = [](uint8_t bits, uint32_t bytes) { return tga(1, 8, bits, 2, 16).fill(bytes, 0x40).fill(30, 7); };
    // Entries 2 to 15 of 2, 2, 3 and 4 bytes; then pages without a map.
    expect_pages({{mapped(15, 28), {6, 8, TAV_PHOTO_PALETTE, 28, 21, 21 + 28, 0x20080F01, 30}},
                  {mapped(16, 28), {6, 8, TAV_PHOTO_PALETTE, 28, 21, 21 + 28, 0x20081001, 30}},
                  {mapped(24, 42), {6, 8, TAV_PHOTO_PALETTE, 42, 21, 21 + 42, 0x20081801, 30}},
                  {mapped(32, 56), {6, 8, TAV_PHOTO_PALETTE, 56, 21, 21 + 56, 0x20082001, 30}},
                  {tga(3, 8, 0, 0, 0).fill(9), {6, 8, TAV_PHOTO_PALETTE, 0, 0, 21, 0x20080003, 9}},
                  {tga(10, 24, 0, 0, 0).fill(9), {6, 8, TAV_PHOTO_RGB, 0, 0, 21, 0x2018000A, 9}},
                  {tga(3, 1, 0, 0, 0).fill(9), {6, 1, TAV_PHOTO_BILEVEL_WHITE, 0, 0, 21, 0x20010003, 9}}},
                 ".tga");
    OpenedFile m(save(mapped(32, 56), ".tga"));
    ASSERT_EQ(m.info(1), 0u);
    EXPECT_EQ(delivered_palette(m), std::vector<uint8_t>(56, 0x40));
    // An 8-bit page without a map: a 768-byte grey ramp.
    OpenedFile g(save(tga(3, 8, 0, 0, 0).fill(9), ".tga"));
    ASSERT_EQ(g.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({g.pi.compressionInfo.value, g.pi.area.palette.colorMapSize, g.pi.compression}),
              std::vector<uint32_t>({1, 768, TAV_COMP_NONE}));
    std::vector<uint8_t> ramp = delivered_palette(g);
    EXPECT_EQ(std::vector<uint8_t>(ramp.begin() + 384, ramp.begin() + 387), std::vector<uint8_t>(3, 128));
}

// ---- PCX and DCX ----

// A 40 x 20 PCX header: bits per plane, planes, dpi, version; the
// 16-colour palette entry k is k, k, 16 + k.
Bytes pcx(uint8_t bits, uint8_t planes, uint16_t hDpi, uint16_t vDpi, uint8_t version = 5) {
    Bytes p;
    p.u8({0x0A, version, 1, bits}).le16(2).le16(3).le16(41).le16(22).le16(hDpi).le16(vDpi);
    for (uint8_t k = 0; k < 16; ++k) p.u8({k, k, uint8_t(16 + k)});
    return p.u8({0, planes}).le16(20).fill(60);
}

TEST_F(FormatFiles, PcxHeaderResolutionAndPalettes) {
    const uint32_t end = 128 + 1000;
    auto page = [](uint8_t bits, uint8_t planes, uint16_t h, uint16_t v) { return pcx(bits, planes, h, v).fill(1000); };
    // The flags word holds the row bytes of all planes.
    expect_pages({{page(1, 4, 200, 100), {40, 4, TAV_PHOTO_PALETTE, 48, 16, 128, 80, 1000}},
                  {page(8, 1, 72, 72), {40, 8, TAV_PHOTO_PALETTE, 768, end - 768, 128, 20, 1000}},
                  {page(1, 1, 200, 200), {40, 1, TAV_PHOTO_BILEVEL_BLACK, 0, end, 128, 20, 1000}},
                  {page(8, 3, 96, 96), {40, 8, TAV_PHOTO_RGB, 0, end, 128, 60, 1000}}},
                 ".pcx");
    // 200 dpi across keeps the vertical dpi; anything else is 100 by 100.
    for (auto [h, v, x, y] : {std::array<uint32_t, 4>{200, 100, 200, 100}, {300, 300, 100, 100}}) {
        OpenedFile f(save(page(1, 4, uint16_t(h), uint16_t(v)), ".pcx"));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(std::vector<uint32_t>({f.pi.xResNum, f.pi.yResNum, f.pi.rowsPerStrip >> 16}),
                  std::vector<uint32_t>({x, y, 4}));
        EXPECT_EQ(delivered_palette(f)[47], 31);
    }
    // Version 3: palette W for three planes, E for four (entry 1 dark red
    // or dark blue); a caller's smaller buffer gets the bytes it states.
    for (uint8_t planes : {3, 4}) {
        OpenedFile f(save(pcx(1, planes, 0, 0, 3).fill(10), ".pcx"));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.stripCount, 0u);
        std::vector<uint8_t> pal = delivered_palette(f);
        EXPECT_EQ(std::vector<uint8_t>(pal.begin() + 3, pal.begin() + 6),
                  planes == 3 ? std::vector<uint8_t>({128, 0, 0}) : std::vector<uint8_t>({0, 0, 128}));
        EXPECT_EQ(delivered_palette(f, 4, 1), std::vector<uint8_t>({0, 0, 0, pal[3], 0xEE}));
    }
}

// A DCX file of pages with `data` bytes each (filled with the page number)
// behind their headers, from the end of the 4100-byte mark and table on;
// table entries may be given instead.
constexpr uint32_t kDcxStart = 4100;
Bytes dcx(const std::vector<uint32_t>& data, std::vector<uint32_t> entries = {}) {
    Bytes d;
    d.le32(987654321);
    uint32_t at = kDcxStart;
    for (size_t k = 0; entries.size() < data.size(); ++k) entries.push_back(at), at += 128 + data[k];
    for (uint32_t e : entries) d.le32(e);
    d.fill(kDcxStart - d.size());
    for (size_t k = 0; k < data.size(); ++k) d.raw(pcx(1, 4, 200, 200).b).fill(data[k], uint8_t(k + 1));
    return d;
}

TEST_F(FormatFiles, DcxPageRanges) {
    OpenedFile f(save(dcx({100, 200, 300, 400}), ".dcx"));
    ASSERT_EQ(f.pages, 4u);
    ASSERT_EQ(f.info(3), 0u);
    // The third page: data from its entry + 128 to the fourth entry, its
    // 16-colour palette 16 bytes after its own start.
    const uint32_t third = kDcxStart + (128 + 100) + (128 + 200);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.compressionInfo.value, f.pi.stripCount, f.pi.rowsPerStrip, f.ps.dataBytes}),
              std::vector<uint32_t>({third + 128, third + 16, 4u << 16, 300}));
    uint32_t err = 0;
    EXPECT_EQ(f.stream(3, 300, 77, &err), std::vector<uint8_t>(300, 3));
    std::vector<uint8_t> buf(400);
    uint32_t remaining = 1;
    EXPECT_EQ(f.read(buf.data(), 290, 300, &remaining, 3, &err), 10);  // never into page 4
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(delivered_palette(f)[47], 31);
    ASSERT_EQ(f.info(4), 0u);
    EXPECT_EQ(f.ps.dataBytes, 400u);
    // Page 2 ends before its own header does, and so does page 3; page 4
    // starts inside the mark and table; a page beyond the file.
    OpenedFile b(save(dcx({50, 50, 50, 50}, {kDcxStart, kDcxStart + 178, kDcxStart + 188, 15}), ".dcx"));
    EXPECT_EQ(std::vector<uint32_t>({b.info(1), b.info(2), b.info(3), b.info(4)}),
              std::vector<uint32_t>({0, TAV_E_TRUNCATED, TAV_E_TRUNCATED, TAV_E_TRUNCATED}));
    OpenedFile beyond(save(dcx({50}, {0xFFF000}), ".dcx"));
    EXPECT_EQ(beyond.info(1), uint32_t(TAV_E_TRUNCATED));
}

// ---- reading and refusals ----

TEST_F(FormatFiles, ReadsStayOnTheCurrentPage) {
    OpenedFile f(save(dcx({60, 70}), ".dcx"));
    ASSERT_EQ(f.info(2), 0u);
    std::vector<uint8_t> buf(100);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 70, 10, &remaining, 2, &err), 0);  // at the end: nothing left
    EXPECT_EQ(remaining, 0u);
    // By-strip reading names any page, but the offsets are the current one's.
    for (uint32_t action : {0u, 1u}) {
        ASSERT_EQ(f.option(action, TAV_OPT_STRIP_READ, nullptr), 0u);
        EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 1, &err), -1);
        EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
    }
    EXPECT_EQ(f.read(buf.data(), 5, 10, &remaining, 2, &err), 10);
    EXPECT_EQ(std::vector<uint32_t>({remaining, buf[0]}), std::vector<uint32_t>({55, 2}));
}

TEST_F(FormatFiles, FilesThatLeadNowhereAreRefused) {
    Bytes trailer = gif_head(2), endsInExtension = gif_head(2), cutGif = gif_head(2), backwards = pcx(1, 1, 0, 0);
    trailer.u8({0x3B});
    endsInExtension.u8({0x21, 0xFE, 200, 'x'});
    cutGif.u8({0x2C}).le16(0).le16(0).le16(4).le16(4).u8({0x87});  // its local table is missing
    backwards.b[8] = 1;                                            // xmax below xmin
    expect_pages({{trailer, {TAV_E_NO_IMAGE}}, {endsInExtension, {TAV_E_NO_IMAGE}}, {cutGif, {TAV_E_TRUNCATED}}},
                 ".gif");
    expect_pages({{tga(1, 8, 8, 0, 16), {TAV_E_COMPRESSION}},  // 8-bit map entries
                  {tga(1, 8, 24, 17, 16), {TAV_E_TRUNCATED}},  // first index above the length
                  {tga(1, 8, 24, 0, 16), {TAV_E_TRUNCATED}}},  // the map runs beyond the file
                 ".tga");
    expect_pages({{backwards, {TAV_E_TRUNCATED}}}, ".pcx");
}

}  // namespace
