// Interop: a corpus made with independent tools (libtiff's tiffcp,
// ImageMagick, Pillow) read through xtavgeti, xtavread and xtavgtdata and
// compared with what libtiff reports for every page.
#include <cstring>

#include "page_test_util.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>

namespace {

uint32_t our_compression(uint16_t c) {  // 0: refused with TAV_E_COMPRESSION
    return c >= 1 && c <= 5 ? c : c == 32773 ? 6 : (c == 6 || c == 32864) ? 7 : 0;
}

uint32_t our_photometric(uint16_t p, uint16_t bits) {
    const uint32_t map[7] = {bits > 1 ? 5u : 9u, bits > 1 ? 11u : 10u, 8, 7, 0, 0, 12};
    return p < 7 ? map[p] : 0;
}

// Builds the corpus in dir; returns the files made.
std::vector<std::string> make_corpus(const std::string& d) {
    auto sh = [&](const std::string& cmd) {
        return run_command("cd " + d + " && " + cmd + " >/dev/null 2>&1") == 0;
    };
    sh("convert -size 300x200 xc:white -fill black -draw 'circle 150,100 150,20' "
       "-monochrome -type Bilevel -depth 1 -compress none bw.tif");
    sh("convert -size 256x180 gradient:black-white -depth 8 -type Grayscale -compress none grey.tif");
    sh("convert -size 200x150 -seed 7 plasma:fractal -depth 8 -type TrueColor -compress none rgb.tif");
    sh("convert rgb.tif -colors 16 -type Palette -compress none pal.tif");
    std::vector<std::string> made;
    auto add = [&](const std::string& cmd, const std::string& out) {
        if (sh(cmd + " " + out)) made.push_back(d + "/" + out);
    };
    const std::pair<const char*, std::vector<const char*>> srcs[] = {
        {"bw", {"none", "packbits", "lzw", "g3", "g4", "g3:2d"}},
        {"grey", {"none", "packbits", "lzw", "jpeg"}},
        {"rgb", {"none", "lzw", "jpeg"}},
        {"pal", {"none", "packbits", "lzw"}}};
    for (const auto& [name, codecs] : srcs)
        for (const char* c : codecs)
            for (const char* order : {"-B", "-L"})
                for (const char* rows : {"-r 16", "-r 100000"}) {
                    std::string out = std::string(name) + "_" + c + order + rows + ".tif";
                    for (char& ch : out) ch = (ch == ' ' || ch == ':') ? '_' : ch;
                    add(std::string("tiffcp -c ") + c + " " + order + " " + rows + " " + name + ".tif", out);
                }
    add("tiffcp -r 32 bw.tif grey.tif rgb.tif pal.tif", "multi_ii.tif");
    add("tiffcp -B -c lzw -r 7 grey.tif bw.tif pal.tif rgb.tif", "multi_mm.tif");
    add("convert -size 100x80 gradient:black-white -depth 8 -type Grayscale -units PixelsPerCentimeter "
        "-density 47 -orient BottomRight -set comment 'IM comment'", "im_grey.tif");
    add("convert -size 120x90 xc:white -fill black -draw 'line 0,0 119,89' -monochrome "
        "-units PixelsPerInch -density 204x196 -compress Group4 -endian MSB", "im_g4.tif");
    add("convert -size 64x64 -seed 3 plasma: -colors 200 -type Palette -endian MSB -compress LZW", "im_pal.tif");
    // Pillow: palette, grey, RGB, texts, resolution units, orientation.
    write_file(d + "/pil.py",
               "import sys\nfrom PIL import Image, TiffImagePlugin\n"
               "def info(orient):\n"
               "    ifd = TiffImagePlugin.ImageFileDirectory_v2()\n"
               "    ifd[270] = 'A description of the page'; ifd[315] = 'An artist'\n"
               "    ifd[269] = 'doc'; ifd[305] = 'Pillow'; ifd[274] = orient\n"
               "    return ifd\n"
               "g = Image.new('L', (64, 48)); g.putdata([(x * 7) % 256 for x in range(64 * 48)])\n"
               "g.save('pil_grey.tif', tiffinfo=info(6), resolution=47.5, resolution_unit=3)\n"
               "p = g.convert('P'); p.putpalette([(i * 5) % 256 for i in range(768)])\n"
               "p.save('pil_pal.tif', tiffinfo=info(3), dpi=(150, 150))\n"
               "r = Image.merge('RGB', (g, g.transpose(Image.FLIP_LEFT_RIGHT), g))\n"
               "r.save('pil_rgb.tif', tiffinfo=info(8), compression='tiff_lzw')\n"
               "r.save('pil_rgb_packbits.tif', compression='packbits')\n");
    if (!pillow_missing() && sh("/usr/bin/python3 pil.py"))
        for (const char* f : {"pil_grey.tif", "pil_pal.tif", "pil_rgb.tif", "pil_rgb_packbits.tif"})
            made.push_back(d + "/" + f);
    return made;
}

const uint16_t kTextTags[9] = {269, 270, 271, 272, 285, 306, 315, 316, 305};

void compare_page(OpenedFile& f, TIFF* t, uint16_t page, uint64_t fileSize) {
    uint32_t w = 0, l = 0, rps = 0;
    uint16_t bits = 1, spp = 1, comp = 1, photo = 0, unit = 2, orient = 1;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orient);
    TextTagBuf tags[9] = {};
    std::vector<uint32_t> sizes(4096);
    f.pi = PageInfo{};
    f.pi.textTags = tags;
    f.ps = PageSizes{0, 0, uint32_t(sizes.size()), 0, sizes.data()};
    const PageInfo& pi = f.pi;
    uint32_t err = f.info(page);
    if (our_compression(comp) == 0) {
        EXPECT_EQ(err, uint32_t(TAV_E_COMPRESSION));
        return;
    }
    ASSERT_EQ(err, 0u);
    const uint32_t rot[9] = {0, 0, 270, 180, 90, 0, 270, 180, 90};
    EXPECT_EQ(std::vector<uint32_t>({pi.imageWidth, pi.imageLength, pi.bitsPerSample[0], pi.samplesPerPixel,
                                     pi.compression, pi.photometric, pi.byteOrder, pi.resolutionUnit,
                                     pi.rotation, pi.mirrored}),
              std::vector<uint32_t>({w, l, bits, spp, our_compression(comp), our_photometric(photo, bits),
                                     TIFFIsBigEndian(t) ? 0x4D4Du : 0x4949u, (unit >= 1 && unit <= 3) ? unit : 1u,
                                     rot[orient % 9], orient >= 5 ? 1u : 0u}));
    float res = 0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &res)) {
        EXPECT_NEAR(double(pi.xResNum) / pi.xResDen, res, 1e-3 * (1 + res));
    }
    if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &res)) {
        EXPECT_NEAR(double(pi.yResNum) / pi.yResDen, res, 1e-3 * (1 + res));
    }
    if (TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps)) {
        EXPECT_EQ(pi.rowsPerStrip, rps);
    }
    const uint32_t nstrips = TIFFNumberOfStrips(t);
    EXPECT_EQ(std::vector<uint32_t>({pi.stripCount, f.ps.sizeCount}), std::vector<uint32_t>(2, nstrips));
    uint64_t *counts = nullptr, *offsets = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
    std::vector<uint8_t> raw;  // the raw strips as libtiff reads them
    for (uint32_t s = 0; s < nstrips; ++s) {
        std::vector<uint8_t> one(counts[s]);
        ASSERT_EQ(TIFFReadRawStrip(t, s, one.data(), tmsize_t(one.size())), tmsize_t(one.size()));
        raw.insert(raw.end(), one.begin(), one.end());
    }
    if (nstrips == 1) {  // one strip runs to the end of the file; libtiff's is a prefix
        EXPECT_EQ(f.ps.dataBytes, uint32_t(fileSize - offsets[0]));
        EXPECT_EQ(sizes[0], f.ps.dataBytes);
    } else {
        EXPECT_EQ(f.ps.dataBytes, raw.size());
        EXPECT_EQ(std::vector<uint64_t>(sizes.begin(), sizes.begin() + nstrips),
                  std::vector<uint64_t>(counts, counts + nstrips));
        EXPECT_EQ(pi.maxStripSize, *std::max_element(counts, counts + nstrips));
    }
    for (uint32_t piece : {1024u, 4103u, 65536u, f.ps.dataBytes}) {
        auto stream = f.stream(page, f.ps.dataBytes, piece, &err);
        ASSERT_EQ(err, 0u) << piece;
        ASSERT_GE(stream.size(), raw.size());
        EXPECT_EQ(std::memcmp(stream.data(), raw.data(), raw.size()), 0) << piece;
    }
    // Texts and colour map.
    std::vector<std::string> texts(9);
    char* lib[9] = {};
    for (int k = 0; k < 9; ++k) {
        if (!TIFFGetField(t, kTextTags[k], &lib[k]) || !lib[k]) {
            lib[k] = nullptr;
            EXPECT_EQ(tags[k].length, 0u) << kTextTags[k];
            continue;
        }
        texts[k].assign(tags[k].length + 1, 0);
        tags[k].buffer = texts[k].data();
    }
    std::vector<uint16_t> map(photo == PHOTOMETRIC_PALETTE ? pi.area.palette.colorMapSize / 2 : 0);
    f.pi.area.palette.colorMapBuffer = map.data();
    ASSERT_EQ(f.data(), 0u);
    for (int k = 0; k < 9; ++k)
        if (lib[k]) {
            EXPECT_STREQ(texts[k].c_str(), lib[k]) << kTextTags[k];
        }
    if (photo == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b));
        size_t n = size_t(1) << bits;
        ASSERT_EQ(map.size(), 3 * n);
        EXPECT_EQ(0, std::memcmp(map.data(), r, 2 * n));
        EXPECT_EQ(0, std::memcmp(map.data() + n, g, 2 * n));
        EXPECT_EQ(0, std::memcmp(map.data() + 2 * n, b, 2 * n));
    }
}

