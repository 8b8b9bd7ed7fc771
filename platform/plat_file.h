// POSIX file layer under the descriptor layer: open, create, read, write,
// seek, attributes, rename, copy and the temporary directory.
//
// Every function returns -1 on failure with errno set to the library's own
// code (the TAV_* constants), never the host's errno numbers directly.
#pragma once

#include <cstddef>
#include <cstdint>

// Access bits of plat_open (the low two bits of an open mode).
constexpr uint32_t kPlatAccessMask = 3;
constexpr uint32_t kPlatRead = 0;
constexpr uint32_t kPlatWrite = 1;
constexpr uint32_t kPlatReadWrite = 2;

// Creation attributes of plat_creat.
constexpr uint32_t kPlatAttrReadOnly = 0x1;
constexpr uint32_t kPlatAttrPrivate = 0x100;  // owner-only (0600)

// The library's code for a host errno value.
int plat_errno_code(int hostErrno);

// Opens an existing regular file (anything else: 13). An open with write access takes an exclusive
// advisory lock on the whole file (an open file description lock) without
// waiting; when another description holds it the open fails with TAV_EACCES.
int plat_open(const char* path, uint32_t mode);
// Creates a new file, never reusing an existing path (O_EXCL, O_NOFOLLOW),
// opened read-write and locked like a writer.
int plat_creat(const char* path, uint32_t attribute);
int plat_close(int fd);
// Opens an existing regular file for a compound-file engine, under a lock
// on the whole file taken without waiting: with write access an exclusive
// one, read-only a shared one (readers beside readers). 13 when a lock of
// another open file description stands in the way.
int plat_open_shared(const char* path, bool write);
// Opens path read-write under the exclusive lock, creating it when it does
// not exist, and cuts it to 0 bytes once the lock is held (an existing
// file that another description holds is left as it is: 13).
int plat_create_replace(const char* path);
// Reads up to count bytes at the file position; bytes read, 0 at the end.
int32_t plat_read(int fd, void* buf, uint32_t count);
// Reads up to count bytes at offset, leaving the file position alone.
int32_t plat_pread(int fd, void* buf, uint32_t count, int64_t offset);
// Writes all count bytes; count or -1.
int32_t plat_write(int fd, const void* buf, uint32_t count);
// Writes all count bytes at offset, leaving the file position alone; count
// or -1.
int32_t plat_pwrite(int fd, const void* buf, uint32_t count, int64_t offset);
// Copies n bytes from src at srcOffset to dst at dstOffset inside the
// kernel (no file positions change). Bytes copied (fewer at the source's
// end), -1 with errno on failure, or -2 when the kernel cannot copy between
// these files (the caller then copies through a buffer).
int64_t plat_copy_range(int src, int64_t srcOffset, int dst, int64_t dstOffset, uint32_t n);
// New position, or -1 (also when it would not fit 31 bits: TAV_E_SEEK).
int32_t plat_lseek(int fd, int32_t offset, int origin);
// The longest file the library writes: 2^31 - 1 bytes, so that every byte
// of a file, and its end, lie within reach of a seek. Writers refuse what
// would make a file longer.
constexpr uint32_t kPlatMaxFileLength = 0x7FFFFFFFu;
// The limit in force: kPlatMaxFileLength, unless a test lowered it
// (plat_fault.h).
uint32_t plat_max_file_length();
// Current length of the open file, at most 0xFFFFFFFF; -1 on failure.
int64_t plat_file_size(int fd);
int plat_truncate(int fd, uint32_t length);
int plat_fsync(int fd);
// Makes a directory entry change durable: fsync of the directory that
// holds path.
int plat_sync_parent_dir(const char* path);
// Opens an ICC colour profile for reading: a name with a '/' is a path, any
// other name is looked for in the system's profile directory. Descriptor,
// or -1.
int plat_open_color_profile(const char* name);

struct PlatAttributes {
    bool directory;
    bool readOnly;  // the caller may not write it
};
int plat_attributes(const char* path, PlatAttributes* attr);
int plat_exists(const char* path);  // 1 when the path names something, even a dangling link

int plat_unlink(const char* path);
// Renames, refusing an existing destination. Across file systems the file
// is copied and the source deleted.
int plat_rename_noreplace(const char* from, const char* to);
// Renames over an existing destination in one atomic step (same file
// system only).
int plat_rename_replace(const char* from, const char* to);
// Hard link; -1 with errno set, and *unsupported true when the file
// system has no hard links (or the link would cross file systems).
int plat_link(const char* from, const char* to, bool* unsupported);
// Copies a file into a new destination (O_EXCL): the destination gets the
// source's permission bits; on failure no destination is left.
int plat_copy_file(const char* from, const char* to);
// Copies a file into a new owner-only destination and makes its data
// durable (fsync); on failure no destination is left.
int plat_copy_file_private(const char* from, const char* to);

// Whether another open file description holds the write lock of the file at
// path: 1 held, 0 free, -1 cannot tell (errno set).
int plat_write_locked(const char* path);
// Opens an existing file whose path is about to be replaced and holds its
// writer lock until the descriptor is closed, so no writer starts on it
// meanwhile. When another open file description holds the lock: 13. When
// the caller may not write the file it is opened read-only after checking
// that no writer holds it. Descriptor, or -1.
int plat_lock_target(const char* path);
// Makes the data of the file at path durable (open, fsync, close).
int plat_fsync_path(const char* path);
// The absolute, resolved form of path into out; 0 when it does not fit or
// cannot be resolved.
uint32_t plat_full_path(const char* path, char* out, uint32_t size);
// Device and inode of the file at path, or of the directory holding it when
// parentOf is set; -1 on failure.
int plat_file_id(const char* path, bool parentOf, uint64_t* dev, uint64_t* ino);
// What tells one state of a file from another: its device and inode, its
// length and its modification time.
struct PlatFileStamp {
    uint64_t dev, ino;
    int64_t size;
    int64_t mtimeSec, mtimeNsec;
    bool operator==(const PlatFileStamp&) const = default;
};
// The stamp of an open file; -1 on failure.
int plat_stamp_fd(int fd, PlatFileStamp* stamp);
// The stamp of the directory entry at path itself (a link is not
// followed); -1 on failure.
int plat_stamp_path(const char* path, PlatFileStamp* stamp);
// Permission bits of a file; -1 on failure.
int plat_mode_bits(const char* path, uint32_t* mode);
int plat_set_mode_bits(const char* path, uint32_t mode);

// The temporary directory, with a final '/': $TMPDIR when it is a
// directory, else /tmp. Length written (without the terminator), or 0 when
// it does not fit size.
uint32_t plat_temp_path(char* buf, uint32_t size);
// The Windows-style temporary name dir/PREFIXnnnn.TMP (hex), nothing
// created; 0 when it does not fit.
uint32_t plat_temp_file_name(const char* dir, const char* prefix, uint32_t n, char* out,
                             uint32_t size);
