// TIFF and block file pages as pixels. The page's stored strips and its
// page information become a one-page TIFF in memory that libtiff decodes
// (bilevel.h); JPEG-coded pages are decoded with libjpeg from the JPEG
// header the library hands out and the page's data. Block file pages are
// bilevel, 0 white, one stream of their coding.
//
// What each page becomes: bilevel pages 1 bit a pixel; grey pages of 2, 4
// and 8 bits 8-bit grey (short samples scaled), of 16 bits 16-bit grey; a
// second sample is alpha; palette pages of up to 8 bits keep their indexes
// and take the colour map's high bytes; RGB pages of 8 or 16 bits, a fourth
// sample alpha. Min-is-white samples are turned around, alpha never.
#include <bit>
#include <cstring>

#include "bilevel.h"
#include "picture_decoders.h"

namespace qvtool {
namespace {

constexpr uint32_t kPlanarSeparate = 2;
// Stored data beyond this many times a page's decoded bytes, plus the
// margin, is taken for damage: no coding read here expands data that far.
constexpr uint64_t kMaxExpansion = 8;
constexpr uint64_t kDataMargin = 1u << 20;
// JPEG data needs at most about this many bytes a pixel (three components
// coded at the highest quality).
constexpr uint64_t kMaxJpegBytesPerPixel = 6;
constexpr uint8_t kJpegMark = 0xFF;
constexpr uint8_t kJpegStartOfImage = 0xD8;

std::string layout_text(const PageInfo& i) {
    return std::to_string(i.samplesPerPixel) + " sample(s) of " + std::to_string(i.bitsPerSample[0]) +
           " bits, photometric " + std::to_string(i.photometric);
}

uint64_t data_cap(const PageInfo& i) {
    const uint64_t decoded = (uint64_t(i.imageWidth) * i.bitsPerSample[0] * i.samplesPerPixel + 7) / 8 * i.imageLength;
    return decoded * kMaxExpansion + kDataMargin;
}

bool same_bits(const PageInfo& i) {
    for (uint32_t s = 1; s < i.samplesPerPixel && s < 5; ++s)
        if (i.bitsPerSample[s] != 0 && i.bitsPerSample[s] != i.bitsPerSample[0]) return false;
    return true;
}

// The form a page's samples take, or a DrawError naming the layout.
struct Form {
    Colour colour;
    uint8_t depth;
};

Form form_of(const PageInfo& i) {
    const uint32_t bits = i.bitsPerSample[0], spp = i.samplesPerPixel;
    auto refuse = [&](const std::string& why) -> Form { throw DrawError(layout_text(i) + ": " + why); };
    if (!same_bits(i)) return refuse("samples of different widths are not drawn");
    switch (i.photometric) {
    case TAV_PHOTO_BILEVEL_WHITE:
    case TAV_PHOTO_BILEVEL_BLACK:
        if (bits == 1 && spp == 1) return {Colour::grey, 1};
        break;
    case TAV_PHOTO_GRAY_WHITE:
    case TAV_PHOTO_GRAY_BLACK:
        if ((bits == 2 || bits == 4 || bits == 8 || bits == 16) && (spp == 1 || spp == 2))
            return {spp == 1 ? Colour::grey : Colour::grey_alpha, uint8_t(bits == 16 ? 16 : 8)};
        break;
    case TAV_PHOTO_PALETTE:
        if ((bits == 1 || bits == 2 || bits == 4 || bits == 8) && spp == 1) {
            if (i.area.palette.planarConfig == kPlanarSeparate) break;
            if (i.area.palette.colorMapSize < (6u << bits)) return refuse("a palette page without its colour map");
            return {Colour::palette, 8};
        }
        break;
    case TAV_PHOTO_RGB:
        if (i.area.rgb.planarConfig == kPlanarSeparate && spp > 1)
            return refuse("samples stored plane by plane (the library hands out the first plane's strips only)");
        if ((bits == 8 || bits == 16) && (spp == 3 || spp == 4))
            return {spp == 3 ? Colour::rgb : Colour::rgba, uint8_t(bits)};
        break;
    default: break;
    }
    return refuse("no picture is drawn for this layout");
}

// 16-bit samples as libtiff hands them out (this machine's order) to the
// picture's order, high byte first.
void to_big_endian(std::vector<uint8_t>& rows) {
    if constexpr (std::endian::native == std::endian::little)
        for (size_t k = 0; k + 1 < rows.size(); k += 2) std::swap(rows[k], rows[k + 1]);
}

// Grey samples of 2, 4 or 8 bits (with alpha, when there are two) to 8 bits.
void widen_grey(const PageInfo& i, const Samples& s, Picture& p) {
    const uint32_t bits = i.bitsPerSample[0], spp = i.samplesPerPixel, max = (1u << bits) - 1;
    const bool minIsWhite = i.photometric == TAV_PHOTO_GRAY_WHITE;
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* in = s.rows.data() + size_t(y) * s.rowBytes;
        uint8_t* out = p.row(y);
        for (uint32_t k = 0; k < p.width * spp; ++k) {
            uint32_t v = packed_sample(in, k, bits);
            if (minIsWhite && k % spp == 0) v = max - v;
            out[k] = scale_to_byte(v, bits);
        }
    }
}

// Min-is-white grey (or bilevel) samples turned around; alpha stays.
void turn_grey(Picture& p) {
    if (p.depth == 1) return invert_bilevel(p);
    const size_t sampleBytes = p.depth / 8, step = sampleBytes * p.channels();
    for (size_t k = 0; k + sampleBytes <= p.rows.size(); k += step)
        for (size_t b = 0; b < sampleBytes; ++b) p.rows[k + b] = uint8_t(~p.rows[k + b]);
}

void index_palette(const PageInfo& i, const Samples& s, std::span<const uint8_t> map, Picture& p) {
    const uint32_t bits = i.bitsPerSample[0], n = 1u << bits;
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* in = s.rows.data() + size_t(y) * s.rowBytes;
        uint8_t* out = p.row(y);
        for (uint32_t x = 0; x < p.width; ++x) out[x] = uint8_t(packed_sample(in, x, bits));
    }
    // A TIFF colour map: all reds, then greens, then blues, 16 bits each.
    auto value = [&](uint32_t k) {
        uint16_t v;
        std::memcpy(&v, map.data() + 2 * k, 2);
        return uint8_t(v >> 8);
    };
    for (uint32_t k = 0; k < n; ++k) p.palette[k] = {value(k), value(n + k), value(2 * n + k)};
}

