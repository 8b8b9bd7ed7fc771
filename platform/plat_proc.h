// Process information.
#pragma once

#include <cstdint>

uint32_t plat_process_id();
uint32_t plat_tick_count();  // milliseconds of CLOCK_MONOTONIC
// Test seam: every tick count is `tick` from now on (0: the clock again),
// so that names made from it can be foreseen.
void plat_fix_tick_count(uint32_t tick);
// The local wall-clock time (UTC shifted by the local offset) as 100-ns
// units since 1601-01-01, the platform's file time of its local time.
uint64_t plat_local_filetime();
// Path of the main module (/proc/self/exe) into buf; length, or 0.
uint32_t plat_main_module_name(char* buf, uint32_t size);
