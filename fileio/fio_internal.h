// Internals shared by the parts of the file access layer.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "fileio/fio.h"
#include "platform/plat_remote.h"

// ---- argument checks ----

// The path fits the 260-byte name buffers (with its terminator).
inline bool fio_path_fits(const char* path) {
    return path && std::memchr(path, 0, TAV_PATH_SIZE) != nullptr;
}
// The server name is terminated inside its 68 bytes.
inline bool fio_server_fits(const FileLocation* loc) {
    return std::memchr(loc->server, 0, TAV_SERVER_SIZE) != nullptr;
}
inline bool fio_loc_remote(const FileLocation* loc) { return loc && loc->isRemote != 0; }
// Two remote locations reach the same server through the same connection:
// a rename or copy between them is the server's own.
inline bool fio_same_server(const FileLocation* a, const FileLocation* b) {
    return a->connection == b->connection && std::strcmp(a->server, b->server) == 0;
}
// Checks a location and path pair; false with errno TAV_EINVAL.
bool fio_check_args(const FileLocation* loc, const char* path);

// ---- remote calls ----

// The bound entry points, or null with errno TAV_E_NO_REMOTE (library missing).
const RpcEntries* fio_rpc();
// One bound entry point, or null with errno: TAV_E_NO_REMOTE when the
// library lacks it, fio_rpc's code when the library is missing.
template <typename Fn>
Fn fio_rpc_entry(Fn RpcEntries::*entry) {
    const RpcEntries* e = fio_rpc();
    if (!e) return nullptr;
    if (!(e->*entry)) errno = TAV_E_NO_REMOTE;
    return e->*entry;
}
// Turns a remote call's result and transport flag into 0, or -1 with errno:
// a positive result is the server's code (after translate, when given),
// else a set flag is 254.
int fio_rpc_result(int32_t result, uint32_t flag, int (*translate)(int32_t) = nullptr);
// RPCIFSstatobject: the file's size and two values that change with it.
int fio_rpc_stat(const FileLocation* loc, const char* path, uint32_t out[3]);

// ---- remote buffered I/O (one descriptor's record) ----

int32_t remote_read(FileLocation* rec, void* buf, uint32_t count);
int32_t remote_write(FileLocation* rec, const void* buf, uint32_t count);
int32_t remote_lseek(FileLocation* rec, int32_t offset, int origin);
int32_t remote_flush(FileLocation* rec);
// Closes the remote handle: flush, close, free the buffers. 0 or -1.
int remote_close(FileLocation* rec);
// Allocates both buffers and resets the positions; false with errno TAV_ENOMEM.
bool remote_setup_buffers(FileLocation* rec);
void remote_free_buffers(FileLocation* rec);

// ---- names ----

// The last path component is exactly "*".
bool fio_is_star_request(const char* path);
// Runs op with fresh unique names in the directory of the "*" request held
// by path (written into path each time), up to 99 tries; op's result.
template <typename Op>
int fio_with_unique_names(FileLocation* loc, char* path, Op op);
// Directory part of a "*" request (everything before the last separator,
// "" without one) into dir (260 bytes).
void fio_star_dir(const char* path, char* dir);
// A fresh name for the "*" request in path's directory, into out; false
// when none could be made.
bool fio_next_star_name(FileLocation* loc, const char* dir, char* out);

template <typename Op>
int fio_with_unique_names(FileLocation* loc, char* path, Op op) {
    char dir[TAV_PATH_SIZE];
    fio_star_dir(path, dir);
    int result = -1;
    for (int attempt = 0; attempt < 99; ++attempt) {
        char name[TAV_PATH_SIZE];
        if (!fio_next_star_name(loc, dir, name)) {
            if (errno == TAV_EINVAL) return -1;  // the directory is too long for any name
            continue;
        }
        std::memcpy(path, name, std::strlen(name) + 1);
        result = op();
        if (result >= 0) return result;
    }
    return result;
}

// ---- replaced-file cache ----

// A read-only remote open of the cached remote file: when the file is
// unchanged, the descriptor of the local copy (>= 1); 0 when the open must go
// to the server (a stale cache has been dropped by then).
int fio_cache_open(FileLocation* loc, const char* path);

// ---- descriptors ----

// Whether this process holds a remote descriptor open for writing on the
// server and path of loc.
bool fio_remote_writer_open(const FileLocation* loc, const char* path);

// ---- local content changes (read caches of local descriptors) ----

void fio_local_content_changed();
