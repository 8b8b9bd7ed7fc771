// The descriptor table: 20 slots (1..20), each holding the layer's copy of
// the location record of one open file, local or remote.
//
// Threads: a slot is claimed and given back under the table's mutex; in
// between it belongs to the thread working on its file, and every read,
// write and seek of the descriptor (the read cache, the remote buffers, the
// undo journal) runs without a lock. Looking a descriptor up takes no lock
// either: only the thread holding it uses it.
//
// Local descriptors go straight to the platform file layer. A local
// read-only descriptor serves small reads from a read cache of its own (the
// image parsers read many 2- to 12-byte fields); the cache is dropped
// whenever this process changes the content of a local file through the
// layer, so reads give the same bytes as uncached reads would.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>

#include "fileio/fio_internal.h"
#include "fileio/fio_journal.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"

namespace {

constexpr uint32_t kLocalCacheSize = 32 * 1024;

struct LocalCache {
    uint8_t* buf = nullptr;
    int64_t start = 0;   // file offset of buf[0]
    uint32_t len = 0;    // valid bytes
    uint64_t generation = 0;
};

// A slot a cache line of its own (or two): the thread reading through one
// descriptor moves its position and cache on every read, and would
// otherwise slow down the threads reading through its neighbours.
struct alignas(kPlatCacheLine) Slot {
    bool claimed = false;         // an open or create holds it, or a descriptor
    FileLocation* rec = nullptr;  // null: no descriptor (yet)
    bool remote = false;
    bool writable = false;        // remote: opened or created for writing
    bool cached = false;          // local read-only: reads go through the cache
    int64_t pos = 0;              // cached descriptors keep their own position
    LocalCache cache;
    FioJournal* journal = nullptr;  // original bytes an abort puts back
};

// Claiming and giving back slots, and looking across them: the fields
// `claimed`, `rec`, `remote` and `writable` change only under it.
std::mutex g_slotsMutex;
Slot g_slots[kFioSlots + 1];  // slot 0 is never used
std::atomic<uint64_t> g_localGeneration{1};

Slot* slot_of(int fd) {
    if (fd < 1 || fd > kFioSlots || !g_slots[fd].rec) {
        errno = TAV_EBADF;
        return nullptr;
    }
    return &g_slots[fd];
}

// The lowest free slot, claimed; -1 with errno TAV_ENOMEM when all are taken.
int claim_slot() {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    for (int i = 1; i <= kFioSlots; ++i)
        if (!g_slots[i].claimed) {
            g_slots[i].claimed = true;
            return i;
        }
    errno = TAV_ENOMEM;
    return -1;
}

// Whether a slot is free now (an early refusal before any work; the claim
// that follows may still fail).
bool slot_free() {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    for (int i = 1; i <= kFioSlots; ++i)
        if (!g_slots[i].claimed) return true;
    errno = TAV_ENOMEM;
    return false;
}

// Gives the slot back; what it held is freed once no other thread can see it.
void free_slot(int fd) {
    Slot old;
    {
        std::lock_guard<std::mutex> lock(g_slotsMutex);
        old = g_slots[fd];
        g_slots[fd] = Slot{};
    }
    delete old.journal;
    plat_free(old.rec);
    plat_free(old.cache.buf);
}

// A slot claimed for an open or create under way: given back unless the
// open ends in a descriptor.
class SlotClaim {
public:
    SlotClaim() : fd_(claim_slot()) {}
    ~SlotClaim() {
        if (fd_ > 0) free_slot(fd_);
    }
    SlotClaim(const SlotClaim&) = delete;
    SlotClaim& operator=(const SlotClaim&) = delete;
    bool held() const { return fd_ > 0; }
    // The slot becomes the descriptor of rec.
    int install(FileLocation* rec, bool remote, bool cached, bool writable) {
        Slot& s = g_slots[fd_];
        s.cached = cached;
        s.pos = 0;
        {
            std::lock_guard<std::mutex> lock(g_slotsMutex);
            s.rec = rec;
            s.remote = remote;
            s.writable = writable;
        }
        int fd = fd_;
        fd_ = 0;
        return fd;
    }

private:
    int fd_;
};

// Builds the descriptor's copy: the caller's record (or a zero record) with
// the path that was opened.
FileLocation* make_record(const FileLocation* loc, const char* path) {
    auto* rec = static_cast<FileLocation*>(plat_alloc(sizeof(FileLocation)));
    if (!rec) {
        errno = TAV_ENOMEM;
        return nullptr;
    }
    if (loc) std::memcpy(rec, loc, offsetof(FileLocation, path));
    std::memcpy(rec->path, path, std::strlen(path) + 1);
    return rec;
}

// A local file opened or created as native becomes the claimed slot's
// descriptor; on failure native is closed.
int local_descriptor(SlotClaim& claim, FileLocation* loc, const char* path, int native, bool readOnly) {
    int64_t size = plat_file_size(native);
    if (size < 0) {
        int e = errno;
        plat_close(native);
        errno = e;
        return -1;
    }
    if (loc) {
        loc->result = native;
        loc->size = uint32_t(size);
    }
    FileLocation* rec = make_record(loc, path);
    if (!rec) {
        plat_close(native);
        return -1;
    }
    rec->result = native;
    rec->size = uint32_t(size);
    return claim.install(rec, false, readOnly, false);
}

int translate_open(int32_t code);
int translate_create(int32_t code);

// The last steps of a remote open or create: the buffers, the record and
// the descriptor slot. On failure the remote handle is closed again.
int install_remote(SlotClaim& claim, FileLocation* loc, const char* path, const RpcEntries* e,
                   int32_t handle, uint32_t size, bool writable) {
    loc->result = handle;
    loc->size = size;
    if (!remote_setup_buffers(loc)) {
        uint32_t f2 = 0;
        if (e->close) e->close(loc->connection, &loc->remoteId, handle, &f2);
        errno = TAV_ENOMEM;
        return -1;
    }
    FileLocation* rec = make_record(loc, path);
    if (!rec) {
        remote_close(loc);
        errno = TAV_ENOMEM;
        return -1;
    }
    return claim.install(rec, true, false, writable);
}

int remote_open(FileLocation* loc, const char* path, uint32_t mode) {
    if (!slot_free()) return -1;
    if ((mode & kFioAccessMask) == kFioModeRead) {
        int local = fio_cache_open(loc, path);
        if (local != 0) return local;
    }
    SlotClaim claim;
    if (!claim.held()) return -1;
    const RpcEntries* e = fio_rpc();
    if (!e) return -1;
    if (!e->open || !e->statobject) {
        errno = TAV_E_NO_REMOTE;
        return -1;
    }
    uint32_t flag = 0;
    int32_t handle = -1;
    int32_t res = e->open(loc->connection, loc->server, &loc->remoteId, path, mode, &handle, &flag);
    uint32_t st[3];
    int statOk = fio_rpc_stat(loc, path, st);
    if (res == kRpcNotFound) {
        errno = statOk != 0 ? TAV_ENOENT : TAV_ENOMEM;
        return -1;
    }
    if (fio_rpc_result(res, flag, translate_open) != 0) return -1;
    if (handle == -1 || statOk != 0) {
        int err = statOk != 0 ? errno : TAV_EIO;
        uint32_t f2 = 0;
        if (e->close) e->close(loc->connection, &loc->remoteId, handle, &f2);
        errno = err;
        return -1;
    }
    return install_remote(claim, loc, path, e, handle, st[0], (mode & kFioAccessMask) != kFioModeRead);
}

int remote_create(FileLocation* loc, const char* path) {
    SlotClaim claim;
    if (!claim.held()) return -1;
    const RpcEntries* e = fio_rpc();
    if (!e) return -1;
    if (!e->create) {
        errno = TAV_E_NO_REMOTE;
        return -1;
    }
    uint32_t flag = 0;
    int32_t handle = -1;
    int32_t res = e->create(loc->connection, loc->server, &loc->remoteId, path, &handle, &flag);
    if (fio_rpc_result(res, flag, translate_create) != 0) return -1;
    if (handle == -1) {
        errno = TAV_EIO;
        return -1;
    }
    int fd = install_remote(claim, loc, path, e, handle, 0, true);
    if (fd < 0 && e->remove) {
        // No descriptor for the new file: it goes again, as a failed local
        // create leaves no file behind.
        KeepErrno keep;
        uint32_t f2 = 0;
        e->remove(loc->connection, loc->server, path, &f2);
    }
    return fd;
}

int translate_open(int32_t code) {
    switch (code) {
    case kRpcBadPath:
    case kRpcAccessDenied: return TAV_EFAULT;
    default: return int(code);
    }
}

int translate_create(int32_t code) {
    switch (code) {
    case kRpcBadPath:
    case kRpcCannotCreate: return TAV_EFAULT;
    case kRpcExists: return TAV_E_REMOTE_EXISTS;
    case kRpcNoHandles: return TAV_ENOMEM;
    default: return int(code);
    }
}

int creat_one(FileLocation* loc, char* path, uint32_t attribute) {
    if (fio_loc_remote(loc)) return remote_create(loc, path);
    SlotClaim claim;
    if (!claim.held()) return -1;
    if (plat_exists(path)) {
        errno = TAV_EEXIST;
        return -1;
    }
    int native = plat_creat(path, attribute & (kPlatAttrReadOnly | kFioPrivate));
    if (native < 0) return -1;
    int fd = local_descriptor(claim, loc, path, native, false);
    if (fd < 0) {
        // No descriptor for the new file: it goes again, so that a failed
        // create leaves no file behind.
        int e = errno;
        plat_unlink(path);
        errno = e;
    }
    return fd;
}

// Reads of a cached local read-only descriptor.
int32_t cached_read(Slot& s, void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) {
        errno = TAV_EINVAL;
        return -1;
    }
    int native = s.rec->result;
    LocalCache& c = s.cache;
    uint64_t gen = g_localGeneration.load(std::memory_order_relaxed);
    if (c.generation != gen) {
        c.len = 0;
        c.generation = gen;
    }
    uint8_t* out = static_cast<uint8_t*>(buf);
    uint32_t done = 0;
    if (c.len > 0 && s.pos >= c.start && s.pos < c.start + c.len) {
        uint32_t k = uint32_t(std::min<int64_t>(count, c.start + c.len - s.pos));
        std::memcpy(out, c.buf + (s.pos - c.start), k);
        done = k;
        s.pos += k;
    }
    uint32_t rest = count - done;
    if (rest == 0) return int32_t(done);
    if (rest >= kLocalCacheSize) {
        int32_t r = plat_pread(native, out + done, rest, s.pos);
        if (r < 0) return done > 0 ? int32_t(done) : -1;
        s.pos += r;
        return int32_t(done + uint32_t(r));
    }
    if (!c.buf) {
        c.buf = static_cast<uint8_t*>(plat_alloc(kLocalCacheSize));
        if (!c.buf) {
            int32_t r = plat_pread(native, out + done, rest, s.pos);
            if (r < 0) return done > 0 ? int32_t(done) : -1;
            s.pos += r;
            return int32_t(done + uint32_t(r));
        }
    }
    int32_t r = plat_pread(native, c.buf, kLocalCacheSize, s.pos);
    if (r < 0) {
        c.len = 0;
        return done > 0 ? int32_t(done) : -1;
    }
    c.start = s.pos;
    c.len = uint32_t(r);
    uint32_t k = std::min(rest, uint32_t(r));
    std::memcpy(out + done, c.buf, k);
    s.pos += k;
    return int32_t(done + k);
}

