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
    // The page's information, or the code it is refused with.
    uint32_t info(OpenedFile& f) { return f.info(1); }
};

// ---- GIF ----

// Signature and screen descriptor 40 x 30 with a global table of 2^bits
// entries (none when bits is 0); entry k is k, 2k, 3k (entry 0 black).
Bytes gif_head(uint32_t bits, uint8_t firstRed = 0) {
    Bytes g;
    g.text("GIF89a").le16(40).le16(30);
    g.u8({uint8_t(bits ? 0x80 | (bits - 1) : 0x07), 0, 0});
    for (uint32_t k = 0; bits && k < (1u << bits); ++k)
        g.u8({uint8_t(k == 0 ? firstRed : k), uint8_t(2 * k), uint8_t(3 * k)});
    return g;
}
Bytes& gif_image(Bytes& g, uint16_t w, uint16_t h, uint8_t flags, uint8_t codeSize) {
    g.u8({0x2C}).le16(0).le16(0).le16(w).le16(h).u8({flags});
    for (uint32_t k = 0; (flags & 0x80) && k < (2u << (flags & 7)); ++k) g.u8({uint8_t(200 + k), 1, 2});
    return g.u8({codeSize, 3, 0x11, 0x22, 0x33, 0, 0x3B});
}

TEST_F(FormatFiles, GifGlobalTableAfterExtensions) {
    Bytes g = gif_head(8);
    g.u8({0x21, 0xF9, 4, 0, 0, 0, 0, 0});                                  // graphic control
    g.u8({0x21, 0xFF, 11}).text("NETSCAPE2.0").u8({3, 1, 0, 0, 0});         // application
    g.u8({0x21, 0xFE, 2, 'h', 'i', 0});                                     // comment
    g.u8({0x21, 0x01, 12}).fill(12).u8({1, 'x', 0});                        // plain text
    const uint32_t descriptor = uint32_t(g.size());
    gif_image(g, 17, 9, 0, 8);
    OpenedFile f(save(g, ".gif"));
    ASSERT_EQ(info(f), 0u);
    const PageInfo& p = f.pi;
    EXPECT_EQ(std::vector<uint32_t>({p.imageWidth, p.imageLength, p.bitsPerSample[0], p.photometric, p.compression,
                                     p.xResNum, p.yResNum, p.resolutionUnit, p.area.palette.colorMapSize}),
              std::vector<uint32_t>({17, 9, 8, TAV_PHOTO_PALETTE, TAV_COMP_LZW, 100, 100, 2, 768}));
    // Palette bytes, palette offset, data offset; bits, code size, flags.
    EXPECT_EQ(std::vector<uint32_t>({p.maxStripSize, p.stripCount, p.rowsPerStrip, p.privateTagFlags,
                                     p.formatBytes[0], p.formatBytes[1], p.formatBytes[2]}),
              std::vector<uint32_t>({768, 13, descriptor + 11, 8, 8, 0, 0}));
    EXPECT_EQ(f.ps.dataBytes, 6u);
    std::vector<uint8_t> pal = delivered_palette(f);
    EXPECT_EQ(std::vector<uint8_t>(pal.begin() + 3, pal.begin() + 6), std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(FormatFiles, GifLocalTableComesBeforeTheCodeSize) {
    Bytes g = gif_head(8);
    gif_image(g, 5, 4, 0x83, 4);  // a local table of 16 entries, interlaced bit clear
    // A second image is never reached.
    g.b.pop_back();
    gif_image(g, 99, 99, 0, 8);
    OpenedFile f(save(g, ".gif"));
    ASSERT_EQ(info(f), 0u);
    const uint32_t local = 13 + 768 + 10;
    EXPECT_EQ(std::vector<uint32_t>({f.pi.imageWidth, f.pi.maxStripSize, f.pi.stripCount, f.pi.rowsPerStrip,
                                     f.pi.bitsPerSample[0], f.pi.formatBytes[0], f.pi.formatBytes[1]}),
              std::vector<uint32_t>({5, 48, local, local + 48 + 1, 4, 4, 0x83}));
    EXPECT_EQ(delivered_palette(f)[0], 200);
}

TEST_F(FormatFiles, GifTwoColoursAndNoTable) {
    for (uint8_t red : {0, 255}) {
        Bytes g = gif_head(1, red);
        OpenedFile f(save(gif_image(g, 8, 8, 0, 2), ".gif"));
        ASSERT_EQ(info(f), 0u);
        EXPECT_EQ(std::vector<uint32_t>({f.pi.photometric, f.pi.bitsPerSample[0], f.pi.maxStripSize, f.pi.stripCount,
                                         f.pi.area.palette.colorMapSize}),
                  std::vector<uint32_t>({red ? TAV_PHOTO_BILEVEL_WHITE : TAV_PHOTO_BILEVEL_BLACK, 1, 0, 0, 0}));
    }
    // Without any table: the screen's size counts, the palette is a ramp.
    Bytes g = gif_head(0);
    OpenedFile f(save(gif_image(g, 8, 8, 0, 8), ".gif"));
    ASSERT_EQ(info(f), 0u);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.maxStripSize, f.pi.stripCount, f.pi.rowsPerStrip}),
              std::vector<uint32_t>({768, 0, 13 + 11}));
    std::vector<uint8_t> pal = delivered_palette(f, 3);
    EXPECT_EQ(std::vector<uint8_t>(pal.begin() + 765, pal.end()), std::vector<uint8_t>({255, 255, 255, 0xEE, 0xEE, 0xEE}));
}

