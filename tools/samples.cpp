// qvtav_samples: writes the sample documents through the library itself.
//
//   letter.tif  three pages: a bilevel letter page (uncompressed, one strip),
//               a bilevel form page (PackBits, four strips) and a greyscale
//               page (uncompressed, eight strips); document properties and
//               page texts.
//   scan.tif    one greyscale page with texts, without document properties.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dot_font.h"
#include "error_text.h"
#include "qvtav.h"

namespace {

// ---- a small picture of a page ----

// One byte per pixel while drawing: 0 white ... 255 black ("ink").
class Canvas {
public:
    Canvas(uint32_t w, uint32_t h) : w_(w), h_(h), ink_(static_cast<size_t>(w) * h, 0) {}
    uint32_t width() const { return w_; }
    uint32_t height() const { return h_; }
    uint8_t at(uint32_t x, uint32_t y) const { return ink_[static_cast<size_t>(y) * w_ + x]; }

    void fill(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t ink) {
        for (uint32_t y = y0; y < y0 + h && y < h_; ++y)
            for (uint32_t x = x0; x < x0 + w && x < w_; ++x) ink_[static_cast<size_t>(y) * w_ + x] = ink;
    }
    void frame(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint32_t t) {
        fill(x0, y0, w, t, 255);
        fill(x0, y0 + h - t, w, t, 255);
        fill(x0, y0, t, h, 255);
        fill(x0 + w - t, y0, t, h, 255);
    }
    void text(uint32_t x, uint32_t y, const char* s, uint32_t scale) {
        for (; *s != '\0'; ++s, x += qvtool::kGlyphAdvance * scale) {
            const qvtool::Glyph* g = qvtool::glyph_of(*s);
            if (g == nullptr) continue;
            for (uint32_t r = 0; r < qvtool::kGlyphHeight; ++r)
                for (uint32_t c = 0; c < qvtool::kGlyphWidth; ++c)
                    if (qvtool::glyph_dot(*g, c, r)) fill(x + c * scale, y + r * scale, scale, scale, 255);
        }
    }
    // Bars of varying length standing in for lines of text.
    void lines(uint32_t x, uint32_t y, uint32_t w, uint32_t count, uint32_t seed) {
        for (uint32_t i = 0; i < count; ++i) {
            seed = seed * 1103515245u + 12345u;
            uint32_t len = w / 2 + (seed >> 8) % (w / 2);
            fill(x, y + i * 18, i + 1 == count ? len / 2 : len, 7, 255);
        }
    }

    // 1 bit per pixel, a set bit is ink (min is white).
    std::vector<uint8_t> bilevel() const {
        uint32_t rowBytes = (w_ + 7) / 8;
        std::vector<uint8_t> out(static_cast<size_t>(rowBytes) * h_, 0);
        for (uint32_t y = 0; y < h_; ++y)
            for (uint32_t x = 0; x < w_; ++x)
                if (at(x, y) >= 128) out[static_cast<size_t>(y) * rowBytes + x / 8] |= 0x80 >> (x % 8);
        return out;
    }
    // 8 bits per pixel, 0 black (min is black).
    std::vector<uint8_t> grey() const {
        std::vector<uint8_t> out(ink_.size());
        for (size_t i = 0; i < ink_.size(); ++i) out[i] = static_cast<uint8_t>(255 - ink_[i]);
        return out;
    }
    void shade(uint32_t x, uint32_t y, uint8_t ink) { ink_[static_cast<size_t>(y) * w_ + x] = ink; }

private:
    uint32_t w_, h_;
    std::vector<uint8_t> ink_;
};

// TIFF PackBits of one row.
void packbits_row(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1])) ++lit;
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

// ---- writing through the library ----

struct Failure {
    std::string what;
    uint32_t code;
};

struct Texts {
    std::string values[TAV_TEXT_TAG_COUNT];
};

struct Page {
    uint32_t width = 0, height = 0, bits = 1, dpi = 100;
    uint32_t compression = TAV_COMP_NONE, photometric = TAV_PHOTO_BILEVEL_WHITE;
    uint32_t rowsPerStrip = 0;
    std::vector<std::vector<uint8_t>> strips;
    Texts texts;
};

struct Properties {
    std::string title, author, subject, keywords, comments;
};

