// Bilevel pages through libtiff, in memory: a TIFF file is written into a
// buffer (the stored strips as they are, or rows to be encoded) and read
// back from it.
#include "bilevel.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <stdexcept>

namespace qvtool {
namespace {

constexpr uint32_t kNoRowsPerStrip = 0xFFFFFFFFu;
constexpr uint32_t kBigEndian = 0x4D4D;
constexpr double kCmPerInch = 2.54;
constexpr uint32_t kUnitCm = 3;
constexpr uint32_t kMaxDpi = 0xFFFF;
// Pages larger than this many bytes of rows are taken for damage.
constexpr uint64_t kMaxRowBytes = 256u << 20;

// A TIFF file in a growing buffer.
struct MemFile {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemFile*>(h);
    if (n < 0 || m->pos >= m->data.size()) return 0;
    size_t k = std::min<size_t>(size_t(n), m->data.size() - size_t(m->pos));
    std::memcpy(buf, m->data.data() + m->pos, k);
    m->pos += k;
    return tmsize_t(k);
}

tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemFile*>(h);
    if (n < 0) return -1;
    if (n == 0) return 0;  // an empty strip: nothing to copy (buf may be null)
    if (m->pos + uint64_t(n) > m->data.size()) m->data.resize(size_t(m->pos) + size_t(n));
    std::memcpy(m->data.data() + m->pos, buf, size_t(n));
    m->pos += uint64_t(n);
    return n;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemFile*>(h);
    int64_t base = whence == SEEK_CUR ? int64_t(m->pos) : whence == SEEK_END ? int64_t(m->data.size()) : 0;
    int64_t target = base + int64_t(off);
    if (target < 0) return toff_t(-1);
    m->pos = uint64_t(target);
    return toff_t(target);
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff over the buffer; closed at the end of the scope.
class MemTiff {
public:
    MemTiff(MemFile& m, const char* mode) {
        m.pos = 0;
        TIFFOpenOptions* o = TIFFOpenOptionsAlloc();
        if (o) {
            TIFFOpenOptionsSetErrorHandlerExtR(o, quiet, nullptr);
            TIFFOpenOptionsSetWarningHandlerExtR(o, quiet, nullptr);
            tif_ = TIFFClientOpenExt("memory", mode, &m, mem_read, mem_write, mem_seek, mem_close, mem_size,
                                     mem_map, mem_unmap, o);
            TIFFOpenOptionsFree(o);
        }
        if (!tif_) throw std::runtime_error("libtiff cannot open its buffer");
    }
    ~MemTiff() { close(); }
    MemTiff(const MemTiff&) = delete;
    MemTiff& operator=(const MemTiff&) = delete;
    TIFF* get() const { return tif_; }
    void close() {
        if (tif_) TIFFClose(tif_);
        tif_ = nullptr;
    }

private:
    TIFF* tif_ = nullptr;
};

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

uint16_t tiff_compression(const PageInfo& i) {
    switch (i.compression) {
    case TAV_COMP_NONE: return COMPRESSION_NONE;
    case TAV_COMP_CCITT_MH: return COMPRESSION_CCITTRLE;
    case TAV_COMP_CCITT_T4: return COMPRESSION_CCITTFAX3;
    case TAV_COMP_CCITT_T6: return COMPRESSION_CCITTFAX4;
    case TAV_COMP_LZW: return COMPRESSION_LZW;
    case TAV_COMP_PACKBITS: return COMPRESSION_PACKBITS;
    default: return 0;
    }
}

// libtiff's photometric interpretation for the samples of a page: palette
// pages are decoded as plain samples (their colours are the caller's
// business), so they need no colour map here.
uint16_t tiff_photometric(const PageInfo& i) {
    switch (i.photometric) {
    case TAV_PHOTO_RGB: return PHOTOMETRIC_RGB;
    case TAV_PHOTO_BILEVEL_WHITE:
    case TAV_PHOTO_GRAY_WHITE: return PHOTOMETRIC_MINISWHITE;
    default: return PHOTOMETRIC_MINISBLACK;
    }
}

// The page's layout and coding tags, as the page information gives them (a
// record without a sample layout is a bilevel page).
void set_layout(TIFF* t, const PageInfo& i, uint32_t rowsPerStrip) {
    const uint32_t coding = i.compressionInfo.value & ~(TAV_CODING_T4 | TAV_CODING_MODIFIED_HUFFMAN);
    const uint32_t bits = std::max(i.bitsPerSample[0], 1u), samples = std::max(i.samplesPerPixel, 1u);
    check(TIFFSetField(t, TIFFTAG_IMAGEWIDTH, i.imageWidth) && TIFFSetField(t, TIFFTAG_IMAGELENGTH, i.imageLength) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, tiff_compression(i)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, tiff_photometric(i)) &&
              TIFFSetField(t, TIFFTAG_FILLORDER, i.fillOrder == 2 ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip),
          "libtiff refuses the page's layout");
    if (i.compression == TAV_COMP_CCITT_T4) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, coding);
    if (i.compression == TAV_COMP_CCITT_T6) TIFFSetField(t, TIFFTAG_GROUP4OPTIONS, coding);
    if (i.compression == TAV_COMP_LZW && coding > 1) TIFFSetField(t, TIFFTAG_PREDICTOR, coding);
}

}  // namespace

