// Allocation of the storage engine: every block comes from the platform's
// memory service, so the fault seam can refuse any of them. A refused block
// throws std::bad_alloc, which each engine entry point turns into
// STG_E_INSUFFICIENTMEMORY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "platform/plat_memory.h"

template <class T>
struct PlatAllocator {
    using value_type = T;
    PlatAllocator() noexcept = default;
    template <class U>
    PlatAllocator(const PlatAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void* p = plat_alloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { plat_free(p); }
    template <class U>
    bool operator==(const PlatAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using StgVector = std::vector<T, PlatAllocator<T>>;
template <class T>
using StgSet = std::set<T, std::less<T>, PlatAllocator<T>>;

// An object in a platform block; null when none can be had (the
// constructor must not throw).
template <class T, class... Args>
T* stg_new(Args&&... args) {
    void* p = plat_alloc(sizeof(T));
    return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void stg_delete(T* object) {
    if (!object) return;
    object->~T();
    plat_free(object);
}