Picture samples_picture(const PageReader& rd, Samples s, const Limits& limits) {
    const PageInfo& i = rd.info();
    const Form f = form_of(i);
    if (f.colour != Colour::palette && i.bitsPerSample[0] == f.depth) {
        // The decoded rows are the picture's already.
        Picture p = make_picture(i.imageWidth, i.imageLength, f.colour, f.depth, limits, std::move(s.rows));
        if (f.depth == 16) to_big_endian(p.rows);
        if (i.photometric == TAV_PHOTO_BILEVEL_WHITE || i.photometric == TAV_PHOTO_GRAY_WHITE) turn_grey(p);
        return p;
    }
    Picture p = make_picture(i.imageWidth, i.imageLength, f.colour, f.depth, limits);
    if (f.colour == Colour::palette) index_palette(i, s, rd.colour_map(), p);
    else widen_grey(i, s, p);
    return p;
}

std::vector<std::vector<uint8_t>> page_strips(PageReader& rd) {
    uint64_t total = 0;
    for (uint32_t c : rd.stored_counts()) total += c;
    if (total > data_cap(rd.info()))
        throw DrawError("its strips hold " + std::to_string(total) + " bytes, far more than its pixels need");
    return rd.read_strips();
}

bool starts_jpeg(const std::vector<uint8_t>& s) {
    return s.size() >= 2 && s[0] == kJpegMark && s[1] == kJpegStartOfImage;
}

