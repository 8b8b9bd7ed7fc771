// PCX pages and DCX pages (PCX images in a table) unpacked here: each row
// of all planes is run-length coded (a byte with its two high bits set
// repeats the next byte that many times, counted by its low six bits; any
// other byte stands for itself). A run may go on into the next row.
//
// What each page becomes, by its bits and planes: 1 bit in 1 plane
// bilevel (1 white); 1 bit in 2 to 4 planes, and 2, 4 or 8 bits in one
// plane, palette indexes (the planes give the index bits, plane 0 the
// lowest); 8 bits in 3 planes RGB (a row's reds, then greens, then blues).
// The palette is the one xtavgtdata delivers (the file's or the built-in
// one).
#include "format_view.h"
#include "page_stream.h"
#include "picture_decoders.h"

namespace qvtool {
namespace {

constexpr int kRunMark = 0xC0;
constexpr int kRunCount = 0x3F;
constexpr uint32_t kMaxIndexPlanes = 4;

// Unpacks rows of `bytes` each from the run-length stream.
class RunRows {
public:
    RunRows(PageStream& in, size_t bytes) : in_(in), row_(bytes) {}
    // The next row; bytes the data does not reach are 0.
    const std::vector<uint8_t>& next() {
        for (size_t k = 0; k < row_.size(); ++k) {
            if (left_ == 0 && !start_run()) {
                std::fill(row_.begin() + long(k), row_.end(), 0);
                break;
            }
            row_[k] = value_;
            --left_;
        }
        return row_;
    }

private:
    // Reads the next run (runs of 0 bytes are passed over); false at the
    // end of the data.
    bool start_run() {
        while (left_ == 0) {
            const int c = in_.get();
            if (c < 0) return false;
            if ((c & kRunMark) != kRunMark) {
                value_ = uint8_t(c), left_ = 1;
                return true;
            }
            const int v = in_.get();
            if (v < 0) return false;
            value_ = uint8_t(v), left_ = uint32_t(c & kRunCount);
        }
        return true;
    }

    PageStream& in_;
    std::vector<uint8_t> row_;
    uint8_t value_ = 0;
    uint32_t left_ = 0;
};

struct PcxLayout {
    Colour colour;
    uint8_t depth;
    uint32_t bits;    // per pixel in a plane
    uint32_t planes;
    uint32_t planeBytes;
};

PcxLayout layout_of(const PageInfo& i, uint32_t fileType) {
    const uint32_t planes = view_value(fileType, i, "planes"), rowBytes = view_value(fileType, i, "rowBytes");
    const uint32_t b = i.bitsPerSample[0], w = i.imageWidth;
    if (planes == 0 || rowBytes % planes != 0) throw DrawError("a PCX header of " + std::to_string(planes) + " planes");
    PcxLayout l{Colour::palette, 8, 0, planes, rowBytes / planes};
    if (i.photometric == TAV_PHOTO_BILEVEL_BLACK && planes == 1) l = {Colour::grey, 1, 1, 1, l.planeBytes};
    else if (i.photometric == TAV_PHOTO_RGB && planes == 3) l = {Colour::rgb, 8, 8, 3, l.planeBytes};
    else if (i.photometric == TAV_PHOTO_PALETTE && planes > 1 && planes <= kMaxIndexPlanes) l.bits = 1;
    // The library reports 2-bit pixels as 4-bit: the row length tells them apart.
    else if (i.photometric == TAV_PHOTO_PALETTE && planes == 1) l.bits = b == 4 && uint64_t(l.planeBytes) * 8 < uint64_t(w) * 4 ? 2 : b;
    if (l.bits == 0 || uint64_t(l.planeBytes) * 8 < uint64_t(w) * l.bits)
        throw DrawError("a PCX page of " + std::to_string(planes) + " planes, " + std::to_string(b) + " bits and rows of " +
                        std::to_string(rowBytes) + " bytes is not drawn");
    return l;
}

void place_row(const PcxLayout& l, const std::vector<uint8_t>& in, Picture& p, uint32_t y) {
    uint8_t* out = p.row(y);
    if (l.colour == Colour::grey) {
        std::copy(in.begin(), in.begin() + long(p.row_bytes()), out);
    } else if (l.colour == Colour::rgb) {
        for (uint32_t x = 0; x < p.width; ++x)
            for (uint32_t c = 0; c < 3; ++c) out[3 * x + c] = in[c * l.planeBytes + x];
    } else if (l.planes == 1) {
        for (uint32_t x = 0; x < p.width; ++x) out[x] = uint8_t(packed_sample(in.data(), x, l.bits));
    } else {
        for (uint32_t x = 0; x < p.width; ++x) {
            uint32_t v = 0;
            for (uint32_t k = 0; k < l.planes; ++k) v |= packed_sample(in.data() + k * l.planeBytes, x, 1) << k;
            out[x] = uint8_t(v);
        }
    }
}

}  // namespace

Picture pcx_picture(PageReader& rd, uint32_t fileType, const Limits& limits) {
    const PageInfo& i = rd.info();
    const PcxLayout l = layout_of(i, fileType);
    Picture p = make_picture(i.imageWidth, i.imageLength, l.colour, l.depth, limits);
    PageStream data(rd);
    RunRows rows(data, size_t(l.planeBytes) * l.planes);
    for (uint32_t y = 0; y < p.height; ++y) place_row(l, rows.next(), p, y);
    if (l.colour == Colour::palette) take_palette(p, rd.colour_map(), kRgbEntries);
    return p;
}

}  // namespace qvtool
