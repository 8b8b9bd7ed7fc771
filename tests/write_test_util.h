// Helpers of the TIFF writing tests: pages written through the exports, a
// reader of the bytes written (tiff_reader.h), and libtiff as an
// independent reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"
#include "tiff_reader.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace wt {

inline int32_t create(const std::string& path, uint32_t type = FILETYPE_TIFF) {
    PathBuf p(path);
    uint32_t err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    EXPECT_GT(h, 0) << path << " " << err;
    return h;
}

inline int32_t open_update(const std::string& path, uint32_t* pages) {
    PathBuf p(path);
    uint32_t type = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &type, pages, &err);
    EXPECT_GT(h, 0) << path << " " << err;
    return h;
}

inline void close(int32_t h) {
    uint32_t err = 0;
    EXPECT_EQ(0, xtavclose(&h, &err)) << err;
}

// A bilevel page of one strip, 200 x 100 dpi, uncompressed unless said.
inline PageInfo bilevel(uint32_t width, uint32_t length, uint32_t compression = TAV_COMP_NONE) {
    PageInfo info{};
    info.xResNum = 200;
    info.xResDen = info.yResDen = 1;
    info.yResNum = 100;
    info.resolutionUnit = 2;
    info.imageWidth = width;
    info.imageLength = info.rowsPerStrip = length;
    info.bitsPerSample[0] = info.samplesPerPixel = info.fillOrder = info.stripCount = 1;
    info.compression = compression;
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return info;
}

// xtavputi, then one xtavwrite with the last-data flag unless data is
// empty; the error of the first call that fails, 0 when both succeed.
inline uint32_t put_page(int32_t h, uint16_t page, PageInfo& info, std::vector<uint8_t> data) {
    uint32_t err = 0;
    if (xtavputi(&h, page, &info, nullptr, &err) < 0) return err;
    if (!data.empty() && xtavwrite(&h, data.data(), uint32_t(data.size()), page, 1, &err) != int32_t(data.size()))
        return err ? err : ~0u;
    return 0;
}

inline std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

// A new file of `count` bilevel pages of width x length whose data are
// pattern(bytes, p), as the library writes them (with a page offset
// table); their data in page order.
inline std::vector<std::vector<uint8_t>> write_pages(const std::string& path, uint16_t count, uint32_t width = 32,
                                                     uint32_t length = 1, size_t bytes = 4) {
    std::vector<std::vector<uint8_t>> pages;
    int32_t h = create(path);
    for (uint16_t p = 1; p <= count; ++p) {
        PageInfo info = bilevel(width, length);
        pages.push_back(pattern(bytes, p));
        EXPECT_EQ(0u, put_page(h, p, info, pages.back())) << "page " << p;
    }
    close(h);
    return pages;
}

// The bytes written, read as TIFF.
using Entry = test_tiff::Entry;
using File = test_tiff::Reader;

#ifdef QVTAV_HAVE_LIBTIFF
// One directory as libtiff reads it, with its raw strips.
struct LtPage {
    uint32_t width = 0, length = 0;
    uint16_t compression = 0, photometric = 0, bps = 0;
    float xres = 0, yres = 0;
    std::string software, documentName;
    std::vector<std::vector<uint8_t>> strips;
};

inline void quiet_libtiff() {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

inline std::vector<LtPage> libtiff_read(const std::string& path) {
    quiet_libtiff();
    std::vector<LtPage> pages;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return pages;
    do {
        LtPage p;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.length);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &p.compression);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric);
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &p.bps);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &p.xres);
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &p.yres);
        char* s = nullptr;
        if (TIFFGetField(t, TIFFTAG_SOFTWARE, &s) && s) p.software = s;
        if (TIFFGetField(t, TIFFTAG_DOCUMENTNAME, &s) && s) p.documentName = s;
        uint64_t* counts = nullptr;
        TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
        for (uint32_t i = 0; i < TIFFNumberOfStrips(t) && counts; ++i) {
            std::vector<uint8_t> raw(counts[i]);
            tmsize_t got = raw.empty() ? 0 : TIFFReadRawStrip(t, i, raw.data(), tmsize_t(raw.size()));
            raw.resize(got < 0 ? 0 : size_t(got));
            p.strips.push_back(std::move(raw));
        }
        pages.push_back(std::move(p));
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return pages;
}

// Bilevel pixels compressed by libtiff: the single raw strip a scanning
// application hands to xtavwrite.
inline std::vector<uint8_t> libtiff_compress(const std::string& tmp, std::vector<uint8_t> px,
                                             uint32_t w, uint32_t h, uint16_t compression) {
    quiet_libtiff();
    TIFF* t = TIFFOpen(tmp.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFWriteEncodedStrip(t, 0, px.data(), tmsize_t(px.size()));
    TIFFClose(t);
    auto pages = libtiff_read(tmp);
    return pages.empty() || pages[0].strips.empty() ? std::vector<uint8_t>{} : pages[0].strips[0];
}
#endif

}  // namespace wt
