// Netpbm images of decoded pages.
#include "pnm_image.h"

#include "qvtav.h"

namespace qvtool {
namespace {

enum class Kind { kNone, kBitmap, kGrey, kPalette, kRgb };

Kind kind_of(const DecodedPage& p) {
    const bool one = p.samplesPerPixel == 1;
    switch (p.photometric) {
    case TAV_PHOTO_BILEVEL_BLACK:
    case TAV_PHOTO_BILEVEL_WHITE: return one && p.bitsPerSample == 1 ? Kind::kBitmap : Kind::kNone;
    case TAV_PHOTO_GRAY_BLACK:
    case TAV_PHOTO_GRAY_WHITE:
        return one && (p.bitsPerSample == 4 || p.bitsPerSample == 8) ? Kind::kGrey : Kind::kNone;
    case TAV_PHOTO_PALETTE:
        return one && (p.bitsPerSample == 4 || p.bitsPerSample == 8) ? Kind::kPalette : Kind::kNone;
    case TAV_PHOTO_RGB: return p.samplesPerPixel == 3 && p.bitsPerSample == 8 ? Kind::kRgb : Kind::kNone;
    default: return Kind::kNone;
    }
}

uint32_t sample(const uint8_t* row, uint32_t x, uint32_t bits) {
    if (bits == 8) return row[x];
    return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
}

}  // namespace

std::string pnm_header(const DecodedPage& p) {
    if (p.width == 0 || p.length == 0 || p.rows.size() < p.stride * p.length) return {};
    const std::string size = std::to_string(p.width) + " " + std::to_string(p.length) + "\n";
    switch (kind_of(p)) {
    case Kind::kBitmap: return "P4\n" + size;
    case Kind::kGrey: return "P5\n" + size + std::to_string((1u << p.bitsPerSample) - 1) + "\n";
    case Kind::kPalette:
    case Kind::kRgb: return "P6\n" + size + "255\n";
    default: return {};
    }
}

std::vector<uint8_t> pnm_row(const DecodedPage& p, uint32_t y) {
    const uint8_t* row = p.rows.data() + p.stride * y;
    std::vector<uint8_t> out;
    switch (kind_of(p)) {
    case Kind::kBitmap: {
        // PBM: 1 is black.
        const uint8_t flip = p.photometric == TAV_PHOTO_BILEVEL_BLACK ? 0xFF : 0;
        out.assign(row, row + (p.width + 7) / 8);
        for (uint8_t& b : out) b ^= flip;
        break;
    }
    case Kind::kGrey: {
        const uint32_t max = (1u << p.bitsPerSample) - 1;
        const bool flip = p.photometric == TAV_PHOTO_GRAY_WHITE;
        for (uint32_t x = 0; x < p.width; ++x) {
            uint32_t v = sample(row, x, p.bitsPerSample);
            out.push_back(uint8_t(flip ? max - v : v));
        }
        break;
    }
    case Kind::kPalette:
        for (uint32_t x = 0; x < p.width; ++x) {
            size_t at = size_t(sample(row, x, p.bitsPerSample)) * 3;
            for (size_t c = 0; c < 3; ++c) out.push_back(at + c < p.palette.size() ? p.palette[at + c] : 0);
        }
        break;
    case Kind::kRgb: out.assign(row, row + size_t(p.width) * 3); break;
    default: break;
    }
    return out;
}

}  // namespace qvtool
