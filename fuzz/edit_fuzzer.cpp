// Editing: on the input, a property update, the deletion of its middle
// page, and an update session that moves the last page before the first
// and appends a page; then the result read as the read harness reads.
// Every step that reports success must leave the page count it promises,
// and no step may make a huge file.
#include <string>

#include "fuzz_util.h"

namespace {

void expect_pages(const std::string& path, int want, const char* step) {
    int now = fuzz::count_pages(path);
    if (now != want)
        fuzz::fault(std::string(step) + " succeeded; " + std::to_string(want) + " pages expected, the file has " +
                    std::to_string(now));
}

void update_properties(const std::string& path, size_t size, int pages) {
    char title[] = "fuzz", author[] = "qvtav";
    PageInfo props{};
    props.title = title;
    props.author = author;
    uint32_t err = 0;
    fuzz::PathBuf p(path);
    int32_t r = xtavputprops(nullptr, p, &props, &err);
    fuzz::check_growth(path, size, uint32_t(pages), "a property update");
    if (r == 0) expect_pages(path, pages, "a property update");
}

void delete_middle_page(const std::string& path, size_t size, int pages) {
    if (pages < 2) return;
    int32_t middle = (pages + 1) / 2;
    uint32_t err = 0;
    fuzz::PathBuf p(path);
    int32_t r = xtavdelpgs(nullptr, p, middle, uint32_t(middle), &err);
    fuzz::check_growth(path, size, uint32_t(pages), "a page deletion");
    if (r == 0) expect_pages(path, pages - 1, "a page deletion");
}

void move_and_append(const std::string& path, size_t size) {
    uint32_t pages = 0, type = 0, err = 0;
    int32_t h = fuzz::open_update(path, &pages, &type);
    if (h < 0) return;
    bool ok = true;
    if (pages >= 2) {
        TavPageMove move{1, pages};
        ok = xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&move), &err) == 0;
    }
    ok = fuzz::append_page(h, pages + 1, type) == 0 && ok;
    ok = xtavclose(&h, &err) == 0 && ok;
    fuzz::check_growth(path, size, pages, "an update session moving a page and appending one");
    if (ok) expect_pages(path, int(pages) + 1, "an update session moving a page and appending one");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::work_file("doc.tif");
    fuzz::save(path, data, size);
    int pages = fuzz::count_pages(path);
    if (pages >= 0) {
        update_properties(path, size, pages);
        pages = fuzz::count_pages(path);
        delete_middle_page(path, size, pages);
        move_and_append(path, size);
        fuzz::read_document(path);
    }
    fuzz::end_run();
    return 0;
}
