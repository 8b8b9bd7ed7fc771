// GIF pages decoded with giflib. The library hands out the image's LZW
// data (from the byte after its code size), its size, its descriptor flags,
// its code size and its palette; giflib is given a GIF stream made of
// them: a screen as large as the image, the image descriptor, the code
// size, then the page's data read on demand.
//
// Pixels are the palette's indexes, in the rows of the image, interlaced
// images put back in order. Two-colour images, which the library describes
// as bilevel without a palette, are bilevel: index 0 is black when the
// library says min-is-black, white otherwise.
#include <gif_lib.h>

#include <array>
#include <cstring>

#include "format_view.h"
#include "page_stream.h"
#include "picture_decoders.h"

namespace qvtool {
namespace {

constexpr uint8_t kInterlaced = 0x40;  // image descriptor flag
constexpr uint32_t kMaxCodeSize = 8;

// The four passes of an interlaced image: first row, row step.
constexpr std::array<std::array<uint32_t, 2>, 4> kPasses = {{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};

// The stream giflib reads: the made-up head, then the page's data.
struct GifInput {
    std::vector<uint8_t> head;
    size_t at = 0;
    PageStream* data;
};

int gif_read(GifFileType* gif, GifByteType* out, int n) {
    auto* in = static_cast<GifInput*>(gif->UserData);
    int done = 0;
    while (done < n && in->at < in->head.size()) out[done++] = in->head[in->at++];
    return done + int(in->data->read(out + done, size_t(n - done)));
}

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

std::vector<uint8_t> made_up_head(const PageInfo& i, uint32_t codeSize, uint32_t flags) {
    std::vector<uint8_t> h = {'G', 'I', 'F', '8', '9', 'a'};
    put16(h, i.imageWidth);
    put16(h, i.imageLength);
    h.insert(h.end(), {0, 0, 0});  // no global colour table, background, aspect
    h.push_back(',');
    put16(h, 0);
    put16(h, 0);
    put16(h, i.imageWidth);
    put16(h, i.imageLength);
    h.push_back(uint8_t(flags & kInterlaced));  // no local colour table either
    h.push_back(uint8_t(codeSize));
    return h;
}

// giflib's handle, closed at the end of the scope.
class GifReader {
public:
    explicit GifReader(GifInput& in) {
        int err = 0;
        gif_ = DGifOpen(&in, gif_read, &err);
        if (gif_ == nullptr) throw DrawError(std::string("giflib: ") + GifErrorString(err));
    }
    ~GifReader() {
        int err = 0;
        if (gif_) DGifCloseFile(gif_, &err);
    }
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;
    GifFileType* get() const { return gif_; }
    [[noreturn]] void fail(const char* what) const {
        throw DrawError(std::string(what) + ": " + (GifErrorString(gif_->Error) ? GifErrorString(gif_->Error) : "?"));
    }

private:
    GifFileType* gif_ = nullptr;
};

// Rows of indexes, a byte a pixel, in the order the image holds them.
void read_indexes(GifReader& r, Picture& p, bool interlaced, std::vector<uint8_t>& indexes) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(r.get(), &type) == GIF_ERROR || type != IMAGE_DESC_RECORD_TYPE ||
        DGifGetImageDesc(r.get()) == GIF_ERROR)
        r.fail("the image descriptor cannot be read");
    auto line = [&](uint32_t y) {
        if (DGifGetLine(r.get(), indexes.data() + size_t(y) * p.width, int(p.width)) == GIF_ERROR)
            r.fail("the image data cannot be decoded");
    };
    if (!interlaced) {
        for (uint32_t y = 0; y < p.height; ++y) line(y);
        return;
    }
    for (const auto& pass : kPasses)
        for (uint32_t y = pass[0]; y < p.height; y += pass[1]) line(y);
}

}  // namespace

Picture gif_picture(PageReader& rd, const Limits& limits) {
    const PageInfo& i = rd.info();
    const uint32_t codeSize = view_value(FILETYPE_GIF, i, "lzwMinimumCodeSize");
    const uint32_t flags = view_value(FILETYPE_GIF, i, "imageFlags");
    if (codeSize == 0 || codeSize > kMaxCodeSize) throw DrawError("an LZW code size of " + std::to_string(codeSize));
    const bool bilevel = i.photometric == TAV_PHOTO_BILEVEL_WHITE || i.photometric == TAV_PHOTO_BILEVEL_BLACK;
    Picture p = make_picture(i.imageWidth, i.imageLength, bilevel ? Colour::grey : Colour::palette,
                             bilevel ? 1 : 8, limits);
    std::vector<uint8_t> indexes(size_t(p.width) * p.height);
    PageStream data(rd);
    GifInput in{made_up_head(i, codeSize, flags), 0, &data};
    GifReader r(in);
    read_indexes(r, p, flags & kInterlaced, indexes);
    if (!bilevel) {
        p.rows = std::move(indexes);
        take_palette(p, rd.colour_map(), kRgbEntries);
        return p;
    }
    const uint8_t whiteIndex = i.photometric == TAV_PHOTO_BILEVEL_BLACK ? 1 : 0;
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x)
            if (indexes[size_t(y) * p.width + x] == whiteIndex) set_white(p.row(y), x);
    return p;
}

}  // namespace qvtool
