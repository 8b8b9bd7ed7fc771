// XIFF files. The binding of the outside XIFF reader is not built yet: an
// open fails as if the reader library could not be loaded (1).
#include "containers/xiff/xiff_format.h"

#include <cerrno>
#include <cstring>

#include "frame/fct.h"

namespace {

constexpr uint32_t kMarkOffset = 8;
constexpr char kXeroxMark[] = "XEROX DIFF";  // followed by a version byte and a zero
constexpr char kExtendedMark[] = " eXtended";
constexpr uint32_t kXeroxMarkLength = sizeof kXeroxMark - 1;
constexpr uint32_t kExtendedMarkLength = sizeof kExtendedMark - 1;

int xiff_open(FctEntry*, const FormatRequest&) {
    errno = TAV_EPERM;
    return -1;
}

}  // namespace

Probe xiff_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    if (std::memcmp(b.data() + kMarkOffset, kXeroxMark, kXeroxMarkLength) == 0) {
        uint8_t version = b[kMarkOffset + kXeroxMarkLength];
        uint8_t after = b[kMarkOffset + kXeroxMarkLength + 1];
        if (version == 0 || version == 1 || (version == 2 && after == 0)) return kProbeYes;
        return kProbeRefused;
    }
    if (std::memcmp(b.data() + kMarkOffset, kExtendedMark, kExtendedMarkLength) == 0)
        return kProbeYes;
    return kProbeNo;
}

const FormatOps kXiffFormat = {
    .fileType = FILETYPE_XIFF,
    .name = "XIFF",
    .traits = kTraitDecodedPages | kTraitRowsOf32Bits,
    .open = xiff_open,
};
