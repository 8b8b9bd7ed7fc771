// Reading a page: its record block and chunk lists (xtavgeti), then its
// data, the chunks' data bytes one after the other (xtavread).
//
// Every number a record gives is checked before it is used: a chunk must
// lie inside the blocks in use and hold no more than the chunk size, list
// blocks must follow their record in ascending order (as the writer puts
// them), so no hostile file makes a read leave the file, loop or allocate
// more than its own size warrants.
#include <algorithm>

#include "fileio/fio.h"
#include "formats/block/block_coding.h"
#include "formats/block/block_state.h"
#include "formats/block/block_swap.h"

namespace blk {
namespace {

constexpr uint32_t kResolutionUnitInch = 2;
constexpr uint32_t kByteOrderMM = 0x4D4D;
constexpr uint64_t kMaxPageData = 0x7FFFFFFFu;

int read_block(FctEntry* e, uint32_t block, uint8_t* b) {
    return fio_read_exact_at(int(e->fd), offset_of(block), b, kBlockSize, TAV_E_TRUNCATED);
}

// The record's description into the page information.
int take_record(const RecordStart& r, PageInfo& c) {
    if (!coding_read(r.coding, c)) return fail(TAV_E_COMPRESSION);
    if (r.rotation > kMaxRotationCode) return fail(TAV_E_ROTATION);
    if (r.chunkSize == 0 || r.chunkSize % kBlockSize != 0 || r.chunkSize > kMaxChunkSize)
        return fail(TAV_E_SIZE);
    c.photometric = r.photometric;
    c.stripCount = r.coding;
    c.maxStripSize = r.chunkSize;
    c.xResNum = r.xResolution;
    c.yResNum = r.yResolution;
    c.xResDen = c.yResDen = 1;
    c.resolutionUnit = kResolutionUnitInch;
    c.imageWidth = r.width;
    c.imageLength = r.length;
    c.bitsPerSample[0] = r.bitsPerSample;
    c.samplesPerPixel = 1;
    c.reserved = r.reserved;
    c.rotation = r.rotation * kRotationStep;
    c.mirrored = r.mirrored;
    c.byteOrder = kByteOrderMM;
    c.subfileType = 0;
    return 0;
}

// The chunks of one list (up to the first entry without data bytes), added
// to the page's; *total runs on over the page's data bytes.
int take_chunks(BlockState& s, uint8_t* entries, const ListHead& head, uint32_t room,
                uint32_t chunkSize, uint64_t* total) {
    if (head.capacity > room || head.used > head.capacity) return fail(TAV_E_SIZE);
    swap_strip_entries(entries, head.capacity);
    for (uint32_t i = 0; i < head.capacity; ++i) {
        const auto c = load<ChunkEntry>(entries + i * kChunkEntrySize);
        if (c.dataBytes == 0) break;
        if (c.storedBytes > chunkSize || c.dataBytes > c.storedBytes) return fail(TAV_E_SIZE);
        if (c.firstBlock == 0 || c.firstBlock >= s.nextBlock ||
            blocks_for(c.storedBytes) > s.nextBlock - c.firstBlock)
            return fail(TAV_E_SIZE);
        if (*total + c.dataBytes > kMaxPageData) return fail(TAV_E_SIZE);
        if (!s.readChunks.push_back(ChunkRef{c.firstBlock, c.storedBytes, c.dataBytes, uint32_t(*total)}))
            return -1;
        *total += c.dataBytes;
    }
    return 0;
}

// The page's record block, then its list blocks along their chain.
int read_lists(FctEntry* e, BlockState& s, uint32_t record, PageInfo& c, uint64_t* total) {
    uint8_t* b = s.scratch.get();
    if (read_block(e, record, b) < 0) return -1;
    swap_page_record(b);
    if (take_record(load<RecordStart>(b, kRecordStartSize), c) < 0) return -1;
    swap_page_record_tail(b + kRecordListOffset);
    auto head = load<ListHead>(b + kRecordListOffset);
    if (take_chunks(s, b + kRecordChunks, head, kRecordChunkCapacity, c.maxStripSize, total) < 0) return -1;
    for (uint32_t prev = record, at = head.nextBlock; at != 0; prev = at, at = head.nextBlock) {
        if (at <= prev) return fail(TAV_E_TRUNCATED);
        if (at >= s.nextBlock) return fail(TAV_E_SIZE);
        if (read_block(e, at, b) < 0) return -1;
        swap_page_record_tail(b);
        head = load<ListHead>(b);
        if (take_chunks(s, b + kListBlockChunks, head, kListBlockCapacity, c.maxStripSize, total) < 0)
            return -1;
    }
    return 0;
}

}  // namespace

int page_info(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo&, PageSizes* sizes) {
    BlockState& s = state_of(e);
    s.readChunks.clear();
    const uint32_t record = s.directory[page];
    if (record == 0) return fail(TAV_E_PAGE_RANGE);
    if (record >= s.nextBlock) return fail(TAV_E_SIZE);
    uint64_t total = 0;
    if (read_lists(e, s, record, copy, &total) < 0) {
        s.readChunks.clear();
        return -1;
    }
    sizes->dataBytes = uint32_t(total);
    if (sizes->sizeCapacity != 0 && sizes->sizes) {
        sizes->sizeCount = 1;
        sizes->sizes[0] = uint32_t(total);
    }
    return 0;
}

int page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length, uint32_t* remaining,
              uint32_t page) {
    // By-strip reading names pages here too: only the current one has data.
    if (page != e->curPage) return fail(TAV_E_PAGE);
    const BlockState& s = state_of(e);
    // The chunk whose data holds `start`.
    const ChunkRef* c = std::upper_bound(s.readChunks.begin(), s.readChunks.end(), start,
                                         [](uint32_t pos, const ChunkRef& r) { return pos < r.dataStart; });
    if (c != s.readChunks.begin()) --c;
    uint32_t done = 0;
    for (; c != s.readChunks.end() && done < length; ++c) {
        const uint32_t within = start + done - c->dataStart;
        if (within >= c->dataBytes) continue;
        const uint32_t n = std::min(c->dataBytes - within, length - done);
        if (fio_read_exact_at(int(e->fd), offset_of(c->firstBlock) + within, buffer + done, n,
                              TAV_E_TRUNCATED) < 0)
            return -1;
        done += n;
    }
    *remaining = e->pageDataSize - start - done;
    return int(done);
}

}  // namespace blk
