// Interop: a corpus made with independent tools (libtiff's tiffcp,
// ImageMagick, Pillow) read through xtavgeti, xtavread and xtavgtdata and
// compared with what libtiff itself reports for every page.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>

namespace {

uint32_t our_compression(uint16_t c) {
    switch (c) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    case 5: return 5;
    case 32773: return 6;
    case 6:
    case 32864: return 7;
    default: return 0;  // refused with 274
    }
}

uint32_t our_photometric(uint16_t p, uint16_t bits) {
    switch (p) {
    case 0: return bits > 1 ? 5 : 9;
    case 1: return bits > 1 ? 11 : 10;
    case 2: return 8;
    case 3: return 7;
    case 6: return 12;
    default: return 0;
    }
}

std::string python_with_pil() {
    for (const char* py : {"/usr/bin/python3", "python3"})
        if (run_command(std::string(py) + " -c 'import PIL' >/dev/null 2>&1") == 0) return py;
    return "";
}

class Interop : public ::testing::Test {
protected:
    static TempDir* dir;
    static std::vector<std::string> files;

    static void SetUpTestSuite() {
        dir = new TempDir();
        if (!have_program("tiffcp") || !have_program("convert")) return;
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        const std::string d = dir->path() + "/";
        auto sh = [&](const std::string& cmd) {
            return run_command("cd " + d + " && " + cmd + " >/dev/null 2>&1") == 0;
        };
        // Base images.
        sh("convert -size 300x200 xc:white -fill black -draw 'circle 150,100 150,20' "
           "-monochrome -type Bilevel -depth 1 -compress none bw.tif");
        sh("convert -size 256x180 gradient:black-white -depth 8 -type Grayscale "
           "-compress none grey.tif");
        sh("convert -size 200x150 -seed 7 plasma:fractal -depth 8 -type TrueColor "
           "-compress none rgb.tif");
        sh("convert rgb.tif -colors 16 -type Palette -compress none pal.tif");
        std::vector<std::string> made;
        struct Src {
            const char* name;
            std::vector<const char*> codecs;
        } srcs[] = {{"bw", {"none", "packbits", "lzw", "g3", "g4", "g3:2d"}},
                    {"grey", {"none", "packbits", "lzw", "jpeg"}},
                    {"rgb", {"none", "lzw", "jpeg"}},
                    {"pal", {"none", "packbits", "lzw"}}};
        for (const Src& s : srcs) {
            for (const char* c : s.codecs) {
                for (const char* order : {"-B", "-L"}) {
                    for (const char* rows : {"", "-r 16", "-r 100000"}) {
                        std::string out = std::string(s.name) + "_" + c + order + rows + ".tif";
                        for (char& ch : out)
                            if (ch == ' ' || ch == ':') ch = '_';
                        if (sh(std::string("tiffcp -c ") + c + " " + order + " " + rows + " " +
                               s.name + ".tif " + out))
                            made.push_back(out);
                    }
                }
            }
        }
        // Multi-page files in both orders.
        if (sh("tiffcp -r 32 bw.tif grey.tif rgb.tif pal.tif multi_ii.tif")) made.push_back("multi_ii.tif");
        if (sh("tiffcp -B -c lzw -r 7 grey.tif bw.tif pal.tif rgb.tif multi_mm.tif"))
            made.push_back("multi_mm.tif");
        // ImageMagick: units, orientation, text.
        if (sh("convert -size 100x80 gradient:black-white -depth 8 -type Grayscale "
               "-units PixelsPerCentimeter -density 47 -orient BottomRight "
               "-set comment 'IM comment' im_grey.tif"))
            made.push_back("im_grey.tif");
        if (sh("convert -size 120x90 xc:white -fill black -draw 'line 0,0 119,89' -monochrome "
               "-units PixelsPerInch -density 204x196 -compress Group4 -endian MSB im_g4.tif"))
            made.push_back("im_g4.tif");
        if (sh("convert -size 64x64 -seed 3 plasma: -colors 200 -type Palette "
               "-endian MSB -compress LZW im_pal.tif"))
            made.push_back("im_pal.tif");
        // Pillow: palette, grey, RGB, texts, resolution units, orientation.
        std::string py = python_with_pil();
        if (!py.empty()) {
            std::string script = dir->path() + "/pil.py";
            write_file(script,
                       "from PIL import Image, TiffImagePlugin\n"
                       "def info(orient, unit):\n"
                       "    ifd = TiffImagePlugin.ImageFileDirectory_v2()\n"
                       "    ifd[270] = 'A description of the page'\n"
                       "    ifd[315] = 'An artist'\n"
                       "    ifd[269] = 'doc'\n"
                       "    ifd[305] = 'Pillow'\n"
                       "    ifd[274] = orient\n"
                       "    return ifd\n"
                       "g = Image.new('L', (64, 48))\n"
                       "g.putdata([(x * 7) % 256 for x in range(64 * 48)])\n"
                       "g.save('pil_grey.tif', tiffinfo=info(6, 3), resolution=47.5, resolution_unit=3)\n"
                       "p = g.convert('P')\n"
                       "p.putpalette([(i * 5) % 256 for i in range(768)])\n"
                       "p.save('pil_pal.tif', tiffinfo=info(3, 2), dpi=(150, 150))\n"
                       "r = Image.merge('RGB', (g, g.transpose(Image.FLIP_LEFT_RIGHT), g))\n"
                       "r.save('pil_rgb.tif', tiffinfo=info(8, 1), compression='tiff_lzw')\n"
                       "r.save('pil_rgb_packbits.tif', compression='packbits')\n");
            if (sh(py + " pil.py")) {
                for (const char* f : {"pil_grey.tif", "pil_pal.tif", "pil_rgb.tif", "pil_rgb_packbits.tif"})
                    made.push_back(f);
            }
        }
        for (const auto& f : made) files.push_back(d + f);
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
        files.clear();
    }
};

