// Weak fallbacks so the library links while the file layer is being built;
// the file layer's own definitions replace them.
#include <cerrno>

#include "fileio/fio.h"

__attribute__((weak)) void fio_remote_close_result(FileLocation*, int32_t) {}
__attribute__((weak)) void fio_drop_cached_copy() {}
__attribute__((weak)) int fio_copy(FileLocation*, const char*, FileLocation*, char*, uint32_t) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}
__attribute__((weak)) int fio_replace(FileLocation*, const char*, FileLocation*, const char*) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}
__attribute__((weak)) int32_t fio_write(int, const void*, uint32_t) {
    errno = TAV_EBADF;
    return -1;
}
