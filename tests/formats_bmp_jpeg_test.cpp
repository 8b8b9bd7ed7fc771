// BMP and JPEG pages from hand-made files: header kinds, palettes, masks,
// 16- and 32-bit pages delivered as 24-bit rows at every width, profiles
// (embedded, linked, and a linked name that is no regular file), refusals;
// JFIF resolutions, the JFXX segment left out of the header, frame and
// segment refusals, the recycled JpegInfo and what the TIFF writer makes of
// a JPEG file's description.
#include <sys/stat.h>

#include "fileio/mem.h"
#include "format_test_util.h"

namespace {

struct Bmp {
    uint32_t headerSize = 40;
    int32_t width = 3, height = 2;
    uint16_t bits = 24;
    uint32_t compression = 0, ppm = 3780, coloursUsed = 0;
    uint32_t masks[3] = {0, 0, 0};
    uint32_t colourSpace = 0, profileData = 0, profileSize = 0;
    std::vector<uint8_t> between, pixels, after;
    int64_t dataOffset = -1;  // -1: right behind `between`

    Bytes build() const {
        Bytes h;
        if (headerSize == 12) {
            h.le32(12).le16(uint32_t(width)).le16(uint32_t(height)).le16(1).le16(bits);
        } else {
            h.le32(headerSize).le32(uint32_t(width)).le32(uint32_t(height)).le16(1).le16(bits).le32(compression);
            h.le32(0).le32(ppm).le32(ppm).le32(coloursUsed).le32(0);
            if (headerSize >= 108) {
                h.le32(masks[0]).le32(masks[1]).le32(masks[2]).le32(0).le32(colourSpace).fill(36 + 12);
            }
            if (headerSize >= 124) h.le32(0).le32(profileData).le32(profileSize).le32(0);
        }
        uint32_t offset = dataOffset >= 0 ? uint32_t(dataOffset) : uint32_t(14 + h.size() + between.size());
        Bytes f;
        f.text("BM").le32(0).le32(0).le32(offset).raw(h.b).raw(between).raw(pixels).raw(after);
        return f;
    }
};

struct BmpJpeg : ::testing::Test {
    TempDir dir;
    int n = 0;
    std::string save(const Bytes& bytes, const char* ext = ".bmp") {
        std::string path = dir.file("f" + std::to_string(n++) + ext);
        write_file(path, bytes.b);
        return path;
    }
    uint32_t row_bytes(const PageInfo& i) { return i.rowsPerStrip & 0xFFFF; }
    // The page summary of a BMP and its row word (row bytes, header kind,
    // run-length coding), or the code the page is refused with.
    std::vector<uint32_t> bmp(const Bmp& b) {
        OpenedFile f(save(b.build()));
        if (uint32_t code = f.info(1)) return {code};
        std::vector<uint32_t> s = page_summary(f);
        s.push_back(f.pi.rowsPerStrip);
        return s;
    }
};

// ---- BMP ----

// An 8-bit page 3 x 2 with a palette of `bytes` bytes (byte k is k).
Bmp palette_page(uint32_t headerSize, uint32_t bytes) {
    Bmp b;
    b.headerSize = headerSize, b.bits = 8, b.pixels.assign(8, 1);
    for (uint32_t k = 0; k < bytes; ++k) b.between.push_back(uint8_t(k));
    return b;
}

TEST_F(BmpJpeg, HeaderKindsPalettesAndPixelLayouts) {
    Bmp used = palette_page(40, 12), white, black, rgb;
    used.bits = 4, used.coloursUsed = 0x10003;  // colours used, as a 16-bit count
    white.bits = black.bits = 1, white.between = {255, 0, 0, 0}, black.between = {0, 0, 0, 0};
    rgb.pixels.assign(24, 5);                   // 24 bits, 3 pixels wide
    const std::pair<Bmp, std::vector<uint32_t>> cases[] = {
        {palette_page(40, 1024), {3, 8, TAV_PHOTO_PALETTE, 1024, 54, 1078, 0, 8, 4}},
        {palette_page(12, 768), {3, 8, TAV_PHOTO_PALETTE, 768, 26, 794, 0, 8, 4 | 1 << 16}},
        {palette_page(108, 1024), {3, 8, TAV_PHOTO_PALETTE, 1024, 122, 1146, 0, 8, 4 | 2 << 16}},
        {palette_page(124, 1024), {3, 8, TAV_PHOTO_PALETTE, 1024, 138, 1162, 0, 8, 4 | 3 << 16}},
        {used, {3, 4, TAV_PHOTO_PALETTE, 12, 54, 66, 0, 8, 4}},
        {white, {3, 1, TAV_PHOTO_BILEVEL_WHITE, 0, 0, 58, 0, 0, 4}},
        {black, {3, 1, TAV_PHOTO_BILEVEL_BLACK, 0, 0, 58, 0, 0, 4}},
        {rgb, {3, 8, TAV_PHOTO_RGB, 0, 0, 54, 0, 24, 12}}};
    for (const auto& [b, want] : cases) EXPECT_EQ(bmp(b), want);
    for (uint32_t size : {40, 12}) {
        Bmp b = palette_page(size, size == 12 ? 768 : 1024);
        OpenedFile f(save(b.build()));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(delivered_palette(f), b.between);  // as stored
        // 3780 pixels per metre is 96 per inch (the core header has none).
        EXPECT_EQ(std::vector<uint32_t>({f.pi.xResNum, f.pi.compression}),
                  std::vector<uint32_t>({size == 12 ? 0u : 96u, TAV_COMP_NONE}));
    }
}

// The 24-bit rows a 16- or 32-bit page gives, from its stored rows (each
// padded to 4 bytes with 0xAA): blue, green, red of each pixel.
struct Pixels {
    uint32_t width, height, bits;
    std::vector<uint8_t> stored, delivered;
    Pixels(uint32_t w, uint32_t h, uint32_t bitCount) : width(w), height(h), bits(bitCount) {
        const uint32_t b = bits / 8, storedRow = (w * b + 3) / 4 * 4, rowBytes = (3 * w + 3) / 4 * 4;
        for (uint32_t y = 0; y < h; ++y) {
            std::vector<uint8_t> row(rowBytes, 0);
            for (uint32_t x = 0; x < w; ++x) {
                uint32_t v = y == 0 && x == 0 ? 0x7FFF : (x * 2654435761u + y * 40503u) >> 7;
                if (b == 2) {
                    stored.insert(stored.end(), {uint8_t(v), uint8_t(v >> 8)});
                    row[3 * x] = uint8_t((v & 0x1F) << 3);
                    row[3 * x + 1] = uint8_t(((v >> 5) & 0x1F) << 3);
                    row[3 * x + 2] = uint8_t(((v >> 10) & 0x1F) << 3);
                } else {
                    stored.insert(stored.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
                    row[3 * x] = uint8_t(v), row[3 * x + 1] = uint8_t(v >> 8), row[3 * x + 2] = uint8_t(v >> 16);
                }
            }
            stored.insert(stored.end(), storedRow - w * b, 0xAA);
            delivered.insert(delivered.end(), row.begin(), row.end());
        }
    }
};

TEST_F(BmpJpeg, SixteenAndThirtyTwoBitRowsAtEveryWidth) {
    for (uint16_t bits : {16, 32}) {
        for (uint32_t width : {1u, 2u, 3u, 4u, 5u}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
            Pixels px(width, 3, bits);
            Bmp b;
            b.width = int32_t(width), b.height = 3, b.bits = bits, b.pixels = px.stored;
            OpenedFile f(save(b.build()));
            ASSERT_EQ(f.info(1), 0u);
            const uint32_t rowBytes = (3 * width + 3) / 4 * 4;
            EXPECT_EQ(std::vector<uint32_t>({row_bytes(f.pi), f.pi.bmpBytesPerPixel, f.ps.dataBytes, f.pi.bmpMasks[0]}),
                      std::vector<uint32_t>({rowBytes, bits / 8u, 3 * rowBytes, bits == 16 ? 0x7C00u : 0xFF0000u}));
            for (uint32_t piece : {1u, 2u, 5u, 7u, 13u, 100u}) {
                uint32_t err = 0;
                EXPECT_EQ(f.stream(1, f.ps.dataBytes, piece, &err), px.delivered) << piece;
            }
            if (bits == 16) {
                EXPECT_EQ(std::vector<uint8_t>(px.delivered.begin(), px.delivered.begin() + 3),
                          std::vector<uint8_t>(3, 0xF8));
            }
        }
    }
    // A 32-bit row two pixels wide: eight bytes placed, padding included.
    Pixels px(2, 2, 32);
    Bmp b;
    b.width = 2, b.bits = 32, b.pixels = px.stored;
    OpenedFile f(save(b.build()));
    ASSERT_EQ(f.info(1), 0u);
    std::vector<uint8_t> buf(8, 0xEE);
    uint32_t remaining = 0, err = 0;
    EXPECT_EQ(f.read(buf.data(), 0, 8, &remaining, 1, &err), 8);
    EXPECT_EQ(remaining, 8u);
    EXPECT_EQ(buf, std::vector<uint8_t>(px.delivered.begin(), px.delivered.begin() + 8));
}

TEST_F(BmpJpeg, BitFieldMasks) {
    // 5-6-5 masks behind a 40-byte header, and in a version-5 header.
    for (uint32_t size : {40u, 124u}) {
        Bmp b;
        b.headerSize = size, b.width = 2, b.height = 1, b.bits = 16, b.compression = 3;
        b.masks[0] = 0xF800, b.masks[1] = 0x07E0, b.masks[2] = 0x001F;
        if (size == 40) b.between = Bytes().le32(0xF800).le32(0x07E0).le32(0x001F).b;
        b.pixels = {0xFF, 0xFF, 0x1F, 0x00};
        OpenedFile f(save(b.build()));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(std::vector<uint32_t>(f.pi.bmpMasks, f.pi.bmpMasks + 3),
                  std::vector<uint32_t>({0xF800, 0x07E0, 0x001F}));
        EXPECT_EQ(f.pi.redMask, size == 40 ? 0u : 0xF800u);
        uint32_t err = 0;
        EXPECT_EQ(f.stream(1, 8, 8, &err), std::vector<uint8_t>({0xF8, 0xFC, 0xF8, 0xF8, 0, 0, 0, 0}));
    }
}

TEST_F(BmpJpeg, EmbeddedAndLinkedProfiles) {
    Bmp b;
    b.headerSize = 124, b.colourSpace = 0x4D424544, b.pixels.assign(24, 3);
    b.after = {'i', 'c', 'c', '!'};
    b.profileData = 124 + 24, b.profileSize = 4;
    OpenedFile f(save(b.build()));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.colorSpaceType, f.pi.profileOffset.value, f.pi.profileSize, f.ps.dataBytes}),
              std::vector<uint32_t>({0x4D424544, 14 + 124 + 24, 4, 24}));
    char profile[5] = {};
    PageInfo q = f.pi;
    q.profileBuffer = profile;
    ASSERT_EQ(f.data(q), 0u);
    EXPECT_STREQ(profile, "icc!");

    // Linked profiles: a regular file counts; a missing one and a FIFO
    // (which must not stall the lookup) leave the page without a profile.
    const std::string regular = dir.file("real.icc"), fifo = dir.file("fifo.icc");
    write_file(regular, std::string("profile"));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {regular, dir.file("missing.icc"), fifo}) {
        Bmp l = b;
        l.colourSpace = 0x4C494E4B;
        l.after.assign(name.begin(), name.end());
        l.profileSize = uint32_t(name.size());
        OpenedFile g(save(l.build()));
        ASSERT_EQ(g.info(1), 0u) << name;
        const bool found = name == regular;
        EXPECT_EQ(std::vector<uint32_t>({g.pi.colorSpaceType, g.pi.profileSize, g.ps.dataBytes}),
                  std::vector<uint32_t>({found ? 0x4C494E4Bu : 1u, found ? uint32_t(name.size()) : 0u,
                                         found ? 24u : 24u + uint32_t(name.size())}));
        EXPECT_EQ(std::string(g.pi.linkedProfileName), found ? name : "");
    }
}

