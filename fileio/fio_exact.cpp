// Whole reads and writes over a descriptor: the loops every reader of a
// file structure needs, written once.
#include <cerrno>

#include "fileio/fio.h"
#include "platform/plat_file.h"

bool fio_length_fits(uint64_t length) {
    if (length <= plat_max_file_length()) return true;
    errno = TAV_E_SEEK;
    return false;
}

int32_t fio_read_full(int fd, void* buf, uint32_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    uint32_t got = 0;
    while (got < n) {
        int32_t r = fio_read(fd, p + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += uint32_t(r);
    }
    return int32_t(got);
}

int32_t fio_read_full_at(int fd, uint32_t pos, void* buf, uint32_t n) {
    if (fio_seek_to(fd, pos) < 0) return -1;
    return fio_read_full(fd, buf, n);
}

int fio_read_exact_at(int fd, uint32_t pos, void* buf, uint32_t n, int shortCode) {
    errno = 0;
    if (pos > kFioMaxOffset) {
        errno = TAV_E_SEEK;
        return -1;
    }
    if (fio_seek_to(fd, pos) < 0) {
        if (errno == 0) errno = shortCode;
        return -1;
    }
    int32_t got = fio_read_full(fd, buf, n);
    if (got < 0) {
        if (errno == 0) errno = shortCode;
        return -1;
    }
    if (uint32_t(got) != n) {
        errno = shortCode;
        return -1;
    }
    return 0;
}

int fio_write_at(int fd, uint32_t pos, const void* buf, uint32_t n) {
    if (pos > kFioMaxOffset) {
        errno = TAV_E_SEEK;
        return -1;
    }
    errno = 0;
    if (fio_lseek(fd, int32_t(pos), kFioSeekSet) != int32_t(pos)) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    if (n == 0) return 0;
    int32_t put = fio_write(fd, buf, n);
    if (put < 0 || uint32_t(put) != n) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    return 0;
}