int32_t cached_lseek(Slot& s, int32_t offset, int origin) {
    int64_t base;
    switch (origin) {
    case kFioSeekSet: base = 0; break;
    case kFioSeekCur: base = s.pos; break;
    case kFioSeekEnd:
        base = plat_file_size(s.rec->result);
        if (base < 0) return -1;
        break;
    default: errno = TAV_EINVAL; return -1;
    }
    int64_t np = base + offset;
    if (np < 0) {
        errno = TAV_EINVAL;
        return -1;
    }
    if (np > INT32_MAX) {
        errno = TAV_E_SEEK;
        return -1;
    }
    s.pos = np;
    return int32_t(np);
}

}  // namespace

bool fio_remote_writer_open(const FileLocation* loc, const char* path) {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    for (int fd = 1; fd <= kFioSlots; ++fd) {
        const Slot& s = g_slots[fd];
        if (s.rec && s.remote && s.writable && std::strcmp(s.rec->server, loc->server) == 0 &&
            fio_same_path(s.rec->path, path))
            return true;
    }
    return false;
}

void fio_local_content_changed() { g_localGeneration.fetch_add(1, std::memory_order_relaxed); }

bool fio_check_args(const FileLocation* loc, const char* path) {
    if (!fio_path_fits(path) || (fio_loc_remote(loc) && !fio_server_fits(loc))) {
        errno = TAV_EINVAL;
        return false;
    }
    return true;
}

