// Unique file names: directory + two seed letters + one trial letter + the
// last four digits of the process number, e.g. "dir/abc0123". The seed
// advances with every name made in the process; the trial letter runs from
// a to z until a name is free.
#include <cerrno>
#include <cstring>

#include "fileio/fio_internal.h"
#include "platform/plat_mutex.h"
#include "platform/plat_proc.h"

namespace {

// The seed, shared by every thread of the process: read and advanced only
// under the named seed mutex.
char g_seed[3] = {'a', 'a', 0};

// The seed counts with its first letter fastest: aa, ba, ..., za, ab, ...
void advance_seed() {
    for (int i = 0; i < 2; ++i) {
        if (g_seed[i] != 'z') {
            ++g_seed[i];
            return;
        }
        g_seed[i] = 'a';
    }
}

// dir + separator + seed + "XXXXX" into out, then a free name from it.
char* make_name(FileLocation* loc, const char* dir, char* out) {
    NamedLock lock(NamedMutex::NameSeed);
    size_t n = std::strlen(dir);
    bool addSep = n > 0 && !is_path_separator(dir[n - 1]);
    if (n + (addSep ? 1 : 0) + 7 + 1 > TAV_PATH_SIZE) {
        out[0] = 0;
        errno = TAV_EINVAL;
        return out;
    }
    std::memmove(out, dir, n);
    if (addSep) out[n++] = '/';
    out[n++] = g_seed[0];
    out[n++] = g_seed[1];
    std::memcpy(out + n, "XXXXX", 6);
    advance_seed();
    return fio_unique_name(loc, out);
}

}  // namespace

char* fio_unique_name(FileLocation* loc, char* pattern) {
    int savedErrno = errno;
    size_t end = std::strlen(pattern);
    size_t start = end;
    while (start > 0 && pattern[start - 1] == 'X') --start;
    uint32_t pid = plat_process_id();
    for (size_t i = end; i > start; --i) {
        pattern[i - 1] = char('0' + pid % 10);
        pid /= 10;
    }
    if (start == end) {
        if (fio_access(loc, pattern, 0) == 0) pattern[0] = 0;
        errno = savedErrno;
        return pattern;
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        pattern[start] = c;
        if (fio_access(loc, pattern, 0) != 0) {
            errno = savedErrno;
            return pattern;
        }
    }
    pattern[0] = 0;
    errno = TAV_EEXIST;
    return pattern;
}

char* tmp_name_in_dir(FileLocation* loc, const char* dir, char* out) {
    return make_name(loc, dir ? dir : "/", out);
}

bool fio_next_star_name(FileLocation* loc, const char* dir, char* out) {
    tmp_name_in_dir(loc, dir, out);
    return out[0] != 0;
}
