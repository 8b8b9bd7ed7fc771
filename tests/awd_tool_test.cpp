// qvtav copy between TIFF and AWD files: bilevel TIFF pages of every coding
// go into an AWD file and back out, and libtiff decodes the result to the
// same pixels as the source.
#include <gtest/gtest.h>

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "awd_test_util.h"
#include "test_util.h"

namespace {

struct Source {
    std::string name;
    uint16_t compression;
    uint16_t photometric;
    uint16_t fillOrder;
    uint32_t rowsPerStrip;
    uint32_t width, height;
};

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open_tiff(const std::string& path, const char* mode) {
    TIFFOpenOptions* o = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetWarningHandlerExtR(o, quiet, nullptr);
    TIFF* t = TIFFOpenExt(path.c_str(), mode, o);
    TIFFOpenOptionsFree(o);
    return t;
}

// A bilevel page written by libtiff in the coding given; its pixels come
// from pattern_page (1 black), stored as the photometric says.
void write_source(const std::string& path, const Source& s, uint32_t seed) {
    BitPage p = pattern_page(s.width, s.height, seed);
    TIFF* t = open_tiff(path, "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_FILLORDER, s.fillOrder);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 203.7f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(p.row_bytes());
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t b = 0; b < p.row_bytes(); ++b)
            row[b] = s.photometric == PHOTOMETRIC_MINISBLACK ? uint8_t(~p.row(y)[b]) : p.row(y)[b];
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    }
    TIFFClose(t);
}

// Page `page` (from 0) of a TIFF file as libtiff decodes it to RGBA.
std::vector<uint32_t> rgba(const std::string& path, uint16_t page, uint32_t* w, uint32_t* h) {
    TIFF* t = open_tiff(path, "r");
    if (!t || !TIFFSetDirectory(t, page)) return {};
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, h);
    std::vector<uint32_t> px(size_t(*w) * *h);
    bool ok = TIFFReadRGBAImageOriented(t, *w, *h, px.data(), ORIENTATION_TOPLEFT, 0) == 1;
    TIFFClose(t);
    return ok ? px : std::vector<uint32_t>{};
}

std::string tool() { return std::string(QVTAV_OUT_DIR) + "/qvtav"; }

TEST(AwdTool, BilevelTiffPagesGoThroughAnAwdFileBitIdentical) {
    TempDir dir;
    const Source sources[] = {
        {"t6.tif", COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, FILLORDER_MSB2LSB, 2000, 1728, 300},
        {"black.tif", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, FILLORDER_MSB2LSB, 7, 1727, 61},
        {"lzw.tif", COMPRESSION_LZW, PHOTOMETRIC_MINISWHITE, FILLORDER_MSB2LSB, 16, 203, 99},
        {"t4.tif", COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, FILLORDER_LSB2MSB, 2000, 640, 80},
        {"packbits.tif", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, FILLORDER_MSB2LSB, 10, 100, 45},
    };
    std::string list;
    for (uint32_t i = 0; i < std::size(sources); ++i) {
        write_source(dir.file(sources[i].name), sources[i], i);
        list += " '" + dir.file(sources[i].name) + "'";
    }
    std::string awd = dir.file("fax.awd"), back = dir.file("back.tif");
    ASSERT_EQ(run_command(tool() + " copy" + list + " -o '" + awd + "' >/dev/null"), 0);
    ASSERT_EQ(run_command(tool() + " copy '" + awd + "' -o '" + back + "' >/dev/null"), 0);
    AwdHandle f;
    ASSERT_EQ(f.open(awd), 0u);
    EXPECT_EQ(f.pages, uint32_t(std::size(sources)));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(f.pi.xResNum, 204u);  // 203.7 dots per inch become 204
    EXPECT_EQ(f.pi.yResNum, 196u);
    f.close();
    for (uint16_t i = 0; i < std::size(sources); ++i) {
        SCOPED_TRACE(sources[i].name);
        uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0;
        std::vector<uint32_t> want = rgba(dir.file(sources[i].name), 0, &w1, &h1);
        std::vector<uint32_t> got = rgba(back, i, &w2, &h2);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(w2, w1);
        EXPECT_EQ(h2, h1);
        EXPECT_TRUE(got == want);
    }
}

}  // namespace
#endif
