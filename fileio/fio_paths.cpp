// Path parts. Both '/' and '\' separate path components (callers may hand
// over Windows-style paths); a separator the library adds is '/'.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"

bool is_path_separator(char c) { return c == '/' || c == '\\'; }

bool path_has_separator(const char* path) { return path_name_part(path) != path; }

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
    if (n == 0 && path[0] == '/') n = 1;  // the root directory keeps its separator
    if (n + 1 > size) {
        errno = TAV_EINVAL;
        return -1;
    }
    std::memcpy(buffer, path, n);
    buffer[n] = 0;
    return 0;
}