// Pages are visited last to first, so what a page gives cannot depend on
// having read the page before it.
TEST(Interop, EveryPageAgreesWithLibtiff) {
    if (oracle_missing("tiffcp") || oracle_missing("convert")) GTEST_SKIP() << "tiffcp or ImageMagick missing";
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    TempDir dir;
    const auto files = make_corpus(dir.path());
    EXPECT_GE(files.size(), 60u);
    int pages = 0;
    for (const std::string& path : files) {
        TIFF* t = TIFFOpen(path.c_str(), "rc");  // no strip chopping
        ASSERT_NE(t, nullptr) << path;
        OpenedFile f(path);
        ASSERT_EQ(f.type, FILETYPE_TIFF) << path;
        EXPECT_EQ(f.pages, uint32_t(TIFFNumberOfDirectories(t))) << path;
        for (uint16_t p = uint16_t(f.pages); p >= 1; --p, ++pages) {
            SCOPED_TRACE(path + " page " + std::to_string(p));
            ASSERT_TRUE(TIFFSetDirectory(t, uint16_t(p - 1)));
            compare_page(f, t, p, read_file(path).size());
        }
        TIFFClose(t);
    }
    EXPECT_GE(pages, 70);
}

}  // namespace

#endif  // QVTAV_HAVE_LIBTIFF
