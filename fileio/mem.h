// The memory table: every block the library keeps, findable by its address.
#pragma once

#include <cstdint>
#include <new>

constexpr int kMemTableSize = 1024;

// Null with errno TAV_E_MEMTABLE (the table is full or the block unknown)
// or TAV_ENOMEM.
void* mem_calloc(uint32_t count, uint32_t size);  // zero-filled
void* mem_realloc(void* block, uint32_t newSize);  // the block kept on failure
void mem_free(void* block);                        // errno TAV_E_MEMTABLE when unknown
int mem_live_blocks();                             // blocks in the table (tests, leak checks)
// A mark the owner of a block gives it, which lives as long as the block:
// whoever holds the address, or a copy of it, can ask what the block is.
void mem_set_tag(const void* block, uint8_t tag);  // nothing for an unknown block
uint8_t mem_tag(const void* block);                // 0 for an unknown or unmarked block

// Owns one memory-table block for a scope.
template <typename T = uint8_t>
class MemBlock {
public:
    MemBlock() = default;
    explicit MemBlock(T* p) : p_(p) {}
    MemBlock(uint32_t count, uint32_t size) : p_(static_cast<T*>(mem_calloc(count, size))) {}
    ~MemBlock() { reset(); }
    MemBlock(const MemBlock&) = delete;
    MemBlock& operator=(const MemBlock&) = delete;
    MemBlock(MemBlock&& o) noexcept : p_(o.release()) {}
    MemBlock& operator=(MemBlock&& o) noexcept {
        if (this != &o) { reset(); p_ = o.release(); }
        return *this;
    }
    T* get() const { return p_; }
    T* release() { T* p = p_; p_ = nullptr; return p; }
    void reset(T* p = nullptr) {
        if (p_) mem_free(p_);
        p_ = p;
    }
    explicit operator bool() const { return p_ != nullptr; }
    T& operator[](uint32_t i) const { return p_[i]; }

private:
    T* p_ = nullptr;
};

// A record of type T in a zero-filled memory-table block, value-initialised;
// null with errno when the table or the heap is full.
template <typename T>
T* mem_new() {
    void* p = mem_calloc(1, sizeof(T));
    return p ? new (p) T{} : nullptr;
}

// Ends a record made by mem_new and frees its block.
template <typename T>
void mem_delete(T* p) {
    if (!p) return;
    p->~T();
    mem_free(p);
}

// Frees a block held in a field and clears the field.
template <typename T>
inline void mem_free_field(T*& field) {
    if (field) {
        mem_free(field);
        field = nullptr;
    }
}
