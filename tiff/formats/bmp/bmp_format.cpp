// BMP files. Opening and creating work; reading page information and data
// and writing pages are not built yet (293).
#include "tiff/formats/bmp/bmp_format.h"

Probe bmp_probe(const FileHead& head) {
    return head.bytes[0] == 'B' && head.bytes[1] == 'M' ? kProbeYes : kProbeNo;
}

const FormatOps kBmpFormat = {
    .fileType = FILETYPE_BMP, .name = "BMP", .traits = 0, .can_create = format_creatable,
    .open = format_single_page,
};
