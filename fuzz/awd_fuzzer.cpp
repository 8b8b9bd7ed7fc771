// AWD documents: the input as a file that may be an AWD file (a compound
// file of fax documents), opened for reading; every page's information,
// with a band size of one row and one of 8192 bytes, and its bands until
// the page ends. The AWD viewer the library loads decodes the documents.
// Then the edits, on fresh copies: the last document moved to the front,
// the first page deleted, a page written over the first; each either fails
// or leaves a file that opens with the pages it should have.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "fuzz_util.h"

namespace {

constexpr uint32_t kMaxPagesVisited = 16;  // plus one beyond the last
constexpr uint32_t kMaxBands = 1u << 16;   // a page has at most 65535 rows
constexpr uint16_t kBandSizes[] = {0, 8192};

void read_bands(int32_t h, uint16_t page, uint16_t bandBytes) {
    PageInfo info{};
    info.maxStripSize = TAV_AWD_PAIR(bandBytes, 0);
    PageSizes sizes{};
    uint32_t err = 0;
    if (xtavgeti(&h, page, &info, &sizes, &err) < 0) return;
    // Bands are AWD pages' way of delivery; other files' pages are read by
    // the other harnesses (read in pieces this small, they would only take time).
    if (info.fileType != FILETYPE_AWD) return;
    const uint32_t band = TAV_AWD_LOW(info.maxStripSize);
    if (band == 0) fuzz::fault("an AWD page came with no band size");
    std::vector<uint8_t> buf(std::max<uint32_t>(band, 1));
    for (uint32_t n = 0; n < kMaxBands; ++n) {
        uint32_t remaining = 0;
        int32_t got = xtavread(&h, buf.data(), 0, uint32_t(buf.size()), &remaining, page, &err);
        if (got <= 0) break;
        if (uint32_t(got) > buf.size()) fuzz::fault("a band of more bytes than the band size");
    }
}

constexpr uint32_t kMaxPagesEdited = 64;

// Reopens the edited file: when it opens, it must have `pages` pages.
void expect_pages(const std::string& path, int pages, const char* what) {
    int got = fuzz::count_pages(path);
    if (got >= 0 && got != pages) fuzz::fault(std::string(what) + ": the page count is wrong afterwards");
}

void edit_copies(const uint8_t* data, size_t size, uint32_t pages) {
    if (pages < 2 || pages > kMaxPagesEdited) return;
    const std::string path = fuzz::work_file("edit.awd");
    fuzz::PathBuf p(path);
    uint32_t err = 0, now = 0;
    // The last document before the first page.
    fuzz::save(path, data, size);
    int32_t h = fuzz::open_update(path, &now);
    if (h > 0) {
        TavPageMove move{1, now};
        bool moved = xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&move), &err) == 0;
        if (xtavclose(&h, &err) == 0 && moved) expect_pages(path, int(now), "move");
    }
    // The first page deleted.
    fuzz::save(path, data, size);
    if (xtavdelpgs(nullptr, p, 1, 1, &err) == 0) expect_pages(path, int(pages) - 1, "delete");
    // A page written over the first.
    fuzz::save(path, data, size);
    h = fuzz::open_update(path, &now);
    if (h > 0) {
        bool written = fuzz::append_page(h, 1, FILETYPE_AWD) == 0;
        if (xtavclose(&h, &err) == 0 && written) expect_pages(path, int(now), "write-over");
    }
    fuzz::check_growth(path, size, pages, "write-over");
    std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::work_file("doc.awd");
    fuzz::save(path, data, size);
    fuzz::PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h >= 0) {
        uint32_t visited = std::min(pages + 1, kMaxPagesVisited + 1);
        for (uint32_t page = 1; page <= visited && page <= 0xFFFF; ++page)
            for (uint16_t band : kBandSizes) read_bands(h, uint16_t(page), band);
        xtavclose(&h, &err);
        if (type == FILETYPE_AWD) edit_copies(data, size, pages);
    }
    fuzz::end_run();
    return 0;
}