int fio_open(FileLocation* loc, const char* path, uint32_t mode, uint32_t /*reserved*/) {
    if (!fio_check_args(loc, path)) return -1;
    if (fio_loc_remote(loc)) return remote_open(loc, path, mode);
    SlotClaim claim;
    if (!claim.held()) return -1;
    int native = plat_open(path, mode);
    if (native < 0) return -1;
    return local_descriptor(claim, loc, path, native, (mode & kPlatAccessMask) == kPlatRead);
}

int fio_creat(FileLocation* loc, char* path, uint32_t attribute) {
    if (!fio_check_args(loc, path)) return -1;
    if (fio_is_star_request(path))
        return fio_with_unique_names(loc, path, [&] { return creat_one(loc, path, attribute); });
    return creat_one(loc, path, attribute);
}

namespace {

// The position the next write of a descriptor goes to.
int64_t current_pos(Slot& s) {
    if (s.remote) return s.rec->pos;
    return plat_lseek(s.rec->result, 0, kFioSeekCur);
}

// n bytes at pos through the slot, leaving its position alone; bytes past
// the end of the file read as zeros.
int slot_read_at(Slot& s, uint32_t pos, uint8_t* buf, uint32_t n) {
    std::memset(buf, 0, n);
    if (!s.remote) {
        for (uint32_t got = 0; got < n;) {
            int32_t r = plat_pread(s.rec->result, buf + got, n - got, int64_t(pos) + got);
            if (r < 0) return -1;
            if (r == 0) break;
            got += uint32_t(r);
        }
        return 0;
    }
    int32_t kept = remote_lseek(s.rec, 0, kFioSeekCur);
    if (kept < 0 || remote_lseek(s.rec, int32_t(pos), kFioSeekSet) < 0) return -1;
    for (uint32_t got = 0; got < n;) {
        int32_t r = remote_read(s.rec, buf + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += uint32_t(r);
    }
    return remote_lseek(s.rec, kept, kFioSeekSet) < 0 ? -1 : 0;
}

int slot_write_at(Slot& s, uint32_t pos, uint8_t* buf, uint32_t n) {
    if (!s.remote) {
        fio_local_content_changed();
        return plat_pwrite(s.rec->result, buf, n, pos) == int32_t(n) ? 0 : -1;
    }
    if (remote_lseek(s.rec, int32_t(pos), kFioSeekSet) < 0) return -1;
    return remote_write(s.rec, buf, n) == int32_t(n) ? 0 : -1;
}

// Saves the original bytes a write of n bytes at pos replaces.
int journal_save(Slot& s, int64_t pos, uint32_t n) {
    if (pos < 0) return -1;
    if (pos > int64_t(kFioMaxOffset)) return 0;  // the write itself is refused
    return s.journal->save(uint32_t(pos), n, [&s](uint32_t at, uint8_t* buf, uint32_t len) {
        return slot_read_at(s, at, buf, len);
    });
}

}  // namespace

int fio_journal_start(int fd, uint32_t length) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    delete s->journal;
    s->journal = new (std::nothrow) FioJournal(length);
    if (!s->journal) {
        errno = TAV_ENOMEM;
        return -1;
    }
    return 0;
}

