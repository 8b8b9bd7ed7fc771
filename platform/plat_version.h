// The operating system's version record.
#pragma once

#include <cstdint>

struct OsVersionInfo {  // 148 bytes, as the platform's version record
    uint32_t size;
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t buildNumber;
    uint32_t platformId;
    char servicePack[128];
};
static_assert(sizeof(OsVersionInfo) == 148);

int plat_get_version(OsVersionInfo* info);  // 1 on success
// The record as read at process attach (zeros when it could not be read).
extern OsVersionInfo g_osVersion;
// Test seam: the platform identifier reported from now on (0 restores 1).
void plat_set_platform_id(uint32_t id);
