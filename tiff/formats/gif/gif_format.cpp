// GIF files. A GIF file can be created, but the page calls write nothing
// into it; reading its page information and data is not built yet (293).
#include "tiff/formats/gif/gif_format.h"

#include <cstring>

namespace {
constexpr char kGifSignature[] = "GIF8";  // then '7' or '9', then 'a'
}

Probe gif_probe(const FileHead& head) {
    const uint8_t* b = head.bytes.data();
    bool version = (b[4] == '7' || b[4] == '9') && b[5] == 'a';
    return std::memcmp(b, kGifSignature, 4) == 0 && version ? kProbeYes : kProbeNo;
}

const FormatOps kGifFormat = {
    .fileType = FILETYPE_GIF, .name = "GIF", .traits = 0, .can_create = format_creatable,
    .open = format_single_page, .put_info = format_nothing_put,
    .page_write = format_nothing_write,
};