TempDir* Interop::dir = nullptr;
std::vector<std::string> Interop::files;

const uint16_t kTextTags[9] = {269, 270, 271, 272, 285, 306, 315, 316, 305};

void compare_page(OpenedFile& f, TIFF* t, const std::string& name, uint16_t page,
                  uint64_t fileSize) {
    SCOPED_TRACE(name + " page " + std::to_string(page));
    uint32_t w = 0, l = 0;
    uint16_t bits = 1, spp = 1, comp = 1, photo = 0, unit = 2, orient = 1;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orient);

    TextTagBuf tags[9];
    std::memset(tags, 0, sizeof tags);
    PageInfo pi = fresh_info();
    pi.textTags = tags;
    PageSizes ps = fresh_sizes();
    std::vector<uint32_t> sizes(4096);
    ps.sizeCapacity = uint32_t(sizes.size());
    ps.sizes = sizes.data();
    uint32_t err = f.info(page, pi, ps);
    if (our_compression(comp) == 0) {
        EXPECT_EQ(err, uint32_t(TAV_E_COMPRESSION));
        return;
    }
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(pi.imageWidth, w);
    EXPECT_EQ(pi.imageLength, l);
    EXPECT_EQ(pi.bitsPerSample[0], bits);
    EXPECT_EQ(pi.samplesPerPixel, spp);
    EXPECT_EQ(pi.compression, our_compression(comp));
    EXPECT_EQ(pi.photometric, our_photometric(photo, bits));
    EXPECT_EQ(pi.byteOrder, TIFFIsBigEndian(t) ? 0x4D4Du : 0x4949u);
    EXPECT_EQ(pi.resolutionUnit, (unit >= 1 && unit <= 3) ? unit : 1u);
    float xres = 0, yres = 0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres)) {
        EXPECT_NEAR(double(pi.xResNum) / pi.xResDen, xres, 1e-3 * (1 + xres));
    } else {
        EXPECT_EQ(pi.xResNum, 0u);
    }
    if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres)) {
        EXPECT_NEAR(double(pi.yResNum) / pi.yResDen, yres, 1e-3 * (1 + yres));
    }
    const uint32_t rot[9] = {0, 0, 270, 180, 90, 0, 270, 180, 90};
    const uint32_t mir[9] = {0, 0, 0, 0, 0, 1, 1, 1, 1};
    if (orient <= 8) {
        EXPECT_EQ(pi.rotation, rot[orient]);
        EXPECT_EQ(pi.mirrored, mir[orient]);
    }
    uint32_t rps = 0;
    if (TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps)) {
        EXPECT_EQ(pi.rowsPerStrip, rps);
    }
    const uint32_t nstrips = TIFFNumberOfStrips(t);
    EXPECT_EQ(pi.stripCount, nstrips);
    EXPECT_EQ(ps.sizeCount, nstrips);
    uint64_t* counts = nullptr;
    uint64_t* offsets = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));

    // Raw strips as libtiff reads them.
    std::vector<uint8_t> raw;
    for (uint32_t s = 0; s < nstrips; ++s) {
        std::vector<uint8_t> one(counts[s]);
        tmsize_t got = TIFFReadRawStrip(t, s, one.data(), tmsize_t(one.size()));
        ASSERT_EQ(got, tmsize_t(one.size()));
        raw.insert(raw.end(), one.begin(), one.end());
    }
    if (nstrips == 1) {
        // One strip runs to the end of the file; libtiff's strip is a prefix.
        EXPECT_EQ(ps.dataBytes, uint32_t(fileSize - offsets[0]));
        EXPECT_EQ(sizes[0], ps.dataBytes);
        ASSERT_GE(ps.dataBytes, raw.size());
    } else {
        EXPECT_EQ(ps.dataBytes, raw.size());
        uint64_t largest = 0;
        for (uint32_t s = 0; s < nstrips; ++s) {
            EXPECT_EQ(sizes[s], counts[s]);
            if (counts[s] > largest) largest = counts[s];
        }
        EXPECT_EQ(pi.maxStripSize, largest);
    }
    for (uint32_t piece : {1024u, 4103u, 65536u, ps.dataBytes}) {
        if (piece == 0) continue;
        uint32_t rerr = 0;
        auto stream = f.stream(page, ps.dataBytes, piece, &rerr);
        ASSERT_EQ(rerr, 0u) << piece;
        ASSERT_GE(stream.size(), raw.size());
        EXPECT_EQ(std::memcmp(stream.data(), raw.data(), raw.size()), 0) << piece;
    }
    // Option 23: the byte counts as the file stores them.
    if (nstrips <= 4096) {
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        std::vector<uint8_t> stored(nstrips * 4);
        TavStripCounts rec{nstrips, stored.data()};
        ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &rec), 0u);
        for (uint32_t s = 0; s < nstrips; ++s) {
            uint32_t v = 0;
            std::memcpy(&v, stored.data() + s * size, size);
            EXPECT_EQ(v, counts[s]);
        }
    }

    // Texts and colour map.
    std::vector<std::vector<char>> texts(9);
    for (int k = 0; k < 9; ++k) {
        char* lib = nullptr;
        bool has = TIFFGetField(t, kTextTags[k], &lib) && lib;
        if (!has) {
            EXPECT_EQ(tags[k].length, 0u) << kTextTags[k];
            continue;
        }
        EXPECT_GE(tags[k].length, std::strlen(lib)) << kTextTags[k];
        texts[k].assign(tags[k].length + 1, 0);
        tags[k].buffer = texts[k].data();
    }
    std::vector<uint16_t> map;
    if (photo == PHOTOMETRIC_PALETTE) {
        map.resize(pi.area.palette.colorMapSize / 2);
        pi.area.palette.colorMapBuffer = map.data();
    }
    ASSERT_EQ(f.data(pi), 0u);
    for (int k = 0; k < 9; ++k) {
        char* lib = nullptr;
        if (TIFFGetField(t, kTextTags[k], &lib) && lib) {
            EXPECT_STREQ(texts[k].data(), lib) << kTextTags[k];
        }
    }
    if (photo == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b));
        size_t n = size_t(1) << bits;
        ASSERT_EQ(map.size(), 3 * n);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(map[i], r[i]) << i;
            ASSERT_EQ(map[n + i], g[i]) << i;
            ASSERT_EQ(map[2 * n + i], b[i]) << i;
        }
    }
}

