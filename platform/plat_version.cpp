// The version record. On this platform structured storage (and with it AWD
// support) is present, which the platform identifier 1 says; a test seam
// reports another identifier.
#include "platform/plat_version.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

OsVersionInfo g_osVersion;

namespace {
uint32_t g_platformId = 1;
}

int plat_get_version(OsVersionInfo* info) {
    if (!info || info->size != sizeof(OsVersionInfo)) return 0;
    std::memset(reinterpret_cast<char*>(info) + 4, 0, sizeof(OsVersionInfo) - 4);
    struct utsname u {};
    if (uname(&u) == 0) {
        unsigned major = 0, minor = 0, build = 0;
        std::sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
        info->majorVersion = major;
        info->minorVersion = minor;
        info->buildNumber = build;
        std::snprintf(info->servicePack, sizeof info->servicePack, "%s", u.version);
    }
    info->platformId = g_platformId;
    return 1;
}

void plat_set_platform_id(uint32_t id) { g_platformId = id ? id : 1; }
