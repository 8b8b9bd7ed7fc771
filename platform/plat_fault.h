// Fault injection and step observation at the platform layer.
//
// Tests linked with the static library arm a plan: the nth allocation,
// write, sync, rename, create, unlink or truncate since arming fails (once,
// or that one and every later one of its kind), and every step of each kind
// is counted. An observer, when set, is called after each completed step.
// Nothing here is exported from the shared library and nothing reads the
// environment: only code inside the process can arm it.
//
// Disarmed, each platform call pays one load and one branch that is always
// predicted (plat_fault_hit and plat_step_done below).
#pragma once

#include <atomic>
#include <cstdint>

enum class PlatStep : uint8_t {
    Alloc,     // a memory block taken or grown
    Write,     // bytes into a file, by write or by an in-kernel copy
    Sync,      // a file's or a directory's data made durable
    Rename,    // a rename or a hard link
    Create,    // a new file made
    Unlink,    // a name removed
    Truncate,  // a file's length set
};
constexpr int kPlatStepKinds = 7;

enum class PlatFailure : uint8_t {
    Error,    // nothing done; EIO (an allocation: no memory)
    NoSpace,  // nothing done; ENOSPC
    Short,    // a write: the first half of the bytes written, then ENOSPC;
              // any other step: as NoSpace
};
// (An allocation that fails returns null, whatever the failure.)

struct PlatFaultPlan {
    PlatStep step = PlatStep::Write;
    uint32_t nth = 0;  // from 1; 0 counts steps and fails none
    PlatFailure failure = PlatFailure::Error;
    bool persistent = false;  // every later step of the kind fails too
};

// Starts a plan: all counts start again from 0.
void plat_fault_arm(const PlatFaultPlan& plan);
// Ends the plan and the observer; counts are kept until the next arm.
void plat_fault_disarm();
// Steps of a kind since the last arm.
uint32_t plat_fault_count(PlatStep step);
// Whether the plan has made a step fail since it was armed.
bool plat_fault_fired();

// Lowers the longest file the library writes (plat_max_file_length), so
// that tests reach the limit without writing gigabytes; 0 restores
// kPlatMaxFileLength. Arming and disarming a plan leave it as it is.
void plat_fault_limit_file_length(uint32_t bytes);

// Called after each completed step (bytes: those written or allocated, else
// 0). Setting an observer counts steps as arming does; null removes it.
using PlatStepObserver = void (*)(PlatStep step, uint64_t bytes, void* context);
void plat_fault_observe(PlatStepObserver observer, void* context);

namespace plat_fault_detail {
extern std::atomic<bool> g_active;
bool enter(PlatStep step, PlatFailure* failure);
void completed(PlatStep step, uint64_t bytes);
}  // namespace plat_fault_detail

// For the platform layer: counts a step about to be taken; true when it is
// to fail, *failure then says how.
inline bool plat_fault_hit(PlatStep step, PlatFailure* failure) {
    if (__builtin_expect(!plat_fault_detail::g_active.load(std::memory_order_relaxed), 1))
        return false;
    return plat_fault_detail::enter(step, failure);
}

// For the platform layer: a step has been completed.
inline void plat_step_done(PlatStep step, uint64_t bytes = 0) {
    if (__builtin_expect(plat_fault_detail::g_active.load(std::memory_order_relaxed), 0))
        plat_fault_detail::completed(step, bytes);
}