TEST_F(FormatFiles, GifWithoutImageOrCutShortIsRefused) {
    Bytes trailer = gif_head(2);
    trailer.u8({0x3B});
    Bytes endsInExtension = gif_head(2);
    endsInExtension.u8({0x21, 0xFE, 200, 'x'});
    Bytes cut = gif_head(2);
    cut.u8({0x2C}).le16(0).le16(0).le16(4).le16(4).u8({0x87});  // local table missing
    const std::pair<Bytes*, uint32_t> cases[] = {
        {&trailer, TAV_E_NO_IMAGE}, {&endsInExtension, TAV_E_NO_IMAGE}, {&cut, TAV_E_TRUNCATED}};
    for (auto [bytes, code] : cases) {
        OpenedFile f(save(*bytes, ".gif"));
        EXPECT_EQ(info(f), code);
    }
}

// ---- Targa ----

// Header with a colour map of `entries` entries from index `first`.
Bytes tga(uint8_t type, uint8_t depth, uint8_t mapBits, uint16_t first, uint16_t entries, uint8_t idLength = 0) {
    Bytes t;
    t.u8({idLength, uint8_t(mapBits ? 1 : 0), type}).le16(first).le16(entries).u8({mapBits});
    t.le16(0).le16(0).le16(6).le16(5).u8({depth, 0x20}).fill(idLength, 'i');
    return t;
}

TEST_F(FormatFiles, TargaColourMapsByEntrySize) {
    // entry bits, bytes of the map.
    const std::pair<uint8_t, uint32_t> sizes[] = {{15, 2 * 14}, {16, 2 * 14}, {24, 3 * 14}, {32, 4 * 14}};
    for (auto [bits, mapBytes] : sizes) {
        Bytes t = tga(1, 8, bits, 2, 16, 3);
        t.fill(mapBytes, 0x40).fill(30, 7);
        OpenedFile f(save(t, ".tga"));
        ASSERT_EQ(info(f), 0u) << int(bits);
        EXPECT_EQ(std::vector<uint32_t>({f.pi.maxStripSize, f.pi.stripCount, f.pi.rowsPerStrip, f.pi.photometric,
                                         f.pi.area.palette.colorMapSize, f.pi.formatBytes[0], f.ps.dataBytes}),
                  std::vector<uint32_t>({mapBytes, 21, 21 + mapBytes, TAV_PHOTO_PALETTE, mapBytes, bits, 30}));
        EXPECT_EQ(delivered_palette(f), std::vector<uint8_t>(mapBytes, 0x40));
    }
    Bytes odd = tga(1, 8, 8, 0, 16);
    Bytes firstAbove = tga(1, 8, 24, 17, 16);
    Bytes cut = tga(1, 8, 24, 0, 16);  // the map runs beyond the file
    const std::pair<Bytes*, uint32_t> refused[] = {
        {&odd, TAV_E_COMPRESSION}, {&firstAbove, TAV_E_TRUNCATED}, {&cut, TAV_E_TRUNCATED}};
    for (auto [bytes, code] : refused) {
        OpenedFile f(save(*bytes, ".tga"));
        EXPECT_EQ(info(f), code);
    }
}