std::string bilevel_refusal(const PageInfo& i) {
    if (i.bitsPerSample[0] != 1 || i.samplesPerPixel != 1) return "not a bilevel page";
    if (i.photometric != TAV_PHOTO_BILEVEL_WHITE && i.photometric != TAV_PHOTO_BILEVEL_BLACK)
        return "not a bilevel page";
    return decode_refusal(i);
}

std::string decode_refusal(const PageInfo& i) {
    if (tiff_compression(i) == 0) return "its compression cannot be decoded here";
    if (i.imageWidth == 0 || i.imageLength == 0) return "an empty page";
    const uint64_t rowBytes = (uint64_t(i.imageWidth) * i.bitsPerSample[0] * i.samplesPerPixel + 7) / 8;
    if (rowBytes * i.imageLength > kMaxRowBytes) return "too large a page";
    return {};
}

Samples decode_tiff_samples(const PageInfo& i, const std::vector<std::vector<uint8_t>>& strips) {
    MemFile m;
    {
        // The strips keep the byte order of their file: samples wider than
        // a byte are read in it.
        MemTiff w(m, i.byteOrder == kBigEndian ? "wb" : "wl");
        uint32_t rps = i.rowsPerStrip == kNoRowsPerStrip || i.rowsPerStrip == 0 ? i.imageLength : i.rowsPerStrip;
        set_layout(w.get(), i, rps);
        check((uint64_t(i.imageLength) + rps - 1) / rps == strips.size(),
              "the strip count does not fit the rows per strip");
        for (size_t k = 0; k < strips.size(); ++k)
            check(TIFFWriteRawStrip(w.get(), uint32_t(k), const_cast<uint8_t*>(strips[k].data()),
                                    tmsize_t(strips[k].size())) >= 0,
                  "libtiff cannot take a strip");
        check(TIFFWriteDirectory(w.get()) == 1, "libtiff cannot finish the page");
    }
    MemTiff r(m, "rm");
    Samples out;
    out.rowBytes = uint32_t((uint64_t(i.imageWidth) * i.bitsPerSample[0] * i.samplesPerPixel + 7) / 8);
    out.height = i.imageLength;
    out.rows.assign(size_t(out.rowBytes) * out.height, 0);
    check(TIFFScanlineSize(r.get()) == tmsize_t(out.rowBytes), "libtiff reads rows of another length");
    for (uint32_t y = 0; y < out.height; ++y)
        check(TIFFReadScanline(r.get(), out.rows.data() + size_t(y) * out.rowBytes, y, 0) == 1,
              "libtiff cannot decode the page");
    return out;
}

Bilevel decode_tiff_page(const PageInfo& i, const std::vector<std::vector<uint8_t>>& strips) {
    Samples s = decode_tiff_samples(i, strips);
    Bilevel out;
    out.width = i.imageWidth;
    out.height = s.height;
    out.rows = std::move(s.rows);
    if (i.photometric == TAV_PHOTO_BILEVEL_BLACK)
        for (uint8_t& b : out.rows) b = uint8_t(~b);
    return out;
}

std::vector<uint8_t> encode_t6(const Bilevel& page) {
    MemFile m;
    {
        MemTiff w(m, "w");
        PageInfo i{};
        i.imageWidth = page.width;
        i.imageLength = page.height;
        i.compression = TAV_COMP_CCITT_T6;
        i.photometric = TAV_PHOTO_BILEVEL_WHITE;
        set_layout(w.get(), i, page.height);
        std::vector<uint8_t> line(page.row_bytes());
        for (uint32_t y = 0; y < page.height; ++y) {
            std::memcpy(line.data(), page.rows.data() + size_t(y) * page.row_bytes(), line.size());
            check(TIFFWriteScanline(w.get(), line.data(), y, 0) == 1, "libtiff cannot encode the page");
        }
        check(TIFFWriteDirectory(w.get()) == 1, "libtiff cannot finish the page");
    }
    MemTiff r(m, "rm");
    tmsize_t n = TIFFRawStripSize(r.get(), 0);
    check(n > 0, "libtiff made no strip");
    std::vector<uint8_t> strip(static_cast<size_t>(n));
    check(TIFFReadRawStrip(r.get(), 0, strip.data(), n) == n, "libtiff cannot give its strip");
    return strip;
}

uint16_t whole_dpi(uint32_t num, uint32_t den, uint32_t unit) {
    if (num == 0 || den == 0) return 0;
    double v = double(num) / den;
    if (unit == kUnitCm) v *= kCmPerInch;
    return uint16_t(std::min<double>(v + 0.5, kMaxDpi));
}

}  // namespace qvtool
