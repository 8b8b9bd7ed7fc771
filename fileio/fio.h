// The file access layer: small integer descriptors over local and remote files.
#pragma once

#include <cstdint>

#include "qvtav.h"

constexpr int kFioSlots = 20;
constexpr uint32_t kRemoteBufSize = 31744;
constexpr uint32_t kRemoteSmallRead = 2048;
constexpr uint32_t kFioModeReadWrite = 34;  // read and write, other writers refused
// Attribute bit of fio_creat: a work or temporary file the library makes for
// itself, created owner-only (0600).
constexpr uint32_t kFioPrivate = 0x100;

int fio_open(FileLocation* loc, const char* path, uint32_t mode, uint32_t reserved = 0);
int fio_creat(FileLocation* loc, char* path, uint32_t attribute);  // path in/out (>= 260 bytes)
int fio_close(int fd);
int32_t fio_lseek(int fd, int32_t offset, int origin);
int32_t fio_seek_to(int fd, uint32_t offset);
int32_t fio_read(int fd, void* buf, uint32_t count);
int32_t fio_write(int fd, const void* buf, uint32_t count);
int fio_truncate_close(int fd, uint32_t length);
int fio_remove(FileLocation* loc, const char* path);
int fio_rename(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
               int removeSource);
int fio_copy(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
             uint32_t limit);
int16_t fio_access(FileLocation* loc, const char* path, uint32_t mode);
int fio_dir_test(const char* path);

// Additions of this implementation.
// Copies n bytes between two descriptors at the given offsets; both
// positions end behind the bytes copied, as a read and a write of them would
// leave them. Local files are copied inside the kernel. Bytes copied (fewer
// at the source's end), or -1.
int32_t fio_copy_range(int src, int dst, uint32_t srcOffset, uint32_t dstOffset, uint32_t n);
int fio_sync(int fd);                // data reaches the disk (local); 0 or -1
int fio_is_remote(int fd);           // 1 remote, 0 local, -1 bad descriptor
const FileLocation* fio_record(int fd);  // the descriptor's copy of the location

// Names and temporary files.
char* fio_unique_name(FileLocation* loc, char* pattern);
char* tmp_name_in_dir(FileLocation* loc, const char* dir, char* out);
char* tmp_name_in_tempdir(char* out);
int fio_replace(FileLocation* target, const char* targetPath, FileLocation* source,
                const char* sourcePath);
void fio_drop_cached_copy();         // process detach: delete the cached local copy

// xtavopen/xtavcreat frames after a failure on a remote location: calls
// RPCIFSclose(connection, &remoteId, result, &flag) when it is bound.
void fio_remote_close_result(FileLocation* loc, int32_t result);
