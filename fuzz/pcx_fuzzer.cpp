// PCX files, and DCX files of PCX pages: headers, palettes, page tables.
#include "format_fuzz.h"

namespace {
constexpr uint8_t kDcxMagic[] = {0xB1, 0x68, 0xDE, 0x3A};
constexpr uint8_t kPcxVersions[] = {0, 2, 3, 5};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    // An input that starts with the DCX mark stays a DCX file; any other
    // becomes a PCX file of a known version with run-length coding.
    if (size < 4 || !std::equal(std::begin(kDcxMagic), std::end(kDcxMagic), data)) {
        const uint8_t version = kPcxVersions[(size > 1 ? data[1] : 0) % std::size(kPcxVersions)];
        fuzz::put_mark(file, 0, {0x0A, version, 1});
    }
    return fuzz::read_file_as_document(file);
}
