// JPEG files. Opening works; reading page information and data is not
// built yet (293); a JPEG page has no auxiliary data. JPEG files are never
// created.
#include "tiff/formats/jpeg/jpeg_format.h"

namespace {
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
}  // namespace

Probe jpeg_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    bool start = b[0] == kMarkerPrefix && b[1] == kStartOfImage;
    return start && b[2] == kMarkerPrefix ? kProbeYes : kProbeNo;
}

const FormatOps kJpegFormat = {
    .fileType = FILETYPE_JPEG, .name = "JPEG", .open = format_single_page,
    .page_data = format_nothing_data,
};
