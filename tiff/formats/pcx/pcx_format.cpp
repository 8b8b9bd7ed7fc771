// PCX files. Opening and creating work; reading page information and data
// and writing pages are not built yet (293).
#include "tiff/formats/pcx/pcx_format.h"

namespace {

constexpr uint8_t kPcxMarker = 0x0A;
constexpr uint8_t kPcxRunLength = 1;
constexpr uint8_t kPcxVersions[] = {0, 2, 3, 5};

bool pcx_creatable(bool) { return true; }

}  // namespace

Probe pcx_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    if (b[0] != kPcxMarker || b[2] != kPcxRunLength) return kProbeNo;
    for (uint8_t v : kPcxVersions)
        if (b[1] == v) return kProbeYes;
    return kProbeNo;
}

const FormatOps kPcxFormat = {
    .fileType = FILETYPE_PCX,
    .name = "PCX",
    .traits = 0,
    .can_create = pcx_creatable,
    .open = format_single_page,
};