TEST_F(FormatFiles, TargaWithoutColourMap) {
    // image type, depth: photometric, bits, samples, ramp palette.
    const std::pair<std::pair<uint8_t, uint8_t>, std::vector<uint32_t>> cases[] = {
        {{3, 8}, {TAV_PHOTO_PALETTE, 8, 1, 1, 768}},
        {{10, 24}, {TAV_PHOTO_RGB, 8, 3, 0, 0}},
        {{2, 32}, {TAV_PHOTO_RGB, 8, 3, 0, 0}},
        {{3, 1}, {TAV_PHOTO_BILEVEL_WHITE, 1, 1, 0, 0}}};
    for (const auto& [hdr, want] : cases) {
        Bytes t = tga(hdr.first, hdr.second, 0, 0, 0);
        OpenedFile f(save(t.fill(9), ".tga"));
        ASSERT_EQ(info(f), 0u);
        EXPECT_EQ(std::vector<uint32_t>({f.pi.photometric, f.pi.bitsPerSample[0], f.pi.samplesPerPixel,
                                         f.pi.compressionInfo.value, f.pi.area.palette.colorMapSize}),
                  want);
        EXPECT_EQ(std::vector<uint32_t>({f.pi.compression, f.pi.privateTagFlags, f.pi.rowsPerStrip, f.ps.dataBytes}),
                  std::vector<uint32_t>({TAV_COMP_NONE, hdr.first, 18, 9}));
        if (want[3]) {
            std::vector<uint8_t> ramp = delivered_palette(f);
            EXPECT_EQ(std::vector<uint8_t>(ramp.begin() + 384, ramp.begin() + 387), std::vector<uint8_t>(3, 128));
        }
    }
}

// ---- PCX and DCX ----

// A PCX header: bits per plane, planes, dpi, version; the 16-colour
// palette entry k is k, k, 16 + k.
Bytes pcx(uint8_t bits, uint8_t planes, uint16_t hDpi, uint16_t vDpi, uint8_t version = 5) {
    Bytes p;
    p.u8({0x0A, version, 1, bits}).le16(2).le16(3).le16(41).le16(22).le16(hDpi).le16(vDpi);
    for (uint8_t k = 0; k < 16; ++k) p.u8({k, k, uint8_t(16 + k)});
    p.u8({0, planes}).le16(20).fill(60);
    return p;
}

TEST_F(FormatFiles, PcxHeaderResolutionAndPalettes) {
    struct Case {
        uint8_t bits, planes;
        uint16_t hDpi, vDpi;
        std::vector<uint32_t> want;  // bits, photometric, palette bytes, palette offset, x, y res, row bytes
    };
    const uint32_t end = 128 + 1000;
    const Case cases[] = {
        {1, 4, 200, 100, {4, TAV_PHOTO_PALETTE, 48, 16, 200, 100, 80}},
        {1, 4, 300, 300, {4, TAV_PHOTO_PALETTE, 48, 16, 100, 100, 80}},
        {8, 1, 72, 72, {8, TAV_PHOTO_PALETTE, 768, end - 768, 100, 100, 20}},
        {1, 1, 200, 200, {1, TAV_PHOTO_BILEVEL_BLACK, 0, end, 200, 200, 20}},
        {8, 3, 96, 96, {8, TAV_PHOTO_RGB, 0, end, 100, 100, 60}}};
    for (const Case& c : cases) {
        Bytes p = pcx(c.bits, c.planes, c.hDpi, c.vDpi);
        OpenedFile f(save(p.fill(1000, 0x5A), ".pcx"));
        ASSERT_EQ(info(f), 0u);
        const PageInfo& i = f.pi;
        EXPECT_EQ(std::vector<uint32_t>({i.bitsPerSample[0], i.photometric, i.maxStripSize, i.stripCount, i.xResNum,
                                         i.yResNum, uint32_t(i.privateTagFlags | i.formatBytes[0] << 8)}),
                  c.want);
        EXPECT_EQ(std::vector<uint32_t>({i.imageWidth, i.imageLength, i.rowsPerStrip, f.ps.dataBytes}),
                  std::vector<uint32_t>({40, 20, 128u | uint32_t(c.planes) << 16, 1000}));
    }
    OpenedFile f(save(pcx(1, 4, 0, 0).fill(10), ".pcx"));
    ASSERT_EQ(info(f), 0u);
    EXPECT_EQ(delivered_palette(f)[47], 31);
}

