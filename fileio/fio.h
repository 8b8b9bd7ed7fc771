// The file access layer: small integer descriptors over local and remote files.
#pragma once

#include <cstdint>

#include "qvtav.h"

constexpr int kFioSlots = 20;
// Origins of fio_lseek, as lseek takes them.
constexpr int kFioSeekSet = 0;
constexpr int kFioSeekCur = 1;
constexpr int kFioSeekEnd = 2;
// Files stay below 2^31 bytes: the largest offset a seek reaches.
constexpr uint32_t kFioMaxOffset = 0x7FFFFFFFu;
// Whether a file may be `length` bytes long: no file the library writes
// ends beyond 2^31 - 1 (the platform's limit, which tests may lower), so
// every file it writes opens again. False with errno TAV_E_SEEK when not. A write
// through the layer that would go beyond is refused whole, before any byte
// is written; writers check earlier, so that they never start what they
// could not finish.
bool fio_length_fits(uint64_t length);
constexpr uint32_t kRemoteBufSize = 31744;
constexpr uint32_t kRemoteSmallRead = 2048;
constexpr uint32_t kFioAccessMask = 3;  // the access part of a mode
constexpr uint32_t kFioModeRead = 0;
constexpr uint32_t kFioModeWrite = 2;       // read and write
constexpr uint32_t kFioModeReadWrite = 34;  // read and write, other writers refused
// Attribute bit of fio_creat: a work or temporary file the library makes for
// itself, created owner-only (0600).
constexpr uint32_t kFioPrivate = 0x100;

int fio_open(FileLocation* loc, const char* path, uint32_t mode, uint32_t reserved = 0);
int fio_creat(FileLocation* loc, char* path, uint32_t attribute);  // path in/out (>= 260 bytes)
int fio_close(int fd);
int32_t fio_lseek(int fd, int32_t offset, int origin);
int32_t fio_seek_to(int fd, uint32_t offset);
// The file's length, found by a seek to its end (where the position is
// left). -1 with errno: the layer's code, else `fallback`.
int32_t fio_length(int fd, int fallback = TAV_EIO);
int32_t fio_read(int fd, void* buf, uint32_t count);
int32_t fio_write(int fd, const void* buf, uint32_t count);
int fio_truncate_close(int fd, uint32_t length);
int fio_remove(FileLocation* loc, const char* path);
int fio_rename(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
               int removeSource);
int fio_copy(FileLocation* src, const char* srcPath, FileLocation* dst, char* dstPath,
             uint32_t limit);
int16_t fio_access(FileLocation* loc, const char* path, uint32_t mode);

// Whole reads and writes (fileio/fio_exact.cpp).
// Up to n bytes from the current position, as many reads as it takes: the
// bytes read (fewer only at the end of the file), or -1 with errno.
int32_t fio_read_full(int fd, void* buf, uint32_t n);
// The same at the file offset pos.
int32_t fio_read_full_at(int fd, uint32_t pos, void* buf, uint32_t n);
// Exactly n bytes at pos: 0, or -1 with errno: the read's code, TAV_E_SEEK for a
// position beyond 2^31, or shortCode when the file ends first or the read
// set no code.
int fio_read_exact_at(int fd, uint32_t pos, void* buf, uint32_t n, int shortCode);
// All n bytes at pos: 0, or -1 with errno (the write's code, else 5).
int fio_write_at(int fd, uint32_t pos, const void* buf, uint32_t n);

// The undo journal of a descriptor (a file opened for update): from
// fio_journal_start on, every write through fd first saves the original
// bytes below `length` it replaces (each once); a new start forgets the
// saved bytes (the file's new original). fio_journal_restore writes them
// back. fio_journal_undo_close gives the file back as it was at the start
// (the saved bytes written back, the file cut to `length`) and closes fd;
// without a journal it only closes. 0, or -1 with errno (the first
// failure; the descriptor is closed in every case).
int fio_journal_start(int fd, uint32_t length);
int fio_journal_restore(int fd);
int fio_journal_undo_close(int fd);

// Additions of this implementation.
// Copies n bytes between two descriptors at the given offsets; both
// positions end behind the bytes copied, as a read and a write of them would
// leave them. Local files are copied inside the kernel. Bytes copied (fewer
// at the source's end), or -1.
int32_t fio_copy_range(int src, int dst, uint32_t srcOffset, uint32_t dstOffset, uint32_t n);
int fio_sync(int fd);                // data reaches the disk (local); 0 or -1
int fio_is_remote(int fd);           // 1 remote, 0 local, -1 bad descriptor

// Path parts (fileio/fio_paths.cpp): '/' and '\' both separate.
bool is_path_separator(char c);
// The part after the last separator (the whole path when it has none).
const char* path_name_part(const char* path);
// The directory part of path (up to its last separator; "/" for a file in
// the root) into buffer of size bytes; -1 (TAV_EINVAL) when the path has no
// separator or the buffer is short.
int dir_of_path(char* buffer, uint32_t size, const char* path);
// The unique-name request "*" in the directory of path (a bare name: the
// current directory), into out (260 bytes); false with TAV_EINVAL when it does not
// fit.
bool fio_star_beside(const char* path, char* out);
// The unique-name request "*" in the temporary directory, into out (260
// bytes); false with TAV_EINVAL when the directory is too long.
bool fio_star_in_tempdir(char* out);
// Whether two paths name the same file as written: '/' and '\' alike, a
// run of separators counting as one.
bool fio_same_path(const char* a, const char* b);

// Names and temporary files.
char* fio_unique_name(FileLocation* loc, char* pattern);
// A fresh name in dir ("/" when null) into out (260 bytes, the caller's:
// no buffer is shared between threads); out, empty when no name was free.
char* tmp_name_in_dir(FileLocation* loc, const char* dir, char* out);
int fio_replace(FileLocation* target, const char* targetPath, FileLocation* source,
                const char* sourcePath);
void fio_drop_cached_copy();         // process detach: delete the library's cached copy

// xtavopen/xtavcreat frames after a failure on a remote location: calls
// RPCIFSclose(connection, &remoteId, result, &flag) when it is bound.
void fio_remote_close_result(FileLocation* loc, int32_t result);
