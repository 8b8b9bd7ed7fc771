// A block file handle's own state, and the module's operations shared
// between its files.
#pragma once

#include <cerrno>
#include <cstdint>
#include <type_traits>

#include "fileio/mem.h"
#include "formats/block/block_layout.h"
#include "frame/fct.h"
#include "qvtav.h"

namespace blk {

// A growing array of plain records in one memory-table block (a handle's
// directory or a page's chunks can run to many thousand entries, and the
// memory table holds 1024 blocks for the whole process).
template <typename T>
class BlockArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    BlockArray() = default;
    ~BlockArray() { mem_free_field(items_); }
    BlockArray(const BlockArray&) = delete;
    BlockArray& operator=(const BlockArray&) = delete;

    uint32_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](uint32_t i) { return items_[i]; }
    const T& operator[](uint32_t i) const { return items_[i]; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + size_; }
    void clear() { size_ = 0; }
    void pop_back() { --size_; }

    // Room for n entries; false with errno when there is no memory.
    bool reserve(uint32_t n) {
        if (n <= capacity_) return true;
        uint64_t want = capacity_ ? uint64_t(capacity_) * 2 : kFirstCapacity;
        if (want < n) want = n;
        if (want * sizeof(T) > kMaxBytes) {
            errno = TAV_ENOMEM;
            return false;
        }
        auto bytes = uint32_t(want * sizeof(T));
        void* p = items_ ? mem_realloc(items_, bytes) : mem_calloc(1, bytes);
        if (!p) return false;
        items_ = static_cast<T*>(p);
        capacity_ = uint32_t(want);
        return true;
    }
    bool push_back(const T& v) {
        if (!reserve(size_ + 1)) return false;
        items_[size_++] = v;
        return true;
    }
    // n entries, those added zero-filled.
    bool resize(uint32_t n) {
        if (!reserve(n)) return false;
        for (uint32_t i = size_; i < n; ++i) items_[i] = T{};
        size_ = n;
        return true;
    }

private:
    static constexpr uint32_t kFirstCapacity = 64;
    static constexpr uint64_t kMaxBytes = 0x7FFFFFFFu;
    T* items_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};

// One chunk of a page's data.
struct ChunkRef {
    uint32_t firstBlock;
    uint32_t storedBytes;
    uint32_t dataBytes;
    uint32_t dataStart;  // where the chunk's data starts within the page's data
};

struct BlockState {
    // The record block of every page (0: the file lists none).
    BlockArray<uint32_t> directory;
    // The block the next write takes: every block below it is in use.
    uint32_t nextBlock = 0;
    // The header and directory must be written back at close.
    bool flushPending = false;
    // One block, read or built within a call.
    MemBlock<uint8_t> scratch;

    // The chunks of the page xtavgeti made current.
    BlockArray<ChunkRef> readChunks;

    // The page being written: its record (filled at its first data), its
    // chunks, its chunk size and the buffer a call's remainder is padded in.
    RecordStart record{};
    BlockArray<ChunkRef> writeChunks;
    uint32_t chunkSize = 0;
    MemBlock<uint8_t> chunkBuffer;
    // Its first block, and the code of a write of its data that failed or
    // was refused at the length limit (0 while all is well): such a page
    // takes no more data, and close drops it with its blocks.
    uint32_t pageFirstBlock = 0;
    int pageBroken = 0;
};

inline BlockState& state_of(FctEntry* e) { return format_state<BlockState>(e); }

inline int fail(int code) {
    errno = code;
    return -1;
}

// The header and the page directory (block_directory.cpp).
int read_directory(FctEntry* e, BlockState& s);
int write_directory(FctEntry* e, BlockState& s);

// Pages (block_page_read.cpp, block_page_write.cpp).
int page_info(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo&, PageSizes* sizes);
int page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length, uint32_t* remaining,
              uint32_t page);
int put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options);
int32_t page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag);
int image_length(FctEntry* e, uint32_t rows);
// Block file data announced to another type's writer.
int data_strips(PageInfo* info, const PutOptions& options);
int data_chunks(PageInfo* info, const PutOptions& options, uint32_t defaultChunk);

}  // namespace blk
