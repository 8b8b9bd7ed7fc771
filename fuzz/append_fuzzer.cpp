// Appending: the input opened for update (which converts page index and
// plain chain files to a page offset table), one page appended, closed;
// then the result read as the read harness reads. A session that reports
// success must leave one page more, and no huge file.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::work_file("doc.tif");
    fuzz::save(path, data, size);
    uint32_t pages = 0, type = 0, err = 0;
    int32_t h = fuzz::open_update(path, &pages, &type);
    if (h >= 0) {
        bool appended = fuzz::append_page(h, pages + 1, type) == 0;
        bool closed = xtavclose(&h, &err) == 0;
        fuzz::check_growth(path, size, pages, "an update session appending one page");
        int now = fuzz::read_document(path);
        if (appended && closed && now != int(pages) + 1)
            fuzz::fault("a page was appended to " + std::to_string(pages) + " pages, the file has " +
                        std::to_string(now));
    }
    fuzz::end_run();
    return 0;
}
