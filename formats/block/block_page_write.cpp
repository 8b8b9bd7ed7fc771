// Writing a page: xtavputi settles the chunk size, xtavwrite stores the data
// in whole chunks at the end of the file, and the page's last call writes
// its record block and list blocks behind them and lists the page in the
// directory (which reaches the disk at close).
//
// Behaviour:
//  - The chunk size must be a positive multiple of 4096 of at most 16 MiB
//    (a reader refuses anything else); width, length, resolutions, bits per
//    sample and the reserved word are 16-bit fields, larger values are
//    refused (TAV_E_SIZE), and so is a page beyond the 65535 the page count holds.
//    The resolution is stored as the numerator, a whole number per inch.
//  - Every call's remainder becomes a chunk of its own, padded with zeros:
//    its entry records the bytes it holds, so a page written in small calls
//    reads back whole.
//  - xtavputi while a page's data is under way starts that page afresh: the
//    chunks written for it are left unused.
//  - A call whose chunks would leave no room within the length limit for
//    the page's record and list blocks and the directory blocks close
//    writes is refused before any byte is written (TAV_E_SEEK). Such a refusal, or
//    a failed write, leaves the page broken: it takes no more data, and
//    close drops it with its blocks (the file is cut behind the pages
//    before it) and fails with that code.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>

#include "fileio/fio.h"
#include "formats/block/block_coding.h"
#include "formats/block/block_state.h"
#include "formats/block/block_swap.h"
#include "frame/format.h"

