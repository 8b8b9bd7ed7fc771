// Process information.
#pragma once

#include <cstdint>

uint32_t plat_process_id();
uint32_t plat_tick_count();  // milliseconds of CLOCK_MONOTONIC
// Path of the main module (/proc/self/exe) into buf; length, or 0.
uint32_t plat_main_module_name(char* buf, uint32_t size);