// A picture cut to the page's size; one smaller than the page is damage.
Picture fit_to_page(Picture p, uint32_t width, uint32_t length, const Limits& limits) {
    if (p.width < width || p.height < length)
        throw DrawError("its JPEG data holds " + std::to_string(p.width) + " x " + std::to_string(p.height) +
                        " pixels, fewer than the page's");
    if (p.width == width && p.height == length) return p;
    Picture out = make_picture(width, length, p.colour, p.depth, limits);
    for (uint32_t y = 0; y < length; ++y) std::memcpy(out.row(y), p.row(y), out.row_bytes());
    return out;
}

// Strips that are JPEG streams of their own, one under the other.
Picture stacked_jpeg(const std::vector<std::vector<uint8_t>>& strips, const Limits& limits) {
    std::vector<Picture> parts;
    uint64_t height = 0;
    for (const auto& s : strips) {
        parts.push_back(jpeg_picture(s, limits));
        height += parts.back().height;
        if (parts.back().width != parts.front().width || parts.back().colour != parts.front().colour)
            throw DrawError("its JPEG strips differ in width or colours");
    }
    if (height > UINT32_MAX) throw DrawError("its JPEG strips hold too many rows");
    Picture p = make_picture(parts.front().width, uint32_t(height), parts.front().colour, 8, limits);
    size_t at = 0;
    for (const Picture& part : parts) {
        std::memcpy(p.rows.data() + at, part.rows.data(), part.rows.size());
        at += part.rows.size();
    }
    return p;
}

}  // namespace

Picture jpeg_coded_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    const JpegInfo* j = i.compression == TAV_COMP_JPEG_INFO ? i.compressionInfo.jpeg : nullptr;
    Picture p;
    if (j != nullptr && j->header != nullptr && j->headerLength != 0) {
        // The JPEG header up to the scan, then the page's data from the scan.
        std::vector<uint8_t> stream(j->header, j->header + j->headerLength);
        std::vector<uint8_t> data = read_page_data(rd, uint64_t(i.imageWidth) * i.imageLength * kMaxJpegBytesPerPixel + kDataMargin);
        stream.insert(stream.end(), data.begin(), data.end());
        p = jpeg_picture(stream, limits);
    } else {
        std::vector<std::vector<uint8_t>> strips = page_strips(rd);
        if (strips.empty()) throw DrawError("no strips");
        bool each = strips.size() > 1;
        for (const auto& s : strips) each = each && starts_jpeg(s);
        if (each) {
            p = stacked_jpeg(strips, limits);
        } else {
            std::vector<uint8_t> stream;
            for (const auto& s : strips) stream.insert(stream.end(), s.begin(), s.end());
            p = jpeg_picture(stream, limits);
        }
    }
    return fit_to_page(std::move(p), i.imageWidth, i.imageLength, limits);
}

Picture tiff_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    if (i.compression == TAV_COMP_JPEG || i.compression == TAV_COMP_JPEG_INFO) return jpeg_coded_picture(rd, limits);
    const Form f = form_of(i);
    check_picture_size(i.imageWidth, i.imageLength, f.colour, f.depth, limits);
    const std::string why = decode_refusal(i);
    if (!why.empty()) throw DrawError(why);
    return samples_picture(rd, decode_tiff_samples(i, page_strips(rd)), limits);
}

Picture block_picture(PageReader& rd, const Limits& limits) {
    PageInfo i = rd.info();
    if (i.bitsPerSample[0] != 1)
        throw DrawError("a block file page of " + std::to_string(i.bitsPerSample[0]) +
                        "-bit samples (block file pages are drawn bilevel)");
    check_picture_size(i.imageWidth, i.imageLength, Colour::grey, 1, limits);
    // A block file page is one stream of its coding, 0 white.
    i.photometric = TAV_PHOTO_BILEVEL_WHITE;
    i.samplesPerPixel = 1;
    i.rowsPerStrip = i.imageLength;
    const std::string why = decode_refusal(i);
    if (!why.empty()) throw DrawError(why);
    Samples s = decode_tiff_samples(i, {read_page_data(rd, data_cap(i))});
    Picture p = make_picture(i.imageWidth, i.imageLength, Colour::grey, 1, limits, std::move(s.rows));
    invert_bilevel(p);
    return p;
}

}  // namespace qvtool
