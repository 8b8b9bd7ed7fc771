// The byte-order templates of the block file's structures: a file written
// on a big-endian machine stores every field swapped, and these convert
// its structures in place, either way.
#pragma once

namespace blk {

void swap_block_header(void* buf);               // 16 bytes
void swap_dir_block_head(void* buf);             // 8 bytes
void swap_dir_entries(void* buf, int repeat);    // 8 bytes each
void swap_page_record(void* buf);                // 26 bytes
void swap_page_record_tail(void* buf);           // 16 bytes
void swap_strip_entries(void* buf, int repeat);  // 24 bytes each

}  // namespace blk
