// Process-wide state set up at process attach.
#pragma once

#include "platform/plat_version.h"

extern OsVersionInfo g_osVersion;
extern void* g_awdViewerLib;   // libawview32.so, loaded on first use
extern void* g_awdEncoderLib;  // libawdenc32.so
extern void* g_xiffLib;        // libxiffr3_0.so

// AWD documents are supported when the platform identifier is 1.
bool awd_supported();
// Unloads the AWD libraries (process detach; thread detach in the shell).
void awd_unload_libraries();
