// Library start-up and shutdown. An ELF constructor and destructor call
// DllMain with the process attach and detach reasons.
#include <cstring>

#include "fileio/fio.h"
#include "frame/format.h"
#include "platform/plat_loader.h"
#include "platform/plat_mutex.h"
#include "platform/plat_proc.h"
#include "platform/plat_version.h"
#include "qvtav.h"

namespace {
constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;
constexpr uint32_t kThreadAttach = 2;
constexpr uint32_t kThreadDetach = 3;
}  // namespace

namespace {

void unload_and_drop_cache() {
    format_unload_all();
    fio_drop_cached_copy();
}

}  // namespace

extern "C" QVTAV_EXPORT int QVTAV_CALL DllMain(void* /*instance*/, uint32_t reason, void* /*reserved*/) {
    switch (reason) {
    case kProcessAttach:
        g_osVersion.size = sizeof(OsVersionInfo);
        if (!plat_get_version(&g_osVersion)) std::memset(&g_osVersion, 0, sizeof g_osVersion);
        plat_mutexes_create();
        return 1;
    case kThreadAttach:
        return 1;
    case kThreadDetach: {
        // Inside the system shell every thread end also unloads the
        // formats' outside libraries and drops the cached local copy.
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
