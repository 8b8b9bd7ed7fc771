// The block file format. Its reader and writer are not built yet: opening
// and creating a block file refuse with 293 (a created file is removed
// again), and the README says so.
#include "containers/block/block_format.h"

#include <cerrno>

#include "frame/fct.h"

namespace {

constexpr uint16_t kBlockMark = 0x8045;
constexpr uint16_t kBlockMarkSwapped = 0x4580;

int blk_not_built(FctEntry*, const FormatRequest&) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}

}  // namespace

Probe blk_probe(const FileHead& head) {
    uint16_t mark = head.u16(0);
    return (mark == kBlockMark || mark == kBlockMarkSwapped) ? kProbeYes : kProbeNo;
}

const FormatOps kBlockFormat = {
    .fileType = FILETYPE_BLOCK, .name = "block file", .traits = 0, .can_create = format_creatable,
    .open = blk_not_built, .create = blk_not_built, .page_data = format_nothing_data,
};
