// Run-time loading: outside libraries are looked for beside our own library
// first, so build and installed trees work without environment variables.
// The library's own directory is found once; the test seam's directory is
// read and set under a mutex.
#include "platform/plat_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

std::mutex g_overrideMutex;
std::optional<std::string> g_overrideDir;  // set by the test seam

void own_dir_anchor() {}

std::string find_own_dir() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&own_dir_anchor), &info) || !info.dli_fname) return ".";
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
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

std::optional<std::string> override_dir() {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    return g_overrideDir;
}

}  // namespace

const char* plat_own_dir() {
    static const std::string dir = find_own_dir();
    return dir.c_str();
}

namespace {

// dlopen of the library beside this one (or in the test's directory), else
// by the loader's own search.
void* open_beside(const char* soName, int mode) {
    if (std::optional<std::string> dir = override_dir()) {
        std::string path = *dir + "/" + soName;
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
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    if (dir)
        g_overrideDir = dir;
    else
        g_overrideDir.reset();
}
