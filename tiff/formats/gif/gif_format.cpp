// GIF files. A GIF file can be created, but the page calls write nothing
// into it; reading its page information and data is not built yet (293).
#include "tiff/formats/gif/gif_format.h"

#include <cstring>

namespace {

constexpr char kGifSignature[] = "GIF8";
constexpr uint8_t kVersion87 = '7';
constexpr uint8_t kVersion89 = '9';
constexpr uint8_t kVersionEnd = 'a';

bool gif_creatable(bool) { return true; }

}  // namespace

Probe gif_probe(const FileHead& head) {
    const uint8_t* b = head.bytes.data();
    if (std::memcmp(b, kGifSignature, 4) != 0) return kProbeNo;
    if ((b[4] == kVersion87 || b[4] == kVersion89) && b[5] == kVersionEnd) return kProbeYes;
    return kProbeNo;
}

const FormatOps kGifFormat = {
    .fileType = FILETYPE_GIF,
    .name = "GIF",
    .traits = 0,
    .can_create = gif_creatable,
    .open = format_single_page,
    .put_info = format_nothing_put,
    .page_write = format_nothing_write,
};
