// BMP files. Opening and creating work; reading page information and data
// and writing pages are not built yet (293).
#include "tiff/formats/bmp/bmp_format.h"

namespace {

constexpr uint8_t kBmpMark[2] = {'B', 'M'};

bool bmp_creatable(bool) { return true; }

}  // namespace

Probe bmp_probe(const FileHead& head) {
    return head.bytes[0] == kBmpMark[0] && head.bytes[1] == kBmpMark[1] ? kProbeYes : kProbeNo;
}

const FormatOps kBmpFormat = {
    .fileType = FILETYPE_BMP,
    .name = "BMP",
    .traits = 0,
    .can_create = bmp_creatable,
    .open = format_single_page,
};
