// Helpers of the TIFF writing tests: writing pages through the exports, a
// small parser of the bytes written, and libtiff as an independent reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvtav.h"
#include "test_util.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace wt {

inline int32_t create(const std::string& path, uint32_t type = FILETYPE_TIFF) {
    PathBuf p(path);
    uint32_t err = 0;
    int32_t h = xtavcreat(nullptr, p, &type, &err);
    EXPECT_GT(h, 0) << "create " << path << " error " << err;
    return h;
}

inline int32_t open_update(const std::string& path, uint32_t* pages = nullptr) {
    PathBuf p(path);
    uint32_t type = 0, count = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &type, &count, &err);
    EXPECT_GT(h, 0) << "open " << path << " error " << err;
    if (pages) *pages = count;
    return h;
}

inline uint32_t close(int32_t h) {
    uint32_t err = 0;
    EXPECT_EQ(0, xtavclose(&h, &err));
    return err;
}

// A bilevel page, uncompressed unless said otherwise.
inline PageInfo bilevel(uint32_t width, uint32_t length, uint32_t compression = TAV_COMP_NONE) {
    PageInfo info{};
    info.xResNum = 200;
    info.xResDen = 1;
    info.yResNum = 100;
    info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = width;
    info.imageLength = length;
    info.bitsPerSample[0] = 1;
    info.samplesPerPixel = 1;
    info.fillOrder = 1;
    info.compression = compression;
    info.rowsPerStrip = length;
    info.stripCount = 1;
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return info;
}

// xtavputi then one xtavwrite with the last-data flag; the error of the
// first call that fails, 0 when both succeed.
inline uint32_t put_page(int32_t h, uint16_t page, PageInfo& info,
                         const std::vector<uint8_t>& data) {
    uint32_t err = 0;
    if (xtavputi(&h, page, &info, nullptr, &err) < 0) return err;
    if (data.empty()) return 0;
    std::vector<uint8_t> copy = data;
    int32_t w = xtavwrite(&h, copy.data(), uint32_t(copy.size()), page, 1, &err);
    if (w < 0) return err;
    EXPECT_EQ(int32_t(data.size()), w);
    return 0;
}

// Compares byte vectors without printing them whole.
inline ::testing::AssertionResult same_bytes(const std::vector<uint8_t>& a,
                                             const std::vector<uint8_t>& b) {
    if (a == b) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size()
                                         << ", first difference at " << i;
}

inline std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return v;
}

// ---- reading the bytes written ----

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;  // value: SHORT count 1 widened, else the u32 field
    uint32_t pos;           // file offset of the entry
};

struct File {
    std::vector<uint8_t> bytes;
    bool mm = false;

    explicit File(const std::string& path) : bytes(read_file(path)) {
        mm = bytes.size() >= 2 && bytes[0] == 'M';
    }
    uint16_t u16(uint32_t at) const {
        if (at + 2 > bytes.size()) return 0;
        return mm ? uint16_t(bytes[at] << 8 | bytes[at + 1]) : uint16_t(bytes[at] | bytes[at + 1] << 8);
    }
    uint32_t u32(uint32_t at) const {
        if (at + 4 > bytes.size()) return 0;
        uint32_t a = u16(at), b = u16(at + 2);
        return mm ? (a << 16 | b) : (a | b << 16);
    }
    uint32_t first_ifd() const { return u32(4); }
    uint32_t next_of(uint32_t ifd) const { return u32(ifd + 2 + 12 * u16(ifd)); }
    std::vector<Entry> entries(uint32_t ifd) const {
        std::vector<Entry> out;
        uint32_t n = u16(ifd);
        for (uint32_t i = 0; i < n && ifd + 14 + 12 * i <= bytes.size(); ++i) {
            uint32_t p = ifd + 2 + 12 * i;
            Entry e{u16(p), u16(p + 2), u32(p + 4), 0, p};
            e.value = (e.type == 3 && e.count == 1) ? u16(p + 8) : u32(p + 8);
            out.push_back(e);
        }
        return out;
    }
    const Entry* find(const std::vector<Entry>& es, uint16_t tag) const {
        for (const auto& e : es)
            if (e.tag == tag) return &e;
        return nullptr;
    }
    // The IFD chain from the header.
    std::vector<uint32_t> chain() const {
        std::vector<uint32_t> out;
        for (uint32_t ifd = first_ifd(); ifd && out.size() < 100000; ifd = next_of(ifd))
            out.push_back(ifd);
        return out;
    }
};

#ifdef QVTAV_HAVE_LIBTIFF
// One directory as libtiff reads it.
struct LtPage {
    uint32_t width = 0, length = 0, rowsPerStrip = 0;
    uint16_t compression = 0, photometric = 0, bps = 0, spp = 0, orientation = 0, resUnit = 0;
    float xres = 0, yres = 0;
    std::string software, documentName;
    std::vector<std::vector<uint8_t>> strips;  // raw, as stored
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
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &p.rowsPerStrip);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &p.compression);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric);
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &p.bps);
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &p.spp);
        TIFFGetField(t, TIFFTAG_ORIENTATION, &p.orientation);
        TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &p.resUnit);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &p.xres);
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &p.yres);
        char* s = nullptr;
        if (TIFFGetField(t, TIFFTAG_SOFTWARE, &s) && s) p.software = s;
        s = nullptr;
        if (TIFFGetField(t, TIFFTAG_DOCUMENTNAME, &s) && s) p.documentName = s;
        uint32_t n = TIFFNumberOfStrips(t);
        uint64_t* counts = nullptr;
        TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
        for (uint32_t i = 0; i < n && counts; ++i) {
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

// Compresses pixels with libtiff and gives back the single raw strip: the
// pre-compressed data a scanning application hands to xtavwrite.
inline std::vector<uint8_t> libtiff_compress(const std::string& tmp, const std::vector<uint8_t>& px,
                                             uint32_t w, uint32_t h, uint16_t bps, uint16_t spp,
                                             uint16_t photometric, uint16_t compression) {
    quiet_libtiff();
    std::vector<uint8_t> out;
    TIFF* t = TIFFOpen(tmp.c_str(), "w");
    if (!t) return out;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(px.data()), tmsize_t(px.size()));
    TIFFClose(t);
    t = TIFFOpen(tmp.c_str(), "r");
    uint64_t* counts = nullptr;
    TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
    out.resize(counts[0]);
    TIFFReadRawStrip(t, 0, out.data(), tmsize_t(out.size()));
    TIFFClose(t);
    return out;
}

// Decodes strip 0 of a directory with libtiff.
inline std::vector<uint8_t> libtiff_decode(const std::string& path, int dir) {
    quiet_libtiff();
    std::vector<uint8_t> out;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return out;
    if (TIFFSetDirectory(t, tdir_t(dir))) {
        out.resize(size_t(TIFFStripSize(t)));
        tmsize_t got = TIFFReadEncodedStrip(t, 0, out.data(), tmsize_t(out.size()));
        out.resize(got < 0 ? 0 : size_t(got));
    }
    TIFFClose(t);
    return out;
}
#endif

}  // namespace wt
