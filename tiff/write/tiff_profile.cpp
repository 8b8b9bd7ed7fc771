// Finding a linked ICC profile: a name with a directory part is a path; any
// other name is looked for in the system's colour profile directory.
#include <cstring>
#include <string>

#include "platform/plat_file.h"
#include "tiff/write/tiff_writer.h"

namespace {
constexpr char kColorDirectory[] = "/usr/share/color/icc";
constexpr size_t kMaxName = 260;
}  // namespace

int tiff_find_profile(const char* name) {
    if (!name || !*name) return -1;
    size_t len = strnlen(name, kMaxName);
    if (len >= kMaxName) return -1;
    std::string path;
    if (std::memchr(name, '/', len)) {
        path.assign(name, len);
    } else {
        path = kColorDirectory;
        path += '/';
        path.append(name, len);
    }
    int fd = plat_open(path.c_str(), kPlatRead);
    if (fd < 0) return -1;
    if (plat_file_size(fd) <= 0) {
        plat_close(fd);
        return -1;
    }
    return fd;
}
