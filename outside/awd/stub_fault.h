// Test control of the AWD stand-ins: the call of one entry point, after a
// number of further calls, fails. Each library includes this once and keeps
// its own state (internal linkage, so the viewer and the encoder loaded in
// one process do not share it).
#pragma once

#include <cstdint>
#include <cstring>

namespace {

struct StubFault {
    char entry[32] = {};
    uint32_t after = 0;
    bool armed = false;
};
StubFault g_fault;

// Arms the failure of entryPoint after afterCalls further calls; an empty
// name disarms.
void stub_fault_arm(const char* entryPoint, uint32_t afterCalls) {
    g_fault = StubFault{};
    if (!entryPoint || !*entryPoint) return;
    std::strncpy(g_fault.entry, entryPoint, sizeof g_fault.entry - 1);
    g_fault.after = afterCalls;
    g_fault.armed = true;
}

// Whether this call of `entry` is the one to fail.
bool fault_hit(const char* entry) {
    if (!g_fault.armed || std::strcmp(entry, g_fault.entry) != 0) return false;
    if (g_fault.after > 0) {
        --g_fault.after;
        return false;
    }
    g_fault.armed = false;
    return true;
}

}  // namespace
