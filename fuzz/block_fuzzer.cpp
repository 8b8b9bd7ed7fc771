// Block files: an input that starts with the block file's mark (in either
// byte order) read as the read harness reads it, every page's information
// and data; then one page appended in an update session, after which the
// file must open with one page more. Inputs of other formats are left to
// the other harnesses, so every run here reaches the block file's code.
#include "fuzz_util.h"

namespace {

bool block_mark(const uint8_t* data, size_t size) {
    return size >= 2 && ((data[0] == 0x80 && data[1] == 0x45) || (data[0] == 0x45 && data[1] == 0x80));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!block_mark(data, size)) return -1;  // not kept in the corpus
    const std::string path = fuzz::work_file("doc.tif");  // the name the working directory keeps
    fuzz::save(path, data, size);
    if (fuzz::read_document(path) >= 0) {
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
    }
    fuzz::end_run();
    return 0;
}
