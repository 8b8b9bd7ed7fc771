// The block file's structures as byte-order templates for swap_fields.
#include "formats/block/block_swap.h"

#include <cstddef>

#include "fileio/byteorder.h"

namespace blk {
namespace {
constexpr SwapPair kBlockHeader[] = {{6, kSwapShort}, {1, kSwapLong4}};
constexpr SwapPair kDirBlockHead[] = {{2, kSwapShort}, {1, kSwapLong4}};
constexpr SwapPair kDirEntries[] = {{2, kSwapLong4}};
constexpr SwapPair kPageRecord[] = {{2, kSwapShort}, {1, kSwapLong4}, {9, kSwapShort}};
constexpr SwapPair kPageRecordTail[] = {{2, kSwapShort}, {2, kSwapLong4}, {2, kSwapShort}};
constexpr SwapPair kStripEntries[] = {{3, kSwapLong4}, {4, kSwapShort}, {1, kSwapLong4}};
}  // namespace

void swap_block_header(void* buf) { swap_fields(buf, 16, kBlockHeader, 2, 1); }
void swap_dir_block_head(void* buf) { swap_fields(buf, 8, kDirBlockHead, 2, 1); }
void swap_dir_entries(void* buf, int repeat) {
    swap_fields(buf, size_t(8) * (repeat > 0 ? repeat : 0), kDirEntries, 1, repeat);
}
void swap_page_record(void* buf) { swap_fields(buf, 26, kPageRecord, 3, 1); }
void swap_page_record_tail(void* buf) { swap_fields(buf, 16, kPageRecordTail, 3, 1); }
void swap_strip_entries(void* buf, int repeat) {
    swap_fields(buf, size_t(24) * (repeat > 0 ? repeat : 0), kStripEntries, 3, repeat);
}

}  // namespace blk
