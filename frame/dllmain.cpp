// Library start-up and shutdown. An ELF constructor and destructor call
// DllMain with the process attach and detach reasons.
#include <cstring>

#include "fileio/fio.h"
#include "frame/startup.h"
#include "platform/plat_loader.h"
#include "platform/plat_mutex.h"
#include "platform/plat_proc.h"
#include "qvtav.h"

OsVersionInfo g_osVersion;
void* g_awdViewerLib = nullptr;
void* g_awdEncoderLib = nullptr;
void* g_xiffLib = nullptr;

namespace {
constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;
constexpr uint32_t kThreadAttach = 2;
constexpr uint32_t kThreadDetach = 3;
}  // namespace

bool awd_supported() { return g_osVersion.platformId == 1; }

void awd_unload_libraries() {
    if (g_awdViewerLib) {
        plat_free_library(g_awdViewerLib);
        g_awdViewerLib = nullptr;
    }
    if (g_awdEncoderLib) {
        plat_free_library(g_awdEncoderLib);
        g_awdEncoderLib = nullptr;
    }
}

namespace {

void unload_and_drop_cache() {
    awd_unload_libraries();
    fio_drop_cached_copy();
}

}  // namespace

extern "C" QVTAV_EXPORT int QVTAV_CALL DllMain(void* /*instance*/, uint32_t reason, void* /*reserved*/) {
    switch (reason) {
    case kProcessAttach:
        g_osVersion.size = sizeof(OsVersionInfo);
        if (!plat_get_version(&g_osVersion)) std::memset(&g_osVersion, 0, sizeof g_osVersion);
        g_awdViewerLib = nullptr;
        g_awdEncoderLib = nullptr;
        g_xiffLib = nullptr;
        plat_mutexes_create();
        return 1;
    case kThreadAttach:
        return 1;
    case kThreadDetach: {
        // Inside the system shell every thread end also unloads the AWD
        // libraries and drops the cached local copy.
        char name[261];
        plat_main_module_name(name, sizeof name);
        if (std::strstr(name, "EXPLORER.EXE")) unload_and_drop_cache();
        return 1;
    }
    case kProcessDetach:
        plat_mutexes_close();
        unload_and_drop_cache();
        return 1;
    default:
        return 1;
    }
}

namespace {
__attribute__((constructor)) void qvtav_process_attach() { DllMain(nullptr, kProcessAttach, nullptr); }
__attribute__((destructor)) void qvtav_process_detach() { DllMain(nullptr, kProcessDetach, nullptr); }
}  // namespace