int fio_journal_restore(int fd) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (!s->journal) return 0;
    return s->journal->restore([s](uint32_t at, uint8_t* buf, uint32_t len) {
        return slot_write_at(*s, at, buf, len);
    });
}

int fio_journal_undo_close(int fd) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (!s->journal) return fio_close(fd);
    // A write that fails is tried once more: the saved bytes are all that
    // can give the file back (writing them again is harmless).
    int restored = fio_journal_restore(fd);
    if (restored < 0) restored = fio_journal_restore(fd);
    int code = errno;
    int r = fio_truncate_close(fd, s->journal->length());
    if (restored < 0 && r == 0) {
        errno = code;
        return -1;
    }
    return r;
}

int fio_close(int fd) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    int r;
    if (s->remote)
        r = remote_close(s->rec);
    else
        r = plat_close(s->rec->result);
    int e = errno;
    free_slot(fd);
    errno = e;
    return r;
}

int32_t fio_lseek(int fd, int32_t offset, int origin) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (s->remote) return remote_lseek(s->rec, offset, origin);
    if (s->cached) return cached_lseek(*s, offset, origin);
    return plat_lseek(s->rec->result, offset, origin);
}

int32_t fio_seek_to(int fd, uint32_t offset) {
    if (offset >= 0x80000000u) {
        errno = TAV_E_SEEK;
        return -1;
    }
    int32_t r = fio_lseek(fd, int32_t(offset), 0);
    return r < 0 ? -1 : r;
}

