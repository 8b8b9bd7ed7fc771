// Memory blocks of the platform layer (the global memory service): every
// block the library takes comes from here, so a test can make any one of
// them fail (plat_fault.h).
#pragma once

#include <cstddef>

// A zero-filled block of bytes (at least 1); null when none can be had.
void* plat_alloc(size_t bytes);
// Grows or shrinks a block of plat_alloc, keeping its bytes; null when that
// cannot be done, the block then being left as it was.
void* plat_realloc(void* block, size_t bytes);
void plat_free(void* block);

// The processor's cache line: data that different threads change often
// (per-thread table rows, mutexes taken by different threads) is laid out
// a line apart, so one thread's writes do not slow down another's reads.
constexpr size_t kPlatCacheLine = 64;