// Cuts rows of rowBytes into strips of rowsPerStrip rows, PackBits-coded
// when asked.
std::vector<std::vector<uint8_t>> make_strips(const std::vector<uint8_t>& pixels, uint32_t rowBytes,
                                              uint32_t height, uint32_t rowsPerStrip, bool packbits) {
    std::vector<std::vector<uint8_t>> strips;
    for (uint32_t y0 = 0; y0 < height; y0 += rowsPerStrip) {
        uint32_t rows = std::min(rowsPerStrip, height - y0);
        const uint8_t* first = pixels.data() + static_cast<size_t>(y0) * rowBytes;
        std::vector<uint8_t> s;
        if (packbits) {
            for (uint32_t r = 0; r < rows; ++r) packbits_row(first + static_cast<size_t>(r) * rowBytes, rowBytes, s);
        } else {
            s.assign(first, first + static_cast<size_t>(rows) * rowBytes);
        }
        strips.push_back(std::move(s));
    }
    return strips;
}

void write_document(const std::string& path, const std::vector<Page>& pages, const Properties* props) {
    unlink(path.c_str());  // the samples are made afresh
    std::vector<char> name(path.begin(), path.end());
    name.resize(std::max<size_t>(name.size() + 1, TAV_PATH_SIZE), '\0');
    uint32_t type = FILETYPE_TIFF, err = 0;
    int32_t h = xtavcreat(nullptr, name.data(), &type, &err);
    if (h < 0) throw Failure{"cannot create", err};
    try {
        // The strips are delimited here, with the write flag.
        if (xtavopts(&h, 1, TAV_OPT_STRIP_WRITE, nullptr, &err) < 0)
            throw Failure{"cannot write strip by strip", err};
        for (size_t n = 0; n < pages.size(); ++n) {
            const Page& pg = pages[n];
            std::string where = "page " + std::to_string(n + 1);
            TextTagBuf tags[TAV_TEXT_TAG_COUNT] = {};
            std::vector<std::string> texts(pg.texts.values, pg.texts.values + TAV_TEXT_TAG_COUNT);
            for (int i = 0; i < TAV_TEXT_TAG_COUNT; ++i) {
                if (texts[i].empty()) continue;
                tags[i].length = static_cast<uint32_t>(texts[i].size() + 1);  // with its zero byte
                tags[i].buffer = texts[i].data();
            }
            PageInfo info{};
            info.infoKind = 4;
            info.xResNum = info.yResNum = pg.dpi;
            info.xResDen = info.yResDen = 1;
            info.resolutionUnit = 2;
            info.imageWidth = pg.width;
            info.imageLength = pg.height;
            info.bitsPerSample[0] = pg.bits;
            info.samplesPerPixel = 1;
            info.byteOrder = 0x4949;
            info.fillOrder = 1;
            info.compression = pg.compression;
            info.photometric = pg.photometric;
            info.rowsPerStrip = pg.rowsPerStrip;
            info.stripCount = static_cast<uint32_t>(pg.strips.size());
            info.colorSpaceType = 1;
            info.textTags = tags;
            std::string p[5];
            if (props != nullptr && n == 0) {
                p[0] = props->title, p[1] = props->author, p[2] = props->subject;
                p[3] = props->keywords, p[4] = props->comments;
                info.title = p[0].data();
                info.author = p[1].data();
                info.subject = p[2].data();
                info.keywords = p[3].data();
                info.comments = p[4].data();
            }
            if (xtavputi(&h, static_cast<uint16_t>(n + 1), &info, nullptr, &err) < 0)
                throw Failure{where + ": cannot write the page information", err};
            for (size_t s = 0; s < pg.strips.size(); ++s) {
                uint8_t flag = s + 1 == pg.strips.size() ? 3 : 2;  // end of strip, last data
                std::vector<uint8_t> data = pg.strips[s];
                int32_t w = xtavwrite(&h, data.data(), static_cast<uint32_t>(data.size()),
                                      static_cast<uint16_t>(n + 1), flag, &err);
                if (w < 0) throw Failure{where + ": cannot write strip " + std::to_string(s + 1), err};
            }
        }
    } catch (...) {
        xtavabort(&h, &err);
        unlink(path.c_str());
        throw;
    }
    errno = 0;
    if (xtavclose(&h, &err) < 0) throw Failure{"cannot finish the file", static_cast<uint32_t>(errno)};
}

