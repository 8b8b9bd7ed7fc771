// Targa files: header, ID field, colour maps of every entry size.
#include "format_fuzz.h"

namespace {
constexpr uint8_t kImageTypes[] = {1, 2, 3, 9, 10, 11};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    // Byte 2 holds an image type (Targa has no other mark).
    const uint8_t type = kImageTypes[(size > 2 ? data[2] : 0) % std::size(kImageTypes)];
    fuzz::put_mark(file, 2, {type});
    return fuzz::read_file_as_document(file);
}