int32_t fio_length(int fd, int fallback) {
    errno = 0;
    const int32_t end = fio_lseek(fd, 0, kFioSeekEnd);
    if (end < 0) {
        if (errno == 0) errno = fallback;
        return -1;
    }
    return end;
}

int32_t fio_read(int fd, void* buf, uint32_t count) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (!buf && count) {
        errno = TAV_EINVAL;
        return -1;
    }
    if (s->remote) return remote_read(s->rec, buf, count);
    if (s->cached) return cached_read(*s, buf, count);
    return plat_read(s->rec->result, buf, count);
}

int32_t fio_write(int fd, const void* buf, uint32_t count) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (!buf && count) {
        errno = TAV_EINVAL;
        return -1;
    }
    if (s->cached) {
        errno = TAV_EACCES;  // opened read only
        return -1;
    }
    const int64_t pos = current_pos(*s);
    if (pos < 0 || !fio_length_fits(uint64_t(pos) + count)) return -1;
    if (s->journal && journal_save(*s, pos, count) < 0) return -1;
    if (s->remote) return remote_write(s->rec, buf, count);
    fio_local_content_changed();
    return plat_write(s->rec->result, buf, count);
}

int fio_truncate_close(int fd, uint32_t length) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (!s->remote) {
        int r = -1;
        if (plat_lseek(s->rec->result, int32_t(std::min<uint32_t>(length, INT32_MAX)), 0) >= 0) {
            fio_local_content_changed();
            r = plat_truncate(s->rec->result, length);
        }
        int e = errno;
        int c = fio_close(fd);
        if (r == 0 && c != 0) return -1;
        if (r != 0) errno = e;
        return r;
    }
    // Remote: copy the first bytes of the file to a new name beside it, then
    // let that copy replace the file.
    FileLocation rec;
    std::memcpy(&rec, s->rec, sizeof rec);
    rec.readBuf = nullptr;
    rec.writeBuf = nullptr;
    char path[TAV_PATH_SIZE];
    std::memcpy(path, s->rec->path, sizeof path);
    int closed = fio_close(fd);
    if (closed != 0) return -1;
    char copy[TAV_PATH_SIZE];
    fio_star_dir(path, copy);
    size_t n = std::strlen(copy);
    if (n + 3 > sizeof copy) {
        errno = TAV_EINVAL;
        return -1;
    }
    if (n > 0 && copy[n - 1] != '/' && copy[n - 1] != '\\') copy[n++] = '/';
    copy[n++] = '*';
    copy[n] = 0;
    if (length == 0) {
        // A copy limit of 0 would mean the whole file: make an empty file.
        int out = fio_creat(&rec, copy, 0);
        if (out < 0 || fio_close(out) != 0) return -1;
    } else if (fio_copy(&rec, path, &rec, copy, length) != 0) {
        return -1;
    }
    if (fio_replace(&rec, path, &rec, copy) != 0) {
        int e = errno;
        fio_remove(&rec, copy);
        errno = e;
        return -1;
    }
    return 0;
}

