// PCX files. Opening and creating work; reading page information and data
// and writing pages are not built yet (293).
#include "tiff/formats/pcx/pcx_format.h"

#include <algorithm>
#include <array>

namespace {
constexpr uint8_t kPcxMarker = 0x0A;
constexpr uint8_t kPcxRunLength = 1;
constexpr std::array<uint8_t, 4> kPcxVersions = {0, 2, 3, 5};
}  // namespace

Probe pcx_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    bool known = std::find(kPcxVersions.begin(), kPcxVersions.end(), b[1]) != kPcxVersions.end();
    return b[0] == kPcxMarker && known && b[2] == kPcxRunLength ? kProbeYes : kProbeNo;
}

const FormatOps kPcxFormat = {
    .fileType = FILETYPE_PCX, .name = "PCX", .traits = 0, .can_create = format_creatable,
    .open = format_single_page,
};