TEST_F(FormatFiles, PcxVersion3TakesPaletteWOrE) {
    for (uint8_t planes : {3, 4}) {
        OpenedFile f(save(pcx(1, planes, 0, 0, 3).fill(10), ".pcx"));
        ASSERT_EQ(info(f), 0u);
        EXPECT_EQ(f.pi.stripCount, 0u);
        std::vector<uint8_t> pal = delivered_palette(f);
        // Entry 1 is dark red in palette W, dark blue in palette E.
        EXPECT_EQ(std::vector<uint8_t>(pal.begin() + 3, pal.begin() + 6),
                  planes == 3 ? std::vector<uint8_t>({128, 0, 0}) : std::vector<uint8_t>({0, 0, 128}));
        // A caller's smaller buffer gets as many bytes as it states.
        std::vector<uint8_t> part(48, 0xEE);
        PageInfo q = f.pi;
        q.area.palette.colorMapBuffer = part.data();
        q.area.palette.colorMapSize = 4;
        ASSERT_EQ(f.data(q), 0u);
        EXPECT_EQ(std::vector<uint8_t>(part.begin(), part.begin() + 5), std::vector<uint8_t>({0, 0, 0, pal[3], 0xEE}));
    }
    Bytes backwards = pcx(1, 1, 0, 0);
    backwards.b[8] = 1;  // xmax below xmin
    OpenedFile f(save(backwards, ".pcx"));
    EXPECT_EQ(info(f), uint32_t(TAV_E_TRUNCATED));
}

// A DCX file of pages with `data` bytes each behind their headers; table
// entries may be given instead.
Bytes dcx(const std::vector<uint32_t>& data, std::vector<uint32_t> entries = {}) {
    Bytes d;
    d.le32(987654321);
    uint32_t at = 4 + 4 * uint32_t(data.size() + 1);
    for (size_t k = 0; entries.size() < data.size(); ++k) entries.push_back(at), at += 128 + data[k];
    for (uint32_t e : entries) d.le32(e);
    d.le32(0);
    for (size_t k = 0; k < data.size(); ++k) d.raw(pcx(1, 4, 200, 200).b).fill(data[k], uint8_t(k + 1));
    return d;
}

TEST_F(FormatFiles, DcxThirdPageRangeAndHeaderPalette) {
    OpenedFile f(save(dcx({100, 200, 300, 400}), ".dcx"));
    ASSERT_EQ(f.pages, 4u);
    ASSERT_EQ(f.info(3), 0u);
    const uint32_t third = 24 + (128 + 100) + (128 + 200);
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
}

TEST_F(FormatFiles, DcxEntriesOutOfOrderOrBeyondTheFile) {
    Bytes d = dcx({50, 50, 50});
    const uint32_t first = 20, second = first + 178, third = second + 178;
    // Page 2 ends before its own header does; page 3 starts beyond the file.
    Bytes bad = dcx({50, 50, 50}, {first, second, second + 10});
    bad.b[12] = uint8_t(0xF0), bad.b[13] = 0xFF;
    OpenedFile f(save(bad, ".dcx"));
    ASSERT_EQ(f.pages, 3u);
    EXPECT_EQ(f.info(1), 0u);
    EXPECT_EQ(f.info(2), uint32_t(TAV_E_TRUNCATED));
    EXPECT_EQ(f.info(3), uint32_t(TAV_E_TRUNCATED));
    OpenedFile good(save(d, ".dcx"));
    EXPECT_EQ(good.info(3), 0u);
    EXPECT_EQ(good.pi.compressionInfo.value, third + 128);
}

// ---- reading ----

TEST_F(FormatFiles, ReadsStayOnTheCurrentPage) {
    OpenedFile f(save(dcx({60, 70}), ".dcx"));
    ASSERT_EQ(f.info(2), 0u);
    std::vector<uint8_t> buf(100);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 70, 10, &remaining, 2, &err), 0);  // at the end: nothing left
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
    // By-strip reading names any page, but the offsets are the current one's.
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_READ, nullptr), 0u);
    EXPECT_EQ(f.read(buf.data(), 0, 10, &remaining, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_PAGE));
    EXPECT_EQ(f.read(buf.data(), 5, 10, &remaining, 2, &err), 10);
    EXPECT_EQ(std::vector<uint32_t>({remaining, buf[0]}), std::vector<uint32_t>({55, 2}));
}

}  // namespace
