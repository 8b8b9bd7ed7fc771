// GIF files: blocks, extensions, colour tables and the image descriptor.
#include "format_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    const uint8_t version = size > 4 && data[4] == '7' ? '7' : '9';
    fuzz::put_mark(file, 0, {'G', 'I', 'F', '8', version, 'a'});
    return fuzz::read_file_as_document(file);
}
