// Platform memory over the C heap.
#include "platform/plat_memory.h"

#include <cstdlib>

#include "platform/plat_fault.h"

void* plat_alloc(size_t bytes) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Alloc, &failure)) return nullptr;
    void* p = std::calloc(1, bytes ? bytes : 1);
    if (p) plat_step_done(PlatStep::Alloc, bytes);
    return p;
}

void* plat_realloc(void* block, size_t bytes) {
    PlatFailure failure;
    if (plat_fault_hit(PlatStep::Alloc, &failure)) return nullptr;
    void* p = std::realloc(block, bytes ? bytes : 1);
    if (p) plat_step_done(PlatStep::Alloc, bytes);
    return p;
}

void plat_free(void* block) { std::free(block); }
