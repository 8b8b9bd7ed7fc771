// The block file on disk. The file is a run of 4096-byte blocks, block n at
// offset n x 4096; every multi-byte field is big-endian. Block 0 holds the
// header, the first part of the page directory and an allocation bitmap;
// each page has a record block that lists the chunks (runs of whole
// blocks) holding its stored data, continued in list blocks when it has
// more chunks than the record has room for.
//
// The records below are the fields in machine order. A block is read as
// bytes, converted in place with the byte-order templates of fileio/ and
// copied out (load); a block is written by copying records in (store) and
// converting the bytes in place before the write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace blk {

constexpr uint32_t kBlockSize = 4096;
// Files end at or below 2^31 - 1 bytes: the whole blocks a file can have.
constexpr uint32_t kMaxBlocks = 0x7FFFFFFFu / kBlockSize;
// The largest chunk a page may use (it sizes the writer's chunk buffer).
constexpr uint32_t kMaxChunkSize = 16u << 20;
// Pages, and page geometry and resolution, are 16-bit fields.
constexpr uint32_t kMaxField16 = 0xFFFF;

// ---- the header block (block 0) ----

constexpr uint16_t kMagic = 0x8045;
// The fixed words behind the magic, as every block file carries them.
constexpr uint16_t kHeaderWord1 = 1, kHeaderWord2 = 0, kHeaderWord3 = 4;

struct HeaderStart {  // at 0, 16 bytes
    uint16_t magic;
    uint16_t word1;
    uint16_t word2;
    uint16_t word3;
    uint16_t pageCount;
    uint16_t zero;
    uint32_t lastBlock;  // blocks in use minus 1
};
constexpr uint32_t kHeaderStartSize = 16;
static_assert(sizeof(HeaderStart) == kHeaderStartSize);

// The allocation bitmap: one bit per block, the most significant bit of
// its first byte for block 0; 0 in use, 1 free. It covers the first 16384
// blocks (64 MiB); blocks beyond are in use by construction.
constexpr uint32_t kBitmapOffset = 2048;
constexpr uint32_t kBitmapBytes = 2048;
constexpr uint32_t kBitmapBlocks = kBitmapBytes * 8;

// ---- the page directory ----
// Page p (from 0) is listed in the header when p < 127, else in
// continuation block (p - 127) / 511 + 1 along the chain, at entry
// (p - 127) % 511.

struct DirHead {
    uint16_t used;
    uint16_t capacity;
    uint32_t nextBlock;  // the next continuation block; 0: none
};
constexpr uint32_t kDirHeadSize = 8;
static_assert(sizeof(DirHead) == kDirHeadSize);

struct DirEntry {
    uint32_t recordBlock;
    uint32_t zero;
};
constexpr uint32_t kDirEntrySize = 8;
static_assert(sizeof(DirEntry) == kDirEntrySize);

constexpr uint32_t kHeaderDirOffset = 1024;
constexpr uint32_t kHeaderDirEntries = kHeaderDirOffset + kDirHeadSize;
constexpr uint32_t kHeaderDirCapacity = 127;
constexpr uint32_t kDirBlockEntries = kDirHeadSize;
constexpr uint32_t kDirBlockCapacity = 511;
static_assert(kHeaderDirEntries + kHeaderDirCapacity * kDirEntrySize <= kBitmapOffset);
static_assert(kDirBlockEntries + kDirBlockCapacity * kDirEntrySize <= kBlockSize);

// ---- the page record block ----

// The page's description, at 0 (26 bytes on disk).
struct RecordStart {
    uint16_t photometric;  // 1 when written
    uint16_t coding;       // the coding code
    uint32_t chunkSize;
    uint16_t xResolution;  // pixels per inch
    uint16_t yResolution;
    uint16_t width;
    uint16_t length;
    uint16_t bitsPerSample;
    uint16_t reserved;
    uint16_t rotation;  // 0 to 3: 0, 90, 180, 270 degrees
    uint16_t mirrored;
    uint16_t zero;
};
constexpr uint32_t kRecordStartSize = 26;
static_assert(offsetof(RecordStart, zero) + sizeof(uint16_t) == kRecordStartSize);
constexpr uint16_t kPhotometricWritten = 1;
constexpr uint32_t kRotationStep = 90;  // degrees per rotation code
constexpr uint16_t kMaxRotationCode = 3;

// The head of a chunk list: in the record block at 2048, in a list
// continuation block at 0.
struct ListHead {
    uint16_t used;
    uint16_t capacity;
    uint32_t prevBlock;  // the list block before this one (0 in the record)
    uint32_t nextBlock;  // the next list block; 0: none
    uint16_t zero1;
    uint16_t zero2;
};
constexpr uint32_t kListHeadSize = 16;
static_assert(sizeof(ListHead) == kListHeadSize);

struct ChunkEntry {
    uint32_t firstBlock;
    uint32_t storedBytes;  // the chunk size: the chunk takes storedBytes / 4096 blocks
    uint32_t dataBytes;    // page data held; less than stored only in a call's last chunk
    uint16_t zero1;
    uint16_t coding;
    uint16_t zero2;
    uint16_t zero3;
    uint32_t link;  // readers ignore it; written 0
};
constexpr uint32_t kChunkEntrySize = 24;
static_assert(sizeof(ChunkEntry) == kChunkEntrySize);

constexpr uint32_t kRecordListOffset = 2048;
constexpr uint32_t kRecordChunks = kRecordListOffset + kListHeadSize;
constexpr uint32_t kRecordChunkCapacity = 84;
constexpr uint32_t kListBlockChunks = kListHeadSize;
constexpr uint32_t kListBlockCapacity = 168;
static_assert(kRecordChunks + kRecordChunkCapacity * kChunkEntrySize <= kBlockSize);
static_assert(kListBlockChunks + kListBlockCapacity * kChunkEntrySize <= kBlockSize);

// ---- records in and out of a block's bytes ----

template <typename T>
T load(const uint8_t* at, size_t size = sizeof(T)) {
    T v{};
    std::memcpy(&v, at, size);
    return v;
}

template <typename T>
void store(uint8_t* at, const T& v, size_t size = sizeof(T)) {
    std::memcpy(at, &v, size);
}

// Blocks that n bytes take.
constexpr uint32_t blocks_for(uint32_t bytes) { return (bytes + kBlockSize - 1) / kBlockSize; }

// The file offset of a block (every block number in use is below kMaxBlocks).
constexpr uint32_t offset_of(uint32_t block) { return block * kBlockSize; }

// Continuation directory blocks that a number of pages needs.
constexpr uint32_t dir_blocks_for(uint32_t pages) {
    if (pages <= kHeaderDirCapacity) return 0;
    return (pages - kHeaderDirCapacity + kDirBlockCapacity - 1) / kDirBlockCapacity;
}

// Chunk-list blocks behind a page's record block for a number of chunks.
constexpr uint32_t list_blocks_for(uint32_t chunks) {
    if (chunks <= kRecordChunkCapacity) return 0;
    return (chunks - kRecordChunkCapacity + kListBlockCapacity - 1) / kListBlockCapacity;
}

}  // namespace blk
