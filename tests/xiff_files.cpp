#include "xiff_files.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <cmath>

#include "test_util.h"
#include "tiff_builder.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

uint32_t row_bytes(const XiffPagePlan& p) { return (p.width * p.samples * p.bits + 7) / 8; }

// A pattern with edges in both directions, different for every layout.
std::vector<uint8_t> pixels(const XiffPagePlan& p) {
    std::vector<uint8_t> out(size_t(row_bytes(p)) * p.length, 0);
    const uint32_t max = (1u << p.bits) - 1;
    for (uint32_t y = 0; y < p.length; ++y) {
        uint8_t* row = out.data() + size_t(y) * row_bytes(p);
        for (uint32_t x = 0; x < p.width; ++x)
            for (uint32_t s = 0; s < p.samples; ++s) {
                uint32_t v = (x / 3 + y / 5 + s * 7 + (x * y) % 13) % (max + 1);
                uint64_t bit = (uint64_t(x) * p.samples + s) * p.bits;
                row[bit / 8] |= uint8_t(v << (8 - p.bits - bit % 8));
            }
    }
    return out;
}

// A colour map of 2^bits entries with distinct high bytes.
std::vector<uint16_t> colour_map(uint16_t bits) {
    const uint32_t n = 1u << bits;
    std::vector<uint16_t> map(3 * n);
    for (uint32_t i = 0; i < n; ++i) {
        map[i] = uint16_t((i * 37 % 256) << 8 | 0x11);
        map[n + i] = uint16_t((255 - i) << 8 | 0x22);
        map[2 * n + i] = uint16_t((i * 91 % 256) << 8 | 0x33);
    }
    return map;
}

// The strip of a compressed page, as libtiff encodes it.
std::vector<uint8_t> encoded_strip(const XiffPagePlan& p, const std::vector<uint8_t>& raw) {
    TempDir dir;
    std::string path = dir.file("strip.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.length);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.length);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    std::vector<uint8_t> copy = raw;
    for (uint32_t y = 0; y < p.length; ++y) TIFFWriteScanline(t, copy.data() + size_t(y) * row_bytes(p), y, 0);
    TIFFClose(t);
    t = TIFFOpen(path.c_str(), "r");
    if (!t) return {};
    std::vector<uint8_t> strip(size_t(TIFFRawStripSize(t, 0)));
    TIFFReadRawStrip(t, 0, strip.data(), tmsize_t(strip.size()));
    TIFFClose(t);
    return strip;
}

}  // namespace

const std::vector<uint8_t> kXeroxMark = [] {
    auto m = bytes_of("XEROX DIFF");
    m.push_back(1);
    m.push_back(0);
    return m;
}();
const std::vector<uint8_t> kExtendedMark = bytes_of(" eXtended");

std::vector<uint8_t> xiff_file(const std::vector<XiffPagePlan>& pages, const std::vector<uint8_t>& mark) {
    TiffBuilder b;
    b.add_data(mark, 1);
    std::vector<uint32_t> offsets, counts;
    for (const XiffPagePlan& p : pages) {
        std::vector<uint8_t> strip = pixels(p);
        if (p.compression != COMPRESSION_NONE) strip = encoded_strip(p, strip);
        offsets.push_back(b.add_data(strip));
        counts.push_back(uint32_t(strip.size()));
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const XiffPagePlan& p = pages[i];
        auto& d = b.add_ifd();
        d.longs(256, {p.width}).longs(257, {p.length});
        d.shorts(258, std::vector<uint16_t>(p.samples, p.bits)).shorts(259, {p.compression});
        d.shorts(262, {p.photometric}).longs(273, {offsets[i]}).shorts(277, {p.samples});
        d.longs(278, {p.length}).longs(279, {counts[i]});
        if (p.unit != 0) d.rationals(282, {p.xRes}).rationals(283, {p.yRes}).shorts(296, {p.unit});
        if (p.photometric == PHOTOMETRIC_PALETTE) d.shorts(320, colour_map(p.bits));
    }
    return b.build();
}

namespace {

uint32_t sample_at(const uint8_t* line, uint64_t index, uint16_t bits) {
    uint64_t bit = index * bits;
    return (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void put_sample(uint8_t* row, uint64_t index, uint16_t bits, uint32_t v) {
    uint64_t bit = index * bits;
    row[bit / 8] |= uint8_t(v << (8 - bits - bit % 8));
}

uint32_t centre_source(uint32_t i, uint32_t n, uint32_t source) {
    return uint32_t(std::floor((i + 0.5) * double(source) / double(n)));
}

}  // namespace

std::vector<uint8_t> expected_rows(const std::string& path, uint16_t page, uint32_t width, uint32_t length) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return {};
    uint32_t w = 0, l = 0;
    uint16_t bits = 1, spp = 1, photometric = 0;
    bool ok = TIFFSetDirectory(t, page) && TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) &&
              TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l) && TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    std::vector<std::vector<uint8_t>> lines(ok ? l : 0, std::vector<uint8_t>(size_t(TIFFScanlineSize64(t))));
    for (uint32_t y = 0; ok && y < l; ++y) ok = TIFFReadScanline(t, lines[y].data(), y, 0) == 1;
    TIFFClose(t);
    if (!ok) return {};

    const bool rgb = photometric == PHOTOMETRIC_RGB;
    const uint32_t outBits = rgb ? 24 : bits;
    const size_t stride = (size_t(width) * outBits + 31) / 32 * 4;
    const uint32_t max = (1u << bits) - 1;
    std::vector<uint8_t> out(stride * length, 0);
    for (uint32_t y = 0; y < length; ++y) {
        const uint8_t* line = lines[centre_source(y, length, l)].data();
        uint8_t* row = out.data() + stride * y;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t sx = centre_source(x, width, w);
            if (rgb) {
                for (uint32_t c = 0; c < 3; ++c) row[3 * size_t(x) + c] = line[size_t(sx) * spp + c];
                continue;
            }
            uint32_t v = sample_at(line, sx, bits);
            if (photometric == PHOTOMETRIC_MINISWHITE) v = max - v;
            put_sample(row, x, bits, v);
        }
    }
    return out;
}

std::vector<uint8_t> expected_palette(const std::string& path, uint16_t page) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return {};
    uint16_t bits = 0, *r = nullptr, *g = nullptr, *b = nullptr;
    std::vector<uint8_t> out;
    if (TIFFSetDirectory(t, page) && TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits) &&
        TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b))
        for (uint32_t i = 0; i < (1u << bits); ++i) out.insert(out.end(), {uint8_t(r[i] >> 8), uint8_t(g[i] >> 8), uint8_t(b[i] >> 8)});
    TIFFClose(t);
    return out;
}

#endif
