// Path parts. Both '/' and '\' separate path components (callers may hand
// over Windows-style paths); a separator the library adds is '/'.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/fio_internal.h"
#include "platform/plat_file.h"

bool is_path_separator(char c) { return c == '/' || c == '\\'; }

const char* path_name_part(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (is_path_separator(*p)) name = p + 1;
    return name;
}

int dir_of_path(char* buffer, uint32_t size, const char* path) {
    const char* name = path_name_part(path);
    if (name == path) {
        errno = TAV_EINVAL;
        return -1;
    }
    size_t n = size_t(name - 1 - path);
    if (n == 0) n = 1;  // the root directory keeps its separator
    if (n + 1 > size) {
        errno = TAV_EINVAL;
        return -1;
    }
    std::memcpy(buffer, path, n);
    buffer[n] = 0;
    return 0;
}

bool fio_star_beside(const char* path, char* out) {
    fio_star_dir(path, out);
    size_t n = std::strlen(out);
    bool sep = n > 0 && is_path_separator(out[n - 1]);
    if (n + (sep ? 0 : 1) + 2 > TAV_PATH_SIZE) {
        errno = TAV_EINVAL;
        return false;
    }
    if (n > 0 && !sep) out[n++] = '/';
    out[n++] = '*';
    out[n] = 0;
    return true;
}

bool fio_star_in_tempdir(char* out) {
    // The temporary directory comes with its final separator.
    uint32_t n = plat_temp_path(out, TAV_PATH_SIZE - 1);
    if (n == 0) {
        errno = TAV_EINVAL;
        return false;
    }
    out[n] = '*';
    out[n + 1] = 0;
    return true;
}

bool fio_same_path(const char* a, const char* b) {
    for (;;) {
        bool sepA = is_path_separator(*a), sepB = is_path_separator(*b);
        if (sepA != sepB) return false;
        if (sepA) {
            while (is_path_separator(*a)) ++a;
            while (is_path_separator(*b)) ++b;
            continue;
        }
        if (*a != *b) return false;
        if (*a == 0) return true;
        ++a;
        ++b;
    }
}

void fio_star_dir(const char* path, char* dir) {
    if (dir_of_path(dir, TAV_PATH_SIZE, path) < 0) dir[0] = 0;
}

bool fio_is_star_request(const char* path) {
    const char* name = path_name_part(path);
    return name[0] == '*' && name[1] == 0;
}