TEST_F(BmpJpeg, BmpRefusals) {
    Bmp topDown, narrowLimit, wide, late, farPalette, rle, bits, profileFirst, cut;
    topDown.height = -2;
    narrowLimit.width = 10921;
    wide.width = 10922;
    late.dataOffset = 32768, late.after.assign(32768, 0);
    farPalette.headerSize = 40000, farPalette.bits = 8;
    rle.compression = 1;
    bits.bits = 7;
    profileFirst.headerSize = 124, profileFirst.colourSpace = 0x4D424544;
    profileFirst.profileData = 100, profileFirst.profileSize = 4, profileFirst.pixels.assign(24, 0);
    cut.dataOffset = 1000;
    const std::pair<Bmp*, uint32_t> cases[] = {
        {&topDown, TAV_E_PAGE},    {&wide, TAV_E_SIZE},         {&late, TAV_E_SIZE},
        {&farPalette, TAV_E_SIZE}, {&rle, TAV_E_COMPRESSION},   {&bits, TAV_E_FIELD_TYPE},
        {&profileFirst, TAV_E_TRUNCATED}, {&cut, TAV_E_TRUNCATED}};
    for (auto [b, want] : cases) EXPECT_EQ(bmp(*b), std::vector<uint32_t>({want}));
    EXPECT_EQ(bmp(narrowLimit).size(), 9u);  // 10921 pixels of 24 bits still fit
}

