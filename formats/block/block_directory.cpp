// The header block and the page directory: read at open into one array of
// record block numbers, written at create and, when pages were added, at
// close (the continuation blocks at the end of the file, the header last).
#include <algorithm>
#include <cstring>

#include "fileio/fio.h"
#include "formats/block/block_state.h"
#include "formats/block/block_swap.h"

namespace blk {
namespace {

// The first page listed in continuation block k (from 1).
uint32_t first_page_of(uint32_t k) { return kHeaderDirCapacity + (k - 1) * kDirBlockCapacity; }

// The entries a directory head counts, into the directory from page `first`
// on; entries for pages beyond the page count are passed over.
int take_entries(BlockState& s, uint8_t* entries, const DirHead& head, uint32_t room, uint32_t first) {
    if (head.capacity > room || head.used > head.capacity) return fail(TAV_E_SIZE);
    swap_dir_entries(entries, head.used);
    for (uint32_t i = 0; i < head.used && first + i < s.directory.size(); ++i)
        s.directory[first + i] = load<DirEntry>(entries + i * kDirEntrySize).recordBlock;
    return 0;
}

// The header's fields; the block number the first write takes.
int read_header(FctEntry* e, BlockState& s, uint8_t* b, uint32_t* dirNext) {
    if (fio_read_exact_at(int(e->fd), 0, b, kBlockSize, TAV_E_TRUNCATED) < 0) return -1;
    // A file whose fields stand in the other byte order is not a file this
    // library writes; reading it would give every field swapped.
    if (b[0] != uint8_t(kMagic >> 8) || b[1] != uint8_t(kMagic)) return fail(TAV_E_NOT_SUPPORTED);
    swap_block_header(b);
    const auto h = load<HeaderStart>(b);
    const uint64_t inUse = uint64_t(h.lastBlock) + 1;
    if (inUse > kMaxBlocks) return fail(TAV_E_SIZE);
    if (inUse * kBlockSize > e->origSize) return fail(TAV_E_TRUNCATED);
    // Every page has a record block of its own.
    if (h.pageCount >= inUse) return fail(TAV_E_TRUNCATED);
    s.nextBlock = uint32_t(inUse);
    // New blocks of a file opened for writing go behind every byte it holds,
    // so that an abort gives the file back as it was.
    if (e->can_write()) s.nextBlock = std::max(s.nextBlock, blocks_for(e->origSize));
    if (!s.directory.resize(h.pageCount)) return -1;
    e->pageCount = h.pageCount;

    swap_dir_block_head(b + kHeaderDirOffset);
    const auto head = load<DirHead>(b + kHeaderDirOffset);
    *dirNext = head.nextBlock;
    return take_entries(s, b + kHeaderDirEntries, head, kHeaderDirCapacity, 0);
}

// Builds continuation block k (from 1) of `blocks` in b, for the block
// number `at`.
void build_dir_block(const BlockState& s, uint8_t* b, uint32_t k, uint32_t blocks, uint32_t at) {
    std::memset(b, 0, kBlockSize);
    const uint32_t first = first_page_of(k);
    const uint32_t used = std::min(kDirBlockCapacity, s.directory.size() - first);
    store(b, DirHead{uint16_t(used), uint16_t(kDirBlockCapacity), k < blocks ? at + 1 : 0});
    for (uint32_t i = 0; i < used; ++i)
        store(b + kDirBlockEntries + i * kDirEntrySize, DirEntry{s.directory[first + i], 0});
    swap_dir_block_head(b);
    swap_dir_entries(b + kDirBlockEntries, int(used));
}

// Every block below the next one in use, every other one free.
void build_bitmap(uint8_t* bitmap, uint32_t inUse) {
    std::memset(bitmap, 0xFF, kBitmapBytes);
    const uint32_t marked = std::min(inUse, kBitmapBlocks);
    std::memset(bitmap, 0, marked / 8);
    if (marked % 8) bitmap[marked / 8] = uint8_t(0xFF >> (marked % 8));
}

void build_header(const BlockState& s, uint8_t* b, uint32_t pages, uint32_t firstDirBlock) {
    std::memset(b, 0, kBlockSize);
    store(b, HeaderStart{kMagic, kHeaderWord1, kHeaderWord2, kHeaderWord3, uint16_t(pages), 0,
                         s.nextBlock - 1});
    const uint32_t used = std::min(pages, kHeaderDirCapacity);
    store(b + kHeaderDirOffset, DirHead{uint16_t(used), uint16_t(kHeaderDirCapacity), firstDirBlock});
    for (uint32_t i = 0; i < used; ++i)
        store(b + kHeaderDirEntries + i * kDirEntrySize, DirEntry{s.directory[i], 0});
    build_bitmap(b + kBitmapOffset, s.nextBlock);
    swap_block_header(b);
    swap_dir_block_head(b + kHeaderDirOffset);
    swap_dir_entries(b + kHeaderDirEntries, int(used));
}

}  // namespace

int read_directory(FctEntry* e, BlockState& s) {
    uint8_t* b = s.scratch.get();
    uint32_t at = 0;
    if (read_header(e, s, b, &at) < 0) return -1;
    // The chain is followed as far as the page count needs it. Blocks are
    // written in ascending order, so a chain that does not ascend loops.
    const uint32_t needed = dir_blocks_for(s.directory.size());
    uint32_t prev = 0;
    for (uint32_t k = 1; k <= needed && at != 0; ++k) {
        if (at <= prev) return fail(TAV_E_TRUNCATED);
        if (at >= s.nextBlock) return fail(TAV_E_SIZE);
        if (fio_read_exact_at(int(e->fd), offset_of(at), b, kBlockSize, TAV_E_TRUNCATED) < 0) return -1;
        swap_dir_block_head(b);
        const auto head = load<DirHead>(b);
        if (take_entries(s, b + kDirBlockEntries, head, kDirBlockCapacity, first_page_of(k)) < 0) return -1;
        prev = at;
        at = head.nextBlock;
    }
    return 0;
}

int write_directory(FctEntry* e, BlockState& s) {
    uint8_t* b = s.scratch.get();
    const int fd = int(e->fd);
    const uint32_t pages = s.directory.size();
    const uint32_t blocks = dir_blocks_for(pages);
    if (s.nextBlock + blocks > kMaxBlocks) return fail(TAV_E_SEEK);
    const uint32_t firstDirBlock = blocks ? s.nextBlock : 0;
    for (uint32_t k = 1; k <= blocks; ++k) {
        build_dir_block(s, b, k, blocks, s.nextBlock);
        if (fio_write_at(fd, offset_of(s.nextBlock), b, kBlockSize) < 0) return -1;
        ++s.nextBlock;
    }
    build_header(s, b, pages, firstDirBlock);
    return fio_write_at(fd, 0, b, kBlockSize);
}

}  // namespace blk
