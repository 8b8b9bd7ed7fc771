// BMP files: the four header kinds, palettes, masks, profiles, and the
// delivery of 16- and 32-bit pages as 24-bit rows.
#include "format_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    fuzz::put_mark(file, 0, {'B', 'M'});
    return fuzz::read_file_as_document(file);
}