// ---- JPEG ----

// SOI, a JFIF segment, optional segments, a baseline frame of `components`
// components, a Huffman table segment, the scan header and 40 data bytes.
struct Jpeg {
    uint8_t units = 1;
    uint16_t density = 300;
    uint8_t frame = 0xC0;
    uint32_t components = 3;
    std::vector<uint8_t> afterJfif, beforeFrame;
    bool scan = true;

    Bytes build(uint32_t* scanAt = nullptr) const {
        Bytes j;
        j.u8({0xFF, 0xD8, 0xFF, 0xE0}).be16(16).text("JFIF").u8({0, 1, 2, units}).be16(density).be16(density);
        j.u8({0, 0}).raw(afterJfif).raw(beforeFrame);
        j.u8({0xFF, frame}).be16(8 + 3 * components).u8({8}).be16(21).be16(35).u8({uint8_t(components)});
        for (uint32_t c = 0; c < components; ++c) j.u8({uint8_t(c + 1), 0x11, 0});
        j.u8({0xFF, 0xC4}).be16(5).u8({0xFF, 0xDA, 0x00});  // table bytes that look like a marker
        if (scanAt) *scanAt = uint32_t(j.size());
        if (scan) j.u8({0xFF, 0xDA}).be16(8).u8({1, 1, 0, 0, 63, 0});
        return j.fill(40, 0x33).u8({0xFF, 0xD9});
    }
};