int32_t fio_copy_range(int src, int dst, uint32_t srcOffset, uint32_t dstOffset, uint32_t n) {
    Slot* a = slot_of(src);
    Slot* b = slot_of(dst);
    if (!a || !b) return -1;
    if (srcOffset >= 0x80000000u || dstOffset >= 0x80000000u) {
        errno = TAV_E_SEEK;
        return -1;
    }
    if (!fio_length_fits(uint64_t(dstOffset) + n)) return -1;
    if (b->journal && journal_save(*b, dstOffset, n) < 0) return -1;
    if (!a->remote && !b->remote && !b->cached) {
        int64_t r = plat_copy_range(a->rec->result, srcOffset, b->rec->result, dstOffset, n);
        if (r == -1) return -1;
        if (r >= 0) {
            fio_local_content_changed();
            int64_t srcEnd = int64_t(srcOffset) + r, dstEnd = int64_t(dstOffset) + r;
            if (a->cached) {
                a->pos = srcEnd;
            } else if (plat_lseek(a->rec->result, int32_t(std::min<int64_t>(srcEnd, INT32_MAX)), 0) < 0) {
                return -1;
            }
            if (plat_lseek(b->rec->result, int32_t(std::min<int64_t>(dstEnd, INT32_MAX)), 0) < 0)
                return -1;
            return int32_t(r);
        }
    }
    // Remote descriptors, or files the kernel cannot copy between: through
    // a buffer.
    if (fio_seek_to(src, srcOffset) < 0 || fio_seek_to(dst, dstOffset) < 0) return -1;
    constexpr uint32_t kChunk = 1u << 20;
    MemBlock<uint8_t> buf(n < kChunk ? (n ? n : 1) : kChunk, 1);
    if (!buf) return -1;
    uint32_t done = 0;
    while (done < n) {
        uint32_t want = std::min(n - done, kChunk);
        int32_t r = fio_read(src, buf.get(), want);
        if (r < 0) return -1;
        if (r == 0) break;
        int32_t w = fio_write(dst, buf.get(), uint32_t(r));
        if (w < 0) return -1;
        if (w != r) {
            errno = TAV_EIO;
            return -1;
        }
        done += uint32_t(r);
        if (uint32_t(r) < want) break;
    }
    return int32_t(done);
}

int fio_sync(int fd) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    if (s->remote) return remote_flush(s->rec) < 0 ? -1 : 0;
    return plat_fsync(s->rec->result);
}

int fio_is_remote(int fd) {
    Slot* s = slot_of(fd);
    if (!s) return -1;
    return s->remote ? 1 : 0;
}

void fio_remote_close_result(FileLocation* loc, int32_t result) {
    if (!loc) return;
    const RpcEntries* e = plat_remote_bound();
    if (!e || !e->close) return;
    uint32_t flag = 0;
    e->close(loc->connection, &loc->remoteId, result, &flag);
}
