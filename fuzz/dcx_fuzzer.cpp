// DCX files opened for update: the input, with the DCX mark over its first
// bytes, is opened for update and one PCX page is appended behind its
// pages (bilevel, 8-bit with its palette, or 24-bit, by the input's size),
// then closed, or aborted for every third input. A closed session that
// reports success must leave one page more and no huge file; an aborted
// one the file exactly as it was. Then the result is read as the format
// harnesses read.
#include <array>

#include "format_fuzz.h"

namespace {

constexpr uint32_t kWidth = 40, kLength = 5;
constexpr uint32_t kKinds = 3;
constexpr size_t kAbortEvery = 3;

// Page `page` (from 1) of the kind chosen by `kind`: 0 if both calls
// succeed.
int append_pcx_page(int32_t h, uint32_t page, size_t kind) {
    static std::array<uint8_t, 768> palette = [] {
        std::array<uint8_t, 768> p{};
        for (size_t k = 0; k < p.size(); ++k) p[k] = uint8_t(k * 7);
        return p;
    }();
    const uint32_t samples = kind == 2 ? 3 : 1, bits = kind == 0 ? 1 : 8;
    PageInfo info{};
    info.imageWidth = kWidth;
    info.imageLength = kLength;
    info.samplesPerPixel = samples;
    for (uint32_t s = 0; s < samples; ++s) info.bitsPerSample[s] = bits;
    info.photometric = kind == 0 ? TAV_PHOTO_BILEVEL_BLACK : kind == 1 ? TAV_PHOTO_PALETTE : TAV_PHOTO_RGB;
    info.area.palette.colorMapSize = kind == 1 ? uint32_t(palette.size()) : 0;
    info.area.palette.colorMapBuffer = kind == 1 ? palette.data() : nullptr;
    std::array<uint8_t, kWidth * kLength * 3> rows;
    for (size_t k = 0; k < rows.size(); ++k) rows[k] = uint8_t(k / 9);
    const uint32_t count = (kind == 0 ? kWidth / 8 : kWidth * samples) * kLength;
    uint32_t err = 0;
    if (page > 0xFFFF || xtavputi(&h, uint16_t(page), &info, nullptr, &err) < 0) return -1;
    return xtavwrite(&h, rows.data(), count, uint16_t(page), 1, &err) < 0 ? -1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    fuzz::put_mark(file, 0, {0xB1, 0x68, 0xDE, 0x3A});
    // The input's file has the name every harness gives it.
    const std::string path = fuzz::work_file("doc.tif");
    fuzz::save(path, file.data(), file.size());
    uint32_t pages = 0, err = 0;
    int32_t h = fuzz::open_update(path, &pages);
    if (h >= 0) {
        const bool appended = append_pcx_page(h, pages + 1, size % kKinds) == 0;
        if (size % kAbortEvery == 0) {
            xtavabort(&h, &err);
            std::vector<uint8_t> now(fuzz::file_size(path));
            FILE* f = std::fopen(path.c_str(), "rb");
            const bool same = f && std::fread(now.data(), 1, now.size(), f) == now.size() && now == file;
            if (f) std::fclose(f);
            if (!same) fuzz::fault("an aborted append did not give the DCX file back as it was");
        } else {
            const bool closed = xtavclose(&h, &err) == 0;
            fuzz::check_growth(path, file.size(), pages, "a DCX session appending one page");
            const int now = fuzz::count_pages(path);
            if (appended && closed && now != int(pages) + 1)
                fuzz::fault("a page was appended to " + std::to_string(pages) + " pages, the file has " +
                            std::to_string(now));
        }
    }
    fuzz::read_document(path);
    fuzz::end_run();
    return 0;
}
