// XIFF files: the input as a TIFF file with the XIFF mark behind its
// header (either mark, every version byte the open call takes), read as a
// document through the XIFF reader the library loads, which decodes the
// pages.
#include "format_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    const bool bigEndian = size > 0 && data[0] == 'M';
    if (bigEndian)
        fuzz::put_mark(file, 0, {'M', 'M', 0, 42});
    else
        fuzz::put_mark(file, 0, {'I', 'I', 42, 0});
    const uint8_t choice = size > 18 ? data[18] : 0;
    if (choice == 3)
        fuzz::put_mark(file, 8, {' ', 'e', 'X', 't', 'e', 'n', 'd', 'e', 'd'});
    else
        fuzz::put_mark(file, 8, {'X', 'E', 'R', 'O', 'X', ' ', 'D', 'I', 'F', 'F', uint8_t(choice % 3), 0});
    return fuzz::read_file_as_document(file);
}
