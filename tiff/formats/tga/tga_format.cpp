// Targa files. Opening works; reading page information and data is not
// built yet (293). Targa files are never created.
#include "tiff/formats/tga/tga_format.h"

#include <algorithm>
#include <array>

namespace {
constexpr std::array<uint8_t, 6> kTgaImageTypes = {1, 2, 3, 9, 10, 11};
constexpr uint32_t kImageTypeOffset = 2;
}  // namespace

Probe tga_probe(const FileHead& head) {
    uint8_t type = head.bytes[kImageTypeOffset];
    bool known = std::find(kTgaImageTypes.begin(), kTgaImageTypes.end(), type) != kTgaImageTypes.end();
    return known ? kProbeYes : kProbeNo;
}

const FormatOps kTgaFormat = {.fileType = FILETYPE_TGA, .name = "Targa", .open = format_single_page};
