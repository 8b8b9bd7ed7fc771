// Run-time loading: outside libraries are looked for beside our own library
// first, so build and installed trees work without environment variables.
#include "platform/plat_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string g_overrideDir;
bool g_override = false;
std::string g_ownDir;

void own_dir_anchor() {}

}  // namespace

const char* plat_own_dir() {
    if (g_ownDir.empty()) {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&own_dir_anchor), &info) && info.dli_fname) {
            std::string p = info.dli_fname;
            if (p.find('/') == std::string::npos) {
                // A statically linked program: dladdr names the program itself.
                char exe[PATH_MAX];
                ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
                if (n > 0) {
                    exe[n] = 0;
                    p = exe;
                }
            }
            size_t slash = p.rfind('/');
            g_ownDir = slash == std::string::npos ? "." : p.substr(0, slash);
        } else {
            g_ownDir = ".";
        }
    }
    return g_ownDir.c_str();
}

namespace {

// dlopen of the library beside this one (or in the test's directory), else
// by the loader's own search.
void* open_beside(const char* soName, int mode) {
    if (g_override) {
        std::string path = g_overrideDir + "/" + soName;
        return dlopen(path.c_str(), mode);
    }
    std::string path = std::string(plat_own_dir()) + "/" + soName;
    void* h = dlopen(path.c_str(), mode);
    if (!h) h = dlopen(soName, mode);
    return h;
}

}  // namespace

void* plat_load_library(const char* soName) { return open_beside(soName, RTLD_NOW | RTLD_LOCAL); }

void* plat_module_loaded(const char* soName) { return open_beside(soName, RTLD_NOW | RTLD_NOLOAD); }

void* plat_symbol(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void plat_free_library(void* module) {
    if (module) dlclose(module);
}

void plat_set_library_dir(const char* dir) {
    g_override = dir != nullptr;
    g_overrideDir = dir ? dir : "";
}
