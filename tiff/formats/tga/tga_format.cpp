// Targa files. Opening works; reading page information and data is not
// built yet (293). Targa files are never created.
#include "tiff/formats/tga/tga_format.h"

namespace {
constexpr uint8_t kTgaImageTypes[] = {1, 2, 3, 9, 10, 11};
constexpr uint32_t kImageTypeOffset = 2;
}  // namespace

Probe tga_probe(const FileHead& head) {
    for (uint8_t t : kTgaImageTypes)
        if (head.bytes[kImageTypeOffset] == t) return kProbeYes;
    return kProbeNo;
}

const FormatOps kTgaFormat = {
    .fileType = FILETYPE_TGA,
    .name = "Targa",
    .traits = 0,
    .open = format_single_page,
};