TEST_F(Interop, EveryPageAgreesWithLibtiff) {
    if (files.empty()) GTEST_SKIP() << "tiffcp or ImageMagick not installed";
    EXPECT_GE(files.size(), 60u);
    int pages = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        TIFF* t = TIFFOpen(path.c_str(), "rc");  // no strip chopping
        ASSERT_NE(t, nullptr);
        OpenedFile f(path);
        ASSERT_TRUE(f.ok()) << f.error;
        ASSERT_EQ(f.type, FILETYPE_TIFF);
        EXPECT_EQ(f.pages, uint32_t(TIFFNumberOfDirectories(t)));
        uint64_t size = read_file(path).size();
        for (uint16_t p = 1; p <= f.pages; ++p) {
            ASSERT_TRUE(TIFFSetDirectory(t, uint16_t(p - 1)));
            compare_page(f, t, path, p, size);
            ++pages;
        }
        TIFFClose(t);
    }
    EXPECT_GE(pages, 70);
    std::printf("compared %d pages of %zu files with libtiff\n", pages, files.size());
}

// A page read again after other pages gives the same stream.
TEST_F(Interop, PagesInAnyOrder) {
    if (files.empty()) GTEST_SKIP() << "tiffcp or ImageMagick not installed";
    int multi = 0;
    for (const std::string& path : files) {
        if (path.find("multi_") == std::string::npos) continue;
        ++multi;
        OpenedFile f(path);
        ASSERT_TRUE(f.ok());
        std::vector<std::vector<uint8_t>> first(f.pages + 1);
        for (int round = 0; round < 2; ++round) {
            for (uint16_t i = 0; i < f.pages; ++i) {
                uint16_t p = round == 0 ? uint16_t(i + 1) : uint16_t(f.pages - i);
                PageInfo pi = fresh_info();
                PageSizes ps = fresh_sizes();
                ASSERT_EQ(f.info(p, pi, ps), 0u);
                uint32_t err = 0;
                auto s = f.stream(p, ps.dataBytes, 3000, &err);
                ASSERT_EQ(err, 0u);
                if (round == 0) first[p] = s;
                else EXPECT_EQ(first[p], s);
            }
        }
    }
    EXPECT_EQ(multi, 2);
}

}  // namespace

#endif  // QVTAV_HAVE_LIBTIFF
