// The AWD seeds of make_seeds: AWD files made as the tests make them, through
// the library (one-page documents, display records, viewed marks, the
// file-wide viewed mark) and through the encoder's own entry points (a
// document of several pages of different heights).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/awd/awd_interface.h"
#include "platform/plat_loader.h"
#include "qvtav.h"

namespace {

// A bilevel page of bars, rows of ceil(width / 8) bytes.
std::vector<uint8_t> page_rows(uint32_t width, uint32_t height, uint32_t seed) {
    uint32_t rowBytes = (width + 7) / 8;
    std::vector<uint8_t> rows(size_t(rowBytes) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if ((x / 5 + y / 3 + seed) % 4 == 0) rows[size_t(y) * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
    return rows;
}

struct Handle {
    int32_t h = 0;
    uint32_t err = 0;
    ~Handle() {
        if (h > 0) xtavclose(&h, &err);
    }
};

bool write_page(Handle& f, uint16_t page, uint32_t width, uint32_t height, uint32_t seed) {
    PageInfo info{};
    info.imageWidth = width;
    info.xResNum = info.yResNum = 200;
    info.stripCount = TAV_AWD_PAIR(100, 100);
    std::vector<uint8_t> rows = page_rows(width, height, seed);
    uint8_t none = 0;
    return xtavputi(&f.h, page, &info, nullptr, &f.err) == 0 &&
           xtavwrite(&f.h, rows.data(), uint32_t(rows.size()), page, 0, &f.err) >= 0 &&
           xtavwrite(&f.h, &none, 0, page, 0, &f.err) == 0;
}

// Pages through the library, then display settings: page 2 turned, and
// with rotateAll every document turned and every page viewed.
bool library_file(const std::string& path, bool rotateAll) {
    std::vector<char> p(path.begin(), path.end());
    p.resize(TAV_PATH_SIZE, 0);
    uint32_t type = FILETYPE_AWD;
    Handle f;
    f.h = xtavcreat(nullptr, p.data(), &type, &f.err);
    if (f.h <= 0 || !write_page(f, 1, 64, 12, 0) || !write_page(f, 2, 100, 7, 1) || !write_page(f, 3, 1728, 3, 2))
        return false;
    PageInfo turn{};
    turn.maxStripSize = TAV_AWD_PAIR(0, 90);
    turn.stripCount = TAV_AWD_PAIR(150, 75);
    turn.rowsPerStrip = rotateAll ? TAV_AWD_FLAG_ROTATE_ALL : 0x5;
    return xtavputi(&f.h, 2, &turn, nullptr, &f.err) == 0;
}

// A document of three pages and one of one page, through the encoder.
bool encoder_file(const std::string& dir, const std::string& path) {
    void* lib = plat_load_library(kAwdEncoderLibrary);
    if (!lib) return false;
    auto create = reinterpret_cast<AwdCreateFn>(plat_symbol(lib, "AWDCreate"));
    auto add = reinterpret_cast<AwdAddImageFn>(plat_symbol(lib, "AWDAddImage"));
    auto close = reinterpret_cast<AwdCloseFn>(plat_symbol(lib, "AWDClose"));
    auto image = reinterpret_cast<ImageCreateFn>(plat_symbol(lib, "ImageCreate"));
    auto band = reinterpret_cast<ImageSetBandFn>(plat_symbol(lib, "ImageSetBand"));
    auto finish = reinterpret_cast<ImageCloseFn>(plat_symbol(lib, "ImageClose"));
    if (!create || !add || !close || !image || !band || !finish) return false;
    void* awd = create(path.c_str(), 0);
    if (!awd) return false;
    bool ok = true;
    const std::vector<std::vector<uint32_t>> docs = {{9, 20, 5}, {4}};
    for (size_t d = 0; ok && d < docs.size(); ++d) {
        std::string file = dir + "/DOC" + std::to_string(d);
        ImageParams params{kImageParamsKind, kImageParamsLineUnit, 204, 98};
        void* im = image(file.c_str(), &params);
        ok = im != nullptr;
        for (uint32_t height : docs[d]) {
            std::vector<uint8_t> rows = page_rows(80, height, height);
            AwdBand b{0, 80, int32_t(height), 10, 1, 1, rows.data()};
            ok = ok && band(im, &b);
            b.bmHeight = 0;
            ok = ok && band(im, &b);
        }
        ok = im && finish(im) && ok && add(awd, file.c_str());
        std::remove(file.c_str());
    }
    close(awd);
    return ok;
}

}  // namespace

std::string awd_seed_files(const std::string& dir) {
    if (!library_file(dir + "/awd_pages.awd", false)) return "cannot write awd_pages.awd";
    if (!library_file(dir + "/awd_viewed.awd", true)) return "cannot write awd_viewed.awd";
    if (!encoder_file(dir, dir + "/awd_documents.awd")) return "cannot write awd_documents.awd";
    return {};
}
