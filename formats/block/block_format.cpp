// The block file format: the library's own multi-page container of
// 4096-byte blocks. Set-up at open and create, the header written back at
// close, and the options that report a page's byte counts; the pages are
// read in block_page_read.cpp and written in block_page_write.cpp.
//
// Behaviour:
//  - A file shorter than its header block, or shorter than the blocks its
//    header counts, is refused (TAV_E_TRUNCATED); so is a file whose fields stand in the
//    other byte order (it starts 45 80; TAV_E_NOT_SUPPORTED).
//  - Option 23 gives the page's stored bytes, its one stream of data.
//  - Abort writes nothing: the header of an opened file stays as it was,
//    and the frame cuts the file back to its length at open.
#include "formats/block/block_format.h"

#include <algorithm>
#include <cstring>

#include "fileio/byteorder.h"
#include "formats/block/block_state.h"

namespace blk {
namespace {

constexpr uint16_t kCountEntrySize = 4;

int new_state(FctEntry* e) {
    BlockState* s = format_new_state<BlockState>(e);
    if (!s) return -1;
    s->scratch.reset(static_cast<uint8_t*>(mem_calloc(kBlockSize, 1)));
    return s->scratch ? 0 : -1;
}

int open_file(FctEntry* e, const FormatRequest&) {
    if (new_state(e) < 0) return -1;
    return read_directory(e, state_of(e));
}

// A new file: the header block, with no pages.
int create_file(FctEntry* e, const FormatRequest&) {
    if (new_state(e) < 0) return -1;
    BlockState& s = state_of(e);
    s.nextBlock = 1;
    return write_directory(e, s);
}

// A page whose data came without its last call is not listed, but the
// blocks it took are counted in use. A broken page (a write of its data
// failed) is dropped with its blocks: the file ends behind the pages before
// it and their directory, and close fails with the write's code.
int finish_file(FctEntry* e) {
    BlockState& s = state_of(e);
    const int broken = s.pageBroken;
    if (broken) s.nextBlock = s.pageFirstBlock;
    if (e->editFlags & kEditPageUnderWay) s.flushPending = true;
    if (!s.flushPending) return 0;
    const int rc = write_directory(e, s);
    if (!broken) return rc;
    fct_cut_at_close(e, offset_of(s.nextBlock));
    if (rc == 0) errno = broken;
    return -1;
}

void release_state(FctEntry* e) {
    if (e->formatState) format_end_state<BlockState>(e);
}

// Option 12: entries of 4 bytes. Option 13: one entry, the page's bytes
// when uncompressed at one bit per pixel, each row in whole bytes. Option
// 23: one entry, its stored bytes.
uint32_t unpacked_bytes(const PageInfo& i) {
    const uint64_t rowBytes = (uint64_t(i.imageWidth) + 7) / 8;
    return uint32_t(std::min<uint64_t>(uint64_t(i.imageLength) * rowBytes, UINT32_MAX));
}

int strip_counts(FctEntry* e, uint32_t option, uint32_t* value) {
    if (option == kOptCountSize) {
        std::memcpy(value, &kCountEntrySize, sizeof kCountEntrySize);
        return 0;
    }
    auto* rec = reinterpret_cast<TavStripCounts*>(value);
    if (rec->count == 0) return 0;
    if (!rec->buffer) return fail(TAV_E_OPTION);
    const PageInfo& i = e->pageInfo;
    const uint32_t v = option == kOptStripCounts ? unpacked_bytes(i) : e->pageDataSize;
    std::memcpy(rec->buffer, &v, sizeof v);
    return 0;
}

}  // namespace
}  // namespace blk

Probe blk_probe(const FileHead& head) {
    // Detection reads the first word little-endian: a block file's big-endian
    // magic reads swapped, a file in the other byte order reads as the magic.
    const uint16_t mark = head.u16(0);
    return (mark == bswap16(blk::kMagic) || mark == blk::kMagic) ? kProbeYes : kProbeNo;
}

const FormatOps kBlockFormat = {
    .fileType = FILETYPE_BLOCK, .detectOrder = 10, .probe = blk_probe, .can_create = format_creatable,
    .open = blk::open_file, .create = blk::create_file, .finish = blk::finish_file,
    .release = blk::release_state, .page_info = blk::page_info, .page_read = blk::page_read,
    .page_data = format_nothing_data, .put_info = blk::put_info, .page_write = blk::page_write,
    .strip_counts = blk::strip_counts, .image_length = blk::image_length,
    .data_strips = blk::data_strips, .data_chunks = blk::data_chunks,
};
