// JPEG files: the JFIF and JFXX segments, the marker walk, frame headers.
#include "format_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    fuzz::put_mark(file, 0, {0xFF, 0xD8, 0xFF});
    return fuzz::read_file_as_document(file);
}