namespace blk {
namespace {

constexpr uint32_t kDefaultChunkSize = 8192;
constexpr uint32_t kRotations[] = {0, 90, 180, 270};

// The chunk size of a new page, into the record's maxStripSize.
int settle_chunk_size(PageInfo* info, const PutOptions* options) {
    if (!options) {
        if (info->maxStripSize == 0) info->maxStripSize = kDefaultChunkSize;
    } else {
        // The caller announced the kind of data it will deliver: that
        // type's row says how it sizes the chunks.
        const FormatOps* kind = format_announced(info->fileType);
        if (!kind) return fail(TAV_E_NOT_SUPPORTED);
        if (kind->data_chunks(info, *options, kDefaultChunkSize) < 0) return -1;
    }
    const uint32_t size = info->maxStripSize;
    if (size == 0 || size % kBlockSize != 0 || size > kMaxChunkSize) return fail(TAV_E_SIZE);
    return 0;
}

bool fits_16_bits(const PageInfo& i) {
    for (uint32_t v : {i.imageWidth, i.imageLength, i.xResNum, i.yResNum, i.bitsPerSample[0], i.reserved})
        if (v > kMaxField16) return false;
    return true;
}

// The record of the page whose first data has come.
int start_page(FctEntry* e, BlockState& s) {
    const PageInfo& i = e->pageInfo;
    const int coding = coding_for(i);
    if (coding < 0) return fail(TAV_E_COMPRESSION);
    const auto* rot = std::find(std::begin(kRotations), std::end(kRotations), i.rotation);
    if (rot == std::end(kRotations)) return fail(TAV_E_ROTATION);
    s.record = RecordStart{kPhotometricWritten,
                           uint16_t(coding),
                           s.chunkSize,
                           uint16_t(i.xResNum),
                           uint16_t(i.yResNum),
                           uint16_t(i.imageWidth),
                           uint16_t(i.imageLength),
                           uint16_t(i.bitsPerSample[0]),
                           uint16_t(i.reserved),
                           uint16_t(rot - std::begin(kRotations)),
                           uint16_t(i.mirrored != 0),
                           0};
    s.writeChunks.clear();
    s.pageFirstBlock = s.nextBlock;
    e->editFlags |= kEditPageUnderWay;
    return 0;
}

// Room within the length limit for `chunks` more chunks of the page and
// what follows them: the page's record and list blocks, and the directory
// blocks close writes. 0, or -1 with TAV_E_SEEK.
int check_room(const BlockState& s, uint32_t chunks) {
    const uint64_t all = uint64_t(s.writeChunks.size()) + chunks;
    const uint64_t blocks = uint64_t(s.nextBlock) + uint64_t(chunks) * (s.chunkSize / kBlockSize) + 1 +
                            list_blocks_for(uint32_t(std::min<uint64_t>(all, UINT32_MAX))) +
                            dir_blocks_for(s.directory.size() + 1);
    return fio_length_fits(blocks * kBlockSize) ? 0 : -1;
}

// The page cannot be finished: errno, its code (5 when none is set), is
// kept for the calls that follow. Returns -1.
int break_page(BlockState& s) {
    if (errno == 0) errno = TAV_EIO;
    s.pageBroken = errno;
    return -1;
}

// One chunk at the end of the file, holding dataBytes of page data.
int write_chunk(FctEntry* e, BlockState& s, const uint8_t* bytes, uint32_t dataBytes) {
    const uint32_t blocks = s.chunkSize / kBlockSize;
    if (blocks > kMaxBlocks - s.nextBlock) return fail(TAV_E_SEEK);
    if (fio_write_at(int(e->fd), offset_of(s.nextBlock), bytes, s.chunkSize) < 0) return -1;
    if (!s.writeChunks.push_back(ChunkRef{s.nextBlock, s.chunkSize, dataBytes, 0})) return -1;
    s.nextBlock += blocks;
    return 0;
}

// Chunk entries, converted for the disk.
void store_chunks(uint8_t* at, std::span<const ChunkRef> chunks, uint16_t coding) {
    for (size_t i = 0; i < chunks.size(); ++i) {
        const ChunkRef& c = chunks[i];
        store(at + i * kChunkEntrySize, ChunkEntry{c.firstBlock, c.storedBytes, c.dataBytes, 0, coding, 0, 0, 0});
    }
    swap_strip_entries(at, int(chunks.size()));
}

// The record block at `at`, with the first chunk list; next: the first
// list block, or 0.
void build_record(const BlockState& s, uint8_t* b, std::span<const ChunkRef> chunks, uint32_t next) {
    std::memset(b, 0, kBlockSize);
    store(b, s.record, kRecordStartSize);
    swap_page_record(b);
    store(b + kRecordListOffset,
          ListHead{uint16_t(chunks.size()), uint16_t(kRecordChunkCapacity), 0, next, 0, 0});
    swap_page_record_tail(b + kRecordListOffset);
    store_chunks(b + kRecordChunks, chunks, s.record.coding);
}

void build_list_block(const BlockState& s, uint8_t* b, std::span<const ChunkRef> chunks, uint32_t prev,
                      uint32_t next) {
    std::memset(b, 0, kBlockSize);
    store(b, ListHead{uint16_t(chunks.size()), uint16_t(kListBlockCapacity), prev, next, 0, 0});
    swap_page_record_tail(b);
    store_chunks(b + kListBlockChunks, chunks, s.record.coding);
}

// The page's record block and its list blocks, one after the other at the
// end of the file; then the page joins the directory.
int finish_page(FctEntry* e, BlockState& s) {
    std::span<const ChunkRef> chunks(s.writeChunks.begin(), s.writeChunks.end());
    const size_t inRecord = std::min<size_t>(chunks.size(), kRecordChunkCapacity);
    const uint32_t lists = list_blocks_for(uint32_t(chunks.size()));
    const uint32_t record = s.nextBlock;
    if (1 + lists > kMaxBlocks - record) return fail(TAV_E_SEEK);
    if (!s.directory.reserve(s.directory.size() + 1)) return -1;

    uint8_t* b = s.scratch.get();
    const int fd = int(e->fd);
    build_record(s, b, chunks.first(inRecord), lists ? record + 1 : 0);
    if (fio_write_at(fd, offset_of(record), b, kBlockSize) < 0) return -1;
    chunks = chunks.subspan(inRecord);
    for (uint32_t k = 1; k <= lists; ++k) {
        const uint32_t at = record + k;
        const size_t n = std::min<size_t>(chunks.size(), kListBlockCapacity);
        build_list_block(s, b, chunks.first(n), at - 1, k < lists ? at + 1 : 0);
        if (fio_write_at(fd, offset_of(at), b, kBlockSize) < 0) return -1;
        chunks = chunks.subspan(n);
    }
    s.nextBlock = record + 1 + lists;
    s.directory.push_back(record);
    e->pageCount = uint16_t(s.directory.size());
    s.flushPending = true;
    // Complete: data for the next page needs its information first.
    e->editFlags = kEditPageComplete;
    return 0;
}

}  // namespace

int data_strips(PageInfo* info, const PutOptions& options) {
    // Block file pages are bilevel; the options lay out the strips, one
    // strip of the whole page without them.
    info->samplesPerPixel = 1;
    info->bitsPerSample[0] = 1;
    if (options.strips) {
        info->stripCount = options.strips;
        info->rowsPerStrip = options.rows;
    } else {
        info->stripCount = 1;
        info->rowsPerStrip = info->imageLength;
    }
    return 0;
}

int data_chunks(PageInfo* info, const PutOptions& options, uint32_t) {
    // Block file pages arrive in chunks of the options' buffer size, else of
    // the record's maxStripSize.
    if (options.bufferSize != 0) info->maxStripSize = options.bufferSize;
    return 0;
}

int put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options) {
    BlockState& s = state_of(e);
    if (settle_chunk_size(info, options) < 0) return -1;
    if (!fits_16_bits(*info) || s.directory.size() >= kMaxField16) return fail(TAV_E_SIZE);
    s.chunkBuffer.reset();  // the previous page's, before the new one is taken
    s.chunkBuffer.reset(static_cast<uint8_t*>(mem_calloc(info->maxStripSize, 1)));
    if (!s.chunkBuffer) return -1;
    s.chunkSize = info->maxStripSize;
    // A page under way starts afresh; the page xtavgeti made current is
    // current no longer.
    e->editFlags = 0;
    s.pageBroken = 0;
    s.writeChunks.clear();
    s.readChunks.clear();
    e->pageDataSize = 0;
    e->curPage = page;
    return 0;
}

