// The AWD test. Until the compound-file engine exists it answers from the
// file itself: a missing path gives STG_E_FILENOTFOUND, an unreadable one
// STG_E_ACCESSDENIED, any readable file is not an AWD document.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "frame/ops.h"

uint32_t awd_is_awd_file(const char* path, uint32_t* isAwd) {
    if (isAwd) *isAwd = 0;
    if (!path) return TAV_STG_E_INVALIDPOINTER;
    int saved = errno;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        uint32_t status = (errno == ENOENT || errno == ENOTDIR) ? TAV_STG_E_FILENOTFOUND
                                                               : TAV_STG_E_ACCESSDENIED;
        errno = saved;
        return status;
    }
    close(fd);
    errno = saved;
    return 0;
}