std::vector<Page> letter_pages() {
    std::vector<Page> pages;

    Canvas c1(600, 800);
    c1.frame(20, 20, 560, 760, 3);
    c1.text(60, 60, "QVTAV SAMPLE LETTER", 4);
    c1.fill(60, 110, 480, 2, 255);
    c1.lines(60, 150, 480, 20, 7);
    c1.lines(60, 540, 480, 8, 99);
    Page p1;
    p1.width = 600, p1.height = 800;
    p1.rowsPerStrip = 800;
    p1.strips = make_strips(c1.bilevel(), 75, 800, 800, false);
    p1.texts.values[TAV_TEXT_DOCUMENT_NAME] = "letter.tif";
    p1.texts.values[TAV_TEXT_IMAGE_DESCRIPTION] = "A one-page letter, bilevel, uncompressed";
    p1.texts.values[TAV_TEXT_PAGE_NAME] = "letter";
    p1.texts.values[TAV_TEXT_ARTIST] = "qvtav_samples";
    p1.texts.values[TAV_TEXT_DATE_TIME] = "2024:01:15 09:30:00";
    pages.push_back(std::move(p1));

    Canvas c2(600, 800);
    c2.frame(20, 20, 560, 760, 3);
    c2.text(60, 60, "FORM PAGE 2", 4);
    for (uint32_t r = 0; r <= 10; ++r) c2.fill(60, 150 + r * 50, 480, 2, 255);
    for (uint32_t k = 0; k <= 4; ++k) c2.fill(60 + k * 120, 150, 2, 500, 255);
    Page p2;
    p2.width = 600, p2.height = 800;
    p2.compression = TAV_COMP_PACKBITS;
    p2.rowsPerStrip = 200;
    p2.strips = make_strips(c2.bilevel(), 75, 800, 200, true);
    p2.texts.values[TAV_TEXT_DOCUMENT_NAME] = "letter.tif";
    p2.texts.values[TAV_TEXT_IMAGE_DESCRIPTION] = "A form, bilevel, PackBits in four strips";
    p2.texts.values[TAV_TEXT_PAGE_NAME] = "form";
    pages.push_back(std::move(p2));

    Canvas c3(320, 240);
    for (uint32_t y = 0; y < 240; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            int dx = static_cast<int>(x) - 160, dy = static_cast<int>(y) - 120;
            uint8_t ink = static_cast<uint8_t>(x * 200 / 320);
            if (dx * dx + dy * dy < 80 * 80) ink = static_cast<uint8_t>(255 - y);
            c3.shade(x, y, ink);
        }
    c3.text(100, 200, "GREY 3", 3);
    Page p3;
    p3.width = 320, p3.height = 240, p3.bits = 8, p3.dpi = 72;
    p3.photometric = TAV_PHOTO_GRAY_BLACK;
    p3.rowsPerStrip = 30;
    p3.strips = make_strips(c3.grey(), 320, 240, 30, false);
    p3.texts.values[TAV_TEXT_DOCUMENT_NAME] = "letter.tif";
    p3.texts.values[TAV_TEXT_IMAGE_DESCRIPTION] = "A photo, 8-bit grey in eight strips";
    p3.texts.values[TAV_TEXT_PAGE_NAME] = "photo";
    pages.push_back(std::move(p3));
    return pages;
}

std::vector<Page> scan_pages() {
    Canvas c(256, 160);
    for (uint32_t y = 0; y < 160; ++y)
        for (uint32_t x = 0; x < 256; ++x) c.shade(x, y, static_cast<uint8_t>((x + y) * 120 / 416));
    c.text(40, 60, "SCAN", 8);
    Page p;
    p.width = 256, p.height = 160, p.bits = 8, p.dpi = 150;
    p.photometric = TAV_PHOTO_GRAY_BLACK;
    p.rowsPerStrip = 160;
    p.strips = make_strips(c.grey(), 256, 160, 160, false);
    p.texts.values[TAV_TEXT_IMAGE_DESCRIPTION] = "A scanned slip, 8-bit grey";
    p.texts.values[TAV_TEXT_PAGE_NAME] = "scan";
    return {std::move(p)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: qvtav_samples OUTDIR\n"
                             "writes OUTDIR/letter.tif (3 pages) and OUTDIR/scan.tif (1 page)\n");
        return 2;
    }
    std::string dir = argv[1];
    if (!dir.empty() && dir.back() != '/') dir += '/';
    Properties props{"Sample letter", "qvtav_samples", "What the library writes",
                     "sample, letter, TIFF", "Three pages: bilevel, PackBits and grey"};
    struct Job {
        std::string name;
        std::vector<Page> pages;
        const Properties* props;
    } jobs[] = {{"letter.tif", letter_pages(), &props}, {"scan.tif", scan_pages(), nullptr}};
    for (const Job& j : jobs) {
        std::string path = dir + j.name;
        try {
            write_document(path, j.pages, j.props);
        } catch (const Failure& f) {
            std::fprintf(stderr, "qvtav_samples: %s: %s: error %u (%s)\n", path.c_str(), f.what.c_str(),
                         f.code, std::string(qvtool::error_meaning(f.code)).c_str());
            return 1;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return 0;
}
