// Reading: the input as a document, every page's information, auxiliary
// data and data (as one stream and strip by strip), then close.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::work_file("doc.tif");
    fuzz::save(path, data, size);
    fuzz::read_document(path);
    fuzz::end_run();
    return 0;
}
