// The memory table: 1024 blocks, each findable from its address alone,
// taken from the platform layer's memory.
#include "fileio/mem.h"

#include <cerrno>
#include <cstring>

#include "platform/plat_memory.h"
#include "platform/plat_mutex.h"
#include "qvtav.h"

namespace {

struct MemSlot {
    void* address;  // null: free
    uint32_t size;
    uint8_t tag;    // what the owner marked the block as (0: nothing)
};

MemSlot g_table[kMemTableSize];

int find_slot(const void* address) {
    if (!address) return -1;
    for (int i = 0; i < kMemTableSize; ++i)
        if (g_table[i].address == address) return i;
    return -1;
}

}  // namespace

void* mem_calloc(uint32_t count, uint32_t size) {
    NamedLock lock(NamedMutex::MemTable);
    int slot = -1;
    for (int i = 0; i < kMemTableSize; ++i) {
        if (!g_table[i].address) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        errno = TAV_E_MEMTABLE;
        return nullptr;
    }
    // A block of 0 bytes cannot be had, and count x size must not wrap.
    uint64_t bytes = uint64_t(count) * size;
    if (bytes == 0 || bytes > 0xFFFFFFFFu) {
        errno = TAV_ENOMEM;
        return nullptr;
    }
    void* p = plat_alloc(size_t(bytes));
    if (!p) {
        errno = TAV_ENOMEM;
        return nullptr;
    }
    g_table[slot] = {p, uint32_t(bytes), 0};
    return p;
}

void* mem_realloc(void* block, uint32_t newSize) {
    NamedLock lock(NamedMutex::MemTable);
    int slot = find_slot(block);
    if (slot < 0) {
        errno = TAV_E_MEMTABLE;
        return nullptr;
    }
    if (newSize == 0) {
        errno = TAV_ENOMEM;
        return nullptr;
    }
    uint32_t oldSize = g_table[slot].size;
    void* p = plat_realloc(block, newSize);
    if (!p) {
        errno = TAV_ENOMEM;
        return nullptr;
    }
    // Growth reads as zeros, as a zero-initialising resize gives.
    if (newSize > oldSize) std::memset(static_cast<char*>(p) + oldSize, 0, newSize - oldSize);
    g_table[slot].address = p;
    g_table[slot].size = newSize;
    return p;
}

void mem_free(void* block) {
    NamedLock lock(NamedMutex::MemTable);
    int slot = find_slot(block);
    if (slot < 0) {
        errno = TAV_E_MEMTABLE;
        return;
    }
    plat_free(block);
    g_table[slot] = {nullptr, 0, 0};
}

void mem_set_tag(const void* block, uint8_t tag) {
    NamedLock lock(NamedMutex::MemTable);
    int slot = find_slot(block);
    if (slot >= 0) g_table[slot].tag = tag;
}

uint8_t mem_tag(const void* block) {
    NamedLock lock(NamedMutex::MemTable);
    int slot = find_slot(block);
    return slot < 0 ? 0 : g_table[slot].tag;
}

int mem_live_blocks() {
    NamedLock lock(NamedMutex::MemTable);
    int n = 0;
    for (const auto& s : g_table)
        if (s.address) ++n;
    return n;
}