int32_t page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    BlockState& s = state_of(e);
    if (page != s.directory.size()) return fail(TAV_E_PAGE);
    if (s.pageBroken) return fail(s.pageBroken);
    if (!(e->editFlags & kEditPageUnderWay) && start_page(e, s) < 0) return -1;
    errno = 0;
    if (check_room(s, (count + s.chunkSize - 1) / s.chunkSize) < 0) return break_page(s);
    std::span<const uint8_t> data(static_cast<const uint8_t*>(buffer), count);
    for (; data.size() >= s.chunkSize; data = data.subspan(s.chunkSize))
        if (write_chunk(e, s, data.data(), s.chunkSize) < 0) return break_page(s);
    if (!data.empty()) {
        uint8_t* pad = s.chunkBuffer.get();
        std::memcpy(pad, data.data(), data.size());
        std::memset(pad + data.size(), 0, s.chunkSize - data.size());
        if (write_chunk(e, s, pad, uint32_t(data.size())) < 0) return break_page(s);
    }
    if ((flag & kWriteLastData) && finish_page(e, s) < 0) return break_page(s);
    return int32_t(count);
}

int image_length(FctEntry* e, uint32_t rows) {
    if (rows > kMaxField16) return fail(TAV_E_SIZE);
    e->pageInfo.imageLength = rows;
    if (e->editFlags & kEditPageUnderWay) state_of(e).record.length = uint16_t(rows);
    return 0;
}

}  // namespace blk
