// Test control of the AWD stand-ins: the call of one entry point, after a
// number of further calls, fails. Each library includes this once and keeps
// its own state (internal linkage, so the viewer and the encoder loaded in
// one process do not share it). Calls from many threads read the armed
// flag alone until a test arms a failure; the rest is under a mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

struct StubFault {
    char entry[32] = {};
    uint32_t after = 0;
};
std::mutex g_faultMutex;
StubFault g_fault;
std::atomic<bool> g_faultArmed{false};

// Arms the failure of entryPoint after afterCalls further calls; an empty
// name disarms.
void stub_fault_arm(const char* entryPoint, uint32_t afterCalls) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_fault = StubFault{};
    g_faultArmed = false;
    if (!entryPoint || !*entryPoint) return;
    std::strncpy(g_fault.entry, entryPoint, sizeof g_fault.entry - 1);
    g_fault.after = afterCalls;
    g_faultArmed = true;
}

// Whether this call of `entry` is the one to fail.
bool fault_hit(const char* entry) {
    if (!g_faultArmed.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    if (!g_faultArmed || std::strcmp(entry, g_fault.entry) != 0) return false;
    if (g_fault.after > 0) {
        --g_fault.after;
        return false;
    }
    g_faultArmed = false;
    return true;
}

}  // namespace