TEST_F(BmpJpeg, JfifResolutionAndComponents) {
    // units, density, components: x resolution, unit, photometric, samples.
    const std::pair<std::vector<uint32_t>, std::vector<uint32_t>> cases[] = {
        {{0, 1, 3}, {200, 1, TAV_PHOTO_RGB, 3}},
        {{1, 300, 1}, {300, 2, TAV_PHOTO_GRAY_WHITE, 1}},
        {{2, 118, 3}, {118, 3, TAV_PHOTO_RGB, 3}},
        {{3, 72, 4}, {72, 0, 0, 0}}};
    for (const auto& [in, want] : cases) {
        Jpeg j;
        j.units = uint8_t(in[0]), j.density = uint16_t(in[1]), j.components = in[2];
        uint32_t scanAt = 0;
        Bytes bytes = j.build(&scanAt);
        OpenedFile f(save(bytes, ".jpg"));
        ASSERT_EQ(f.info(1), 0u);
        const PageInfo& i = f.pi;
        EXPECT_EQ(std::vector<uint32_t>({i.xResNum, i.resolutionUnit, i.photometric, i.samplesPerPixel}), want);
        EXPECT_EQ(std::vector<uint32_t>({i.imageWidth, i.imageLength, i.compression, i.yResNum, f.ps.dataBytes,
                                         i.compressionInfo.jpeg->headerLength}),
                  std::vector<uint32_t>({35, 21, TAV_COMP_JPEG_INFO, i.xResNum, uint32_t(bytes.size()) - scanAt, scanAt}));
    }
}

TEST_F(BmpJpeg, JfxxSegmentLeftOutOfTheHeader) {
    Jpeg j;
    Bytes jfxx;
    jfxx.u8({0xFF, 0xE0}).be16(2 + 5 + 1 + 12).text("JFXX").u8({0, 0x13}).fill(12, 0xFF);
    j.afterJfif = jfxx.b;
    uint32_t scanAt = 0;
    Bytes bytes = j.build(&scanAt);
    OpenedFile f(save(bytes, ".jpg"));
    ASSERT_EQ(f.info(1), 0u);
    const JpegInfo* info = f.pi.compressionInfo.jpeg;
    const uint32_t segment = uint32_t(jfxx.size());
    EXPECT_EQ(std::vector<uint32_t>({info->restartInterval, info->headerLength, info->interchangeLength}),
              std::vector<uint32_t>({scanAt, scanAt - segment, scanAt - segment}));
    std::vector<uint8_t> want(bytes.b.begin(), bytes.b.begin() + 20);
    want.insert(want.end(), bytes.b.begin() + 20 + segment, bytes.b.begin() + scanAt);
    EXPECT_EQ(std::vector<uint8_t>(info->header, info->header + info->headerLength), want);
    uint32_t err = 0;
    EXPECT_EQ(f.stream(1, f.ps.dataBytes, 9, &err), std::vector<uint8_t>(bytes.b.begin() + scanAt, bytes.b.end()));
}

