// Finding a linked ICC profile through the platform's colour directory.
#include "formats/common/format_profile.h"

#include "platform/plat_file.h"

int format_find_profile(const char* name) {
    if (!name) return -1;
    int fd = plat_open_color_profile(name);
    if (fd < 0) return -1;
    if (plat_file_size(fd) <= 0) {
        plat_close(fd);
        return -1;
    }
    return fd;
}
