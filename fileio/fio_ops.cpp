// Whole-file operations of the file access layer: remove, rename, copy,
// access test and directory test, local or remote.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileio/fio_internal.h"
#include "fileio/keep_errno.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"

namespace {

int rename_one(FileLocation* src, const char* srcPath, FileLocation* dst, const char* dstPath,
               int removeSource) {
    bool srcRemote = fio_loc_remote(src);
    bool dstRemote = fio_loc_remote(dst);
    if (!srcRemote && !dstRemote) return plat_rename_noreplace(srcPath, dstPath);
    if (srcRemote && dstRemote && fio_same_server(src, dst)) {
        auto rename = fio_rpc_entry(&RpcEntries::rename);
        if (!rename) return -1;
        uint32_t flag = 0;
        int32_t res = rename(src->connection, src->server, srcPath, dstPath, &flag);
        return fio_rpc_result(res, flag);
    }
    char buf[TAV_PATH_SIZE];
    std::memcpy(buf, dstPath, std::strlen(dstPath) + 1);
    if (fio_copy(src, srcPath, dst, buf, 0) != 0) return -1;
    if (removeSource) return fio_remove(src, srcPath);
    return 0;
}

// Byte copy through two descriptors, at most limit bytes when limit is set.
int byte_copy(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
              uint32_t limit) {
    int in = fio_open(src, srcPath, 0);
    if (in < 0) return -1;
    int out = fio_creat(dst, dstPath, 0);
    if (out < 0) {
        KeepErrno keep;
        fio_close(in);
        return -1;
    }
    auto* buf = static_cast<uint8_t*>(plat_alloc(kRemoteBufSize));
    if (!buf) {
        fio_close(out);
        fio_remove(dst, dstPath);
        fio_close(in);
        errno = TAV_E_COPY_BUFFER;
        return -1;
    }
    bool ok = true;
    uint32_t copied = 0;
    for (;;) {
        int32_t got = fio_read(in, buf, kRemoteBufSize);
        if (got < 0) {
            ok = false;
            break;
        }
        uint32_t chunk = uint32_t(got);
        if (limit) chunk = std::min(chunk, limit - copied);
        if (chunk > 0 && fio_write(out, buf, chunk) != int32_t(chunk)) {
            ok = false;
            break;
        }
        copied += chunk;
        if (chunk < kRemoteBufSize) break;
    }
    plat_free(buf);
    int err = errno;
    if (fio_close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) fio_remove(dst, dstPath);
    fio_close(in);
    errno = err;
    return ok ? 0 : -1;
}

int copy_one(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
             uint32_t limit) {
    bool srcRemote = fio_loc_remote(src);
    bool dstRemote = fio_loc_remote(dst);
    if (limit == 0 && !srcRemote && !dstRemote) return plat_copy_file(srcPath, dstPath);
    if (limit == 0 && srcRemote && dstRemote && fio_same_server(src, dst)) {
        // The server copies by itself; on any failure the bytes are copied
        // through the layer instead.
        const RpcEntries* e = fio_rpc();
        if (e && e->copy) {
            uint32_t flag = 0;
            int32_t res = e->copy(src->connection, src->server, srcPath, dstPath, 0, &flag);
            if (fio_rpc_result(res, flag) == 0) return 0;
        }
    }
    return byte_copy(src, srcPath, dst, dstPath, limit);
}

}  // namespace

int fio_remove(FileLocation* loc, const char* path) {
    if (!fio_check_args(loc, path)) return -1;
    if (!fio_loc_remote(loc)) return plat_unlink(path);
    auto remove = fio_rpc_entry(&RpcEntries::remove);
    if (!remove) return -1;
    uint32_t flag = 0;
    int32_t res = remove(loc->connection, loc->server, path, &flag);
    return fio_rpc_result(res, flag);
}

int fio_rename(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
               int removeSource) {
    if (!fio_check_args(src, srcPath) || !fio_check_args(dst, dstPath)) return -1;
    if (fio_is_star_request(dstPath))
        return fio_with_unique_names(dst, dstPath, [&] {
            return rename_one(src, srcPath, dst, dstPath, removeSource);
        });
    return rename_one(src, srcPath, dst, dstPath, removeSource);
}

int fio_copy(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
             uint32_t limit) {
    if (!fio_check_args(src, srcPath) || !fio_check_args(dst, dstPath)) return -1;
    if (fio_is_star_request(dstPath))
        return fio_with_unique_names(
            dst, dstPath, [&] { return copy_one(src, srcPath, dst, dstPath, limit); });
    return copy_one(src, srcPath, dst, dstPath, limit);
}

int16_t fio_access(FileLocation* loc, const char* path, uint32_t mode) {
    if (!fio_check_args(loc, path)) return -1;
    if (fio_loc_remote(loc)) {
        auto access = fio_rpc_entry(&RpcEntries::access);
        if (!access) return -1;
        uint32_t flag = 0;
        int32_t res = access(loc->connection, loc->server, path, mode, &flag);
        return int16_t(fio_rpc_result(res, flag));
    }
    PlatAttributes attr{};
    if (plat_attributes(path, &attr) != 0) return TAV_EIO;
    if ((mode & kFioAccessMask) && attr.readOnly) return TAV_EIO;
    return 0;
}