TEST_F(BmpJpeg, JpegRefusals) {
    Jpeg progressive, noScan, longFrame, shortSegment, farThumbnail;
    progressive.frame = 0xC2;
    noScan.scan = false;
    longFrame.components = 256;  // 8 + 3 x 256 bytes: beyond 255 components
    shortSegment.beforeFrame = {0xFF, 0xFE, 0x00, 0x01};
    farThumbnail.afterJfif = Bytes().u8({0xFF, 0xE0}).be16(60000).text("JFXX").b;
    const std::pair<Jpeg*, uint32_t> cases[] = {{&progressive, TAV_E_COMPRESSION},
                                                {&noScan, TAV_E_NO_IMAGE},
                                                {&longFrame, TAV_E_SIZE},
                                                {&shortSegment, TAV_E_TRUNCATED},
                                                {&farThumbnail, TAV_E_TRUNCATED}};
    for (auto [j, want] : cases) {
        OpenedFile f(save(j->build(), ".jpg"));
        EXPECT_EQ(f.info(1), want);
    }
}

TEST_F(BmpJpeg, JpegInfoIsRecycledAndFreed) {
    const std::string path = save(Jpeg().build(), ".jpg");
    const int before = mem_live_blocks();
    {
        OpenedFile f(path);
        ASSERT_EQ(f.info(1), 0u);
        JpegInfo* first = f.pi.compressionInfo.jpeg;
        const int held = mem_live_blocks();
        ASSERT_EQ(f.info(1), 0u);  // the same record: the block comes back
        EXPECT_EQ(f.pi.compressionInfo.jpeg, first);
        PageInfo fresh{};
        PageSizes sizes{};
        ASSERT_EQ(f.info(1, fresh, sizes), 0u);  // a new record: the old block goes
        EXPECT_EQ(mem_live_blocks(), held);
        // The caller's changes to the block do not move the data.
        fresh.compressionInfo.jpeg->restartInterval = 0;
        std::vector<uint8_t> two(2);
        uint32_t remaining = 0, err = 0;
        ASSERT_EQ(f.read(two.data(), 0, 2, &remaining, 1, &err), 2);
        EXPECT_EQ(two, std::vector<uint8_t>({0xFF, 0xDA}));
    }
    EXPECT_EQ(mem_live_blocks(), before);
}

TEST_F(BmpJpeg, TiffWriterRecordsNoRestartIntervalFromAJpegFile) {
    OpenedFile jpeg(save(Jpeg().build(), ".jpg"));
    ASSERT_EQ(jpeg.info(1), 0u);
    ASSERT_GT(jpeg.pi.compressionInfo.jpeg->restartInterval, 0u);
    uint32_t err = 0;
    std::vector<uint8_t> data = jpeg.stream(1, jpeg.ps.dataBytes, 1000, &err);

    const std::string out = dir.file("out.tif");
    PathBuf p(out);
    uint32_t type = FILETYPE_TIFF;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    ASSERT_GT(h, 0);
    PageInfo put = jpeg.pi;
    JpegInfo copy = *put.compressionInfo.jpeg;  // as a caller keeping the original would
    put.compressionInfo.jpeg = &copy;
    put.textTags = nullptr;
    ASSERT_GE(xtavputi(&h, 1, &put, nullptr, &err), 0) << err;
    ASSERT_EQ(xtavwrite(&h, data.data(), uint32_t(data.size()), 1, 1, &err), int32_t(data.size())) << err;
    ASSERT_EQ(xtavclose(&h, &err), 0);

    OpenedFile tif(out);
    ASSERT_EQ(tif.info(1), 0u);
    ASSERT_EQ(tif.pi.compression, TAV_COMP_JPEG_INFO);
    EXPECT_EQ(tif.pi.compressionInfo.jpeg->restartInterval, 0u);
}

}  // namespace
