// The storage, stream and enumerator objects over the compound-file engine,
// the task allocator, and the platform calls that open and create files.
// Objects keep their file alive; the process keeps a table of open files
// (for the exclusive-open rule) and a registry of live storage objects (so a
// storage reference can be checked without being dereferenced).
//
// Threads: the table, the registry and the files' reference counts are
// guarded by one mutex, which is never held across a file read, write or
// flush: a file is loaded before it enters the table and flushed after it
// has left it. Each file's own state is guarded by its own mutex.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/plat_file.h"
#include "platform/plat_text.h"
#include "storage/cfb_file.h"
#include "storage/stg_api.h"

using namespace cfb;

namespace {

// The longest path taken, in UTF-16 units.
constexpr size_t kPathUnitsMax = 4096;
// Bytes moved per step of a copy.
constexpr uint32_t kCopyChunk = 256 * 1024;

struct OpenFile {
    uint64_t dev, ino;
};

std::mutex g_registryMutex;
StgVector<OpenFile>* g_openFiles;     // files open in the process
StgSet<uintptr_t>* g_liveStorages;    // storage objects alive

template <class T>
T& registry(T*& table) {
    if (!table) {
        table = stg_new<T>();
        if (!table) throw std::bad_alloc();
    }
    return *table;
}

// The locks of a copy's source and destination files (one lock when both
// are the same file; two taken without deadlock otherwise), and the status
// of the first of them that is broken.
class CopyLocks {
public:
    CopyLocks(CfbFile* from, CfbFile* to)
        : from_(from), to_(to), first_(from->mutex, std::defer_lock), second_(to->mutex, std::defer_lock) {
        if (from == to)
            first_.lock();
        else
            std::lock(first_, second_);
    }
    uint32_t broken() const { return from_->broken() ? from_->broken() : to_->broken(); }

private:
    CfbFile* from_;
    CfbFile* to_;
    std::unique_lock<std::mutex> first_, second_;
};

struct StorageObj {
    StgStorage iface;
    uint32_t refs;
    CfbFile* file;
    uint32_t node;
    uint32_t mode;
};

struct StreamObj {
    StgStream iface;
    uint32_t refs;
    CfbFile* file;
    uint32_t node;
    uint32_t mode;
    uint64_t pos;
};

struct EnumItem {
    CfbName name;
    uint8_t type;
    uint32_t size;
    uint64_t created, modified;
    std::array<uint8_t, 16> clsid;
    uint32_t stateBits;
};

struct EnumObj {
    StgEnum iface;
    uint32_t refs;
    StgVector<EnumItem> items;
    size_t next;
};

extern const StgStorageOps kStorageOps;
extern const StgStreamOps kStreamOps;
extern const StgEnumOps kEnumOps;

StorageObj* as_storage(StgStorage* s) { return reinterpret_cast<StorageObj*>(s); }
StreamObj* as_stream(StgStream* s) { return reinterpret_cast<StreamObj*>(s); }
EnumObj* as_enum(StgEnum* s) { return reinterpret_cast<EnumObj*>(s); }

bool writable_mode(uint32_t mode) { return (mode & kStgmReadWrite) != 0; }

// Runs fn under the file's lock. A file left broken by a failed change
// answers with that failure; no memory ends the call with its status (and
// breaks the file when fn was changing it).
template <class F>
uint32_t guarded(CfbFile* f, bool changes, F&& fn) {
    std::lock_guard<std::mutex> lock(f->mutex);
    if (f->broken()) return f->broken();
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        if (changes) f->mark_broken(TAV_STG_E_INSUFFICIENTMEMORY);
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

// Drops a reference; the last one takes the file out of the table, then
// flushes and closes it.
void drop_file(CfbFile* f) {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        if (!f->drop()) return;
        if (g_openFiles) {
            auto& files = *g_openFiles;
            for (size_t i = 0; i < files.size(); ++i)
                if (files[i].dev == f->dev && files[i].ino == f->ino) {
                    files.erase(files.begin() + long(i));
                    break;
                }
        }
    }
    stg_delete(f);
}

// A name given by a caller: 1 to 31 units, none of them / \ : or !.
uint32_t take_name(const char16_t* in, CfbName* out) {
    if (!in) return TAV_STG_E_INVALIDPOINTER;
    uint32_t len = 0;
    while (len <= kStgNameMax && in[len]) ++len;
    if (len == 0 || len > kStgNameMax) return TAV_STG_E_INVALIDNAME;
    for (uint32_t i = 0; i < len; ++i) {
        char16_t c = in[i];
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return TAV_STG_E_INVALIDNAME;
        out->units[i] = c;
    }
    out->len = uint8_t(len);
    return TAV_S_OK;
}

char16_t* copy_name(const CfbName& name) {
    auto* out = static_cast<char16_t*>(plat_alloc((name.len + 1) * sizeof(char16_t)));
    if (out) std::copy(name.units.begin(), name.units.begin() + name.len, out);
    return out;
}

uint32_t fill_stat(const CfbNode& n, uint32_t mode, uint32_t flag, StatStg* out) {
    std::memset(out, 0, sizeof *out);
    if (flag != kStatNoName) {
        out->name = copy_name(n.name);
        if (!out->name) return TAV_STG_E_INSUFFICIENTMEMORY;
    }
    out->type = n.type == kTypeStream ? kStgTypeStream : kStgTypeStorage;
    out->size = n.type == kTypeStream ? n.size : 0;
    out->mtime = n.modified;
    out->ctime = n.created;
    out->mode = mode;
    std::memcpy(out->clsid, n.clsid.data(), sizeof out->clsid);
    out->stateBits = n.stateBits;
    return TAV_S_OK;
}

// New objects take a reference on the file and mark the element open.
StorageObj* new_storage(CfbFile* f, uint32_t node, uint32_t mode) {
    auto* s = stg_new<StorageObj>();
    if (!s) throw std::bad_alloc();
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        try {
            registry(g_liveStorages).insert(reinterpret_cast<uintptr_t>(s));
        } catch (const std::bad_alloc&) {
            stg_delete(s);
            throw;
        }
        f->retain();
    }
    *s = StorageObj{{&kStorageOps}, 1, f, node, mode};
    f->node(node).opens++;
    return s;
}

StreamObj* new_stream(CfbFile* f, uint32_t node, uint32_t mode) {
    auto* s = stg_new<StreamObj>();
    if (!s) throw std::bad_alloc();
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        f->retain();
    }
    *s = StreamObj{{&kStreamOps}, 1, f, node, mode, 0};
    f->node(node).opens++;
    return s;
}

// ---- streams ----

uint32_t stream_add_ref(StgStream* self) { return ++as_stream(self)->refs; }

uint32_t stream_release(StgStream* self) {
    StreamObj* s = as_stream(self);
    if (--s->refs) return s->refs;
    CfbFile* f = s->file;
    {
        std::lock_guard<std::mutex> lock(f->mutex);
        f->node(s->node).opens--;
    }
    stg_delete(s);
    drop_file(f);
    return 0;
}

uint32_t stream_read(StgStream* self, void* buf, uint32_t count, uint32_t* done) {
    StreamObj* s = as_stream(self);
    if (done) *done = 0;
    if (!buf && count) return TAV_STG_E_INVALIDPOINTER;
    return guarded(s->file, false, [&] {
        uint32_t n = 0;
        uint32_t rc = s->file->read(s->node, s->pos, buf, count, &n);
        s->pos += n;
        if (done) *done = n;
        return rc;
    });
}

uint32_t stream_write(StgStream* self, const void* buf, uint32_t count, uint32_t* done) {
    StreamObj* s = as_stream(self);
    if (done) *done = 0;
    if (!buf && count) return TAV_STG_E_INVALIDPOINTER;
    if (!writable_mode(s->mode)) return TAV_STG_E_ACCESSDENIED;
    return guarded(s->file, true, [&] {
        uint32_t rc = s->file->write(s->node, s->pos, buf, count);
        if (rc) return rc;
        s->pos += count;
        if (done) *done = count;
        return rc;
    });
}

uint32_t stream_seek(StgStream* self, int64_t move, uint32_t origin, uint64_t* position) {
    StreamObj* s = as_stream(self);
    return guarded(s->file, false, [&]() -> uint32_t {
        int64_t base;
        switch (origin) {
        case kStgSeekSet: base = 0; break;
        case kStgSeekCur: base = int64_t(s->pos); break;
        case kStgSeekEnd: base = s->file->node(s->node).size; break;
        default: return TAV_STG_E_INVALIDFUNCTION;
        }
        if (move < -base || move > INT64_MAX - base) return TAV_STG_E_INVALIDFUNCTION;
        s->pos = uint64_t(base + move);
        if (position) *position = s->pos;
        return TAV_S_OK;
    });
}

uint32_t stream_set_size(StgStream* self, uint64_t size) {
    StreamObj* s = as_stream(self);
    if (!writable_mode(s->mode)) return TAV_STG_E_ACCESSDENIED;
    return guarded(s->file, true, [&] { return s->file->set_size(s->node, size); });
}

// Copies through a buffer, one step at a time, holding both files' locks.
uint32_t stream_copy_to(StgStream* self, StgStream* to, uint64_t count, uint64_t* read,
                        uint64_t* written) {
    if (read) *read = 0;
    if (written) *written = 0;
    if (!to || to->ops != &kStreamOps) return TAV_STG_E_INVALIDPOINTER;
    StreamObj* s = as_stream(self);
    StreamObj* d = as_stream(to);
    if (!writable_mode(d->mode)) return TAV_STG_E_ACCESSDENIED;
    CopyLocks locks(s->file, d->file);
    if (uint32_t status = locks.broken()) return status;
    try {
        StgVector<uint8_t> buf(size_t(std::min<uint64_t>(count, kCopyChunk)));
        for (uint64_t left = count; left > 0;) {
            uint32_t n = 0;
            uint32_t want = uint32_t(std::min<uint64_t>(left, buf.size()));
            if (uint32_t rc = s->file->read(s->node, s->pos, buf.data(), want, &n)) return rc;
            if (n == 0) break;
            s->pos += n;
            if (read) *read += n;
            if (uint32_t rc = d->file->write(d->node, d->pos, buf.data(), n)) return rc;
            d->pos += n;
            if (written) *written += n;
            left -= n;
        }
    } catch (const std::bad_alloc&) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
    return TAV_S_OK;
}

uint32_t stream_stat(StgStream* self, StatStg* out, uint32_t flag) {
    StreamObj* s = as_stream(self);
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    return guarded(s->file, false, [&] { return fill_stat(s->file->node(s->node), s->mode, flag, out); });
}

const StgStreamOps kStreamOps = {
    stream_add_ref, stream_release, stream_read,    stream_write,
    stream_seek,    stream_set_size, stream_copy_to, stream_stat,
};

// ---- enumerators ----

uint32_t enum_add_ref(StgEnum* self) { return ++as_enum(self)->refs; }

uint32_t enum_release(StgEnum* self) {
    EnumObj* e = as_enum(self);
    if (--e->refs) return e->refs;
    stg_delete(e);
    return 0;
}

uint32_t enum_next(StgEnum* self, uint32_t count, StatStg* out, uint32_t* fetched) {
    EnumObj* e = as_enum(self);
    if (fetched) *fetched = 0;
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    if (!fetched && count != 1) return TAV_STG_E_INVALIDPARAMETER;
    uint32_t got = 0;
    for (; got < count && e->next < e->items.size(); ++got, ++e->next) {
        const EnumItem& item = e->items[e->next];
        CfbNode n;
        n.name = item.name;
        n.type = item.type;
        n.size = item.size;
        n.created = item.created;
        n.modified = item.modified;
        n.clsid = item.clsid;
        n.stateBits = item.stateBits;
        if (uint32_t rc = fill_stat(n, 0, kStatDefault, &out[got])) {
            for (uint32_t i = 0; i < got; ++i) plat_free(out[i].name);
            e->next -= got;
            return rc;
        }
    }
    if (fetched) *fetched = got;
    return got == count ? TAV_S_OK : TAV_S_FALSE;
}

const StgEnumOps kEnumOps = {enum_add_ref, enum_release, enum_next};

// ---- storages ----

uint32_t storage_add_ref(StgStorage* self) { return ++as_storage(self)->refs; }

uint32_t storage_release(StgStorage* self) {
    StorageObj* s = as_storage(self);
    if (--s->refs) return s->refs;
    CfbFile* f = s->file;
    {
        std::lock_guard<std::mutex> lock(f->mutex);
        f->node(s->node).opens--;
    }
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        g_liveStorages->erase(reinterpret_cast<uintptr_t>(s));
    }
    stg_delete(s);
    drop_file(f);
    return 0;
}

// The checks every open or create of an element shares: the out cell, the
// reserved words, the mode, the name and write access.
uint32_t element_checks(StorageObj* s, const char16_t* name, uint32_t mode, bool create,
                        bool reservedSet, void* out, CfbName* n) {
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    if (reservedSet) return TAV_STG_E_INVALIDPARAMETER;
    bool modeOk = create ? (mode == kStgModeWrite || mode == kStgModeCreate)
                         : (mode == kStgModeRead || mode == kStgModeWrite);
    if (!modeOk) return TAV_STG_E_INVALIDFLAG;
    if (uint32_t rc = take_name(name, n)) return rc;
    if (writable_mode(mode) && !writable_mode(s->mode)) return TAV_STG_E_ACCESSDENIED;
    return TAV_S_OK;
}

// An element to be created: a same-named one is refused without the create
// flag, else replaced (a stream of the same kind is emptied in place).
uint32_t make_element(StorageObj* s, const CfbName& name, uint8_t type, uint32_t mode, uint32_t* id) {
    CfbFile* f = s->file;
    uint32_t old = f->find(s->node, name);
    if (old != kNoNode) {
        if (!(mode & kStgmCreate)) return TAV_STG_E_FILEALREADYEXISTS;
        if (f->subtree_open(old)) return TAV_STG_E_ACCESSDENIED;
        if (type == kTypeStream && f->node(old).type == kTypeStream) {
            *id = old;
            return f->set_size(old, 0);
        }
        if (uint32_t rc = f->destroy_element(s->node, old)) return rc;
    }
    return f->create_element(s->node, name, type, id);
}

// Creates (create set) or opens the child element `name` of `type` and
// hands out its object, which newObject(file, id, mode) makes. A create
// replaces a same-named element (make_element); an open finds an element of
// that type that is not open already.
template <typename Iface, typename NewObject>
uint32_t child_element(StorageObj* s, const char16_t* name, uint32_t mode, bool create,
                       bool reservedSet, uint8_t type, Iface** out, NewObject newObject) {
    if (out) *out = nullptr;
    CfbName n;
    if (uint32_t rc = element_checks(s, name, mode, create, reservedSet, out, &n)) return rc;
    return guarded(s->file, create, [&]() -> uint32_t {
        if (create) {
            uint32_t id;
            if (uint32_t rc = make_element(s, n, type, mode, &id)) return rc;
            *out = &newObject(s->file, id, mode & ~kStgmCreate)->iface;
            return TAV_S_OK;
        }
        uint32_t id = s->file->find(s->node, n);
        if (id == kNoNode || s->file->node(id).type != type) return TAV_STG_E_FILENOTFOUND;
        if (s->file->node(id).opens) return TAV_STG_E_SHAREVIOLATION;
        *out = &newObject(s->file, id, mode)->iface;
        return TAV_S_OK;
    });
}

uint32_t storage_create_stream(StgStorage* self, const char16_t* name, uint32_t mode, uint32_t r1,
                               uint32_t r2, StgStream** out) {
    return child_element(as_storage(self), name, mode, true, r1 || r2, kTypeStream, out, new_stream);
}

uint32_t storage_open_stream(StgStorage* self, const char16_t* name, void* r1, uint32_t mode,
                             uint32_t r2, StgStream** out) {
    return child_element(as_storage(self), name, mode, false, r1 || r2, kTypeStream, out, new_stream);
}

uint32_t storage_create_storage(StgStorage* self, const char16_t* name, uint32_t mode, uint32_t r1,
                                uint32_t r2, StgStorage** out) {
    return child_element(as_storage(self), name, mode, true, r1 || r2, kTypeStorage, out, new_storage);
}

uint32_t storage_open_storage(StgStorage* self, const char16_t* name, StgStorage* priority,
                              uint32_t mode, char16_t** exclude, uint32_t reserved,
                              StgStorage** out) {
    const bool reservedSet = priority || exclude || reserved;
    return child_element(as_storage(self), name, mode, false, reservedSet, kTypeStorage, out,
                         new_storage);
}

// Copies the stream src of one file into the new or emptied stream dst.
uint32_t copy_stream_data(CfbFile* from, uint32_t src, CfbFile* to, uint32_t dst, StgVector<uint8_t>& buf) {
    uint32_t size = from->node(src).size;
    for (uint32_t pos = 0; pos < size;) {
        uint32_t n = 0;
        if (uint32_t rc = from->read(src, pos, buf.data(), uint32_t(buf.size()), &n)) return rc;
        if (n == 0) return TAV_STG_E_DOCFILECORRUPT;
        if (uint32_t rc = to->write(dst, pos, buf.data(), n)) return rc;
        pos += n;
    }
    return TAV_S_OK;
}

// Copies one element of `from` into the storage dst of `to`; a storage's
// pair goes on the stack for its own children.
uint32_t copy_element(CfbFile* from, uint32_t src, CfbFile* to, uint32_t dst,
                      StgVector<std::pair<uint32_t, uint32_t>>& stack, StgVector<uint8_t>& buf) {
    CfbName name = from->node(src).name;
    uint8_t type = from->node(src).type;
    uint32_t old = to->find(dst, name);
    uint32_t id = kNoNode;
    if (old != kNoNode) {
        if (to->subtree_open(old)) return TAV_STG_E_ACCESSDENIED;
        if (to->node(old).type != type) {
            if (uint32_t rc = to->destroy_element(dst, old)) return rc;
        } else {
            id = old;
            if (type == kTypeStream)
                if (uint32_t rc = to->set_size(id, 0)) return rc;
        }
    }
    if (id == kNoNode)
        if (uint32_t rc = to->create_element(dst, name, type, &id)) return rc;
    if (type == kTypeStream) return copy_stream_data(from, src, to, id, buf);
    stack.push_back({src, id});
    return to->set_class(id, from->node(src).clsid, from->node(src).stateBits);
}

uint32_t copy_tree(CfbFile* from, uint32_t src, CfbFile* to, uint32_t dst) {
    if (from == to && from->in_subtree(src, dst)) return TAV_STG_E_ACCESSDENIED;
    StgVector<uint8_t> buf(kCopyChunk);
    StgVector<std::pair<uint32_t, uint32_t>> stack{{src, dst}};
    if (uint32_t rc = to->set_class(dst, from->node(src).clsid, from->node(src).stateBits)) return rc;
    StgVector<uint32_t> kids;
    while (!stack.empty()) {
        auto [s, d] = stack.back();
        stack.pop_back();
        from->children(s, &kids);
        for (uint32_t k : kids)
            if (uint32_t rc = copy_element(from, k, to, d, stack, buf)) return rc;
    }
    return TAV_S_OK;
}

uint32_t storage_copy_to(StgStorage* self, uint32_t excludeIidCount, const void* excludeIids,
                         char16_t** excludeNames, StgStorage* dest) {
    StorageObj* s = as_storage(self);
    if (excludeIidCount || excludeIids || excludeNames) return TAV_STG_E_INVALIDPARAMETER;
    if (!dest || dest->ops != &kStorageOps) return TAV_STG_E_INVALIDPOINTER;
    StorageObj* d = as_storage(dest);
    if (!writable_mode(d->mode)) return TAV_STG_E_ACCESSDENIED;
    CopyLocks locks(s->file, d->file);
    if (uint32_t status = locks.broken()) return status;
    try {
        return copy_tree(s->file, s->node, d->file, d->node);
    } catch (const std::bad_alloc&) {
        d->file->mark_broken(TAV_STG_E_INSUFFICIENTMEMORY);
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

uint32_t storage_enum_elements(StgStorage* self, uint32_t r1, void* r2, uint32_t r3, StgEnum** out) {
    StorageObj* s = as_storage(self);
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (r1 || r2 || r3) return TAV_STG_E_INVALIDPARAMETER;
    return guarded(s->file, false, [&] {
        // The enumerator lists the elements as they were when it was made.
        auto* e = stg_new<EnumObj>();
        if (!e) return TAV_STG_E_INSUFFICIENTMEMORY;
        e->iface.ops = &kEnumOps;
        e->refs = 1;
        try {
            StgVector<uint32_t> kids;
            s->file->children(s->node, &kids);
            e->items.reserve(kids.size());
            for (uint32_t k : kids) {
                const CfbNode& n = s->file->node(k);
                e->items.push_back({n.name, n.type, n.size, n.created, n.modified, n.clsid, n.stateBits});
            }
        } catch (const std::bad_alloc&) {
            stg_delete(e);
            throw;
        }
        *out = &e->iface;
        return TAV_S_OK;
    });
}

uint32_t storage_destroy_element(StgStorage* self, const char16_t* name) {
    StorageObj* s = as_storage(self);
    CfbName n;
    if (uint32_t rc = take_name(name, &n)) return rc;
    if (!writable_mode(s->mode)) return TAV_STG_E_ACCESSDENIED;
    return guarded(s->file, true, [&] {
        uint32_t id = s->file->find(s->node, n);
        if (id == kNoNode) return TAV_STG_E_FILENOTFOUND;
        if (s->file->subtree_open(id)) return TAV_STG_E_ACCESSDENIED;
        return s->file->destroy_element(s->node, id);
    });
}

uint32_t storage_rename_element(StgStorage* self, const char16_t* oldName, const char16_t* newName) {
    StorageObj* s = as_storage(self);
    CfbName from, to;
    if (uint32_t rc = take_name(oldName, &from)) return rc;
    if (uint32_t rc = take_name(newName, &to)) return rc;
    if (!writable_mode(s->mode)) return TAV_STG_E_ACCESSDENIED;
    return guarded(s->file, true, [&] {
        uint32_t id = s->file->find(s->node, from);
        if (id == kNoNode) return TAV_STG_E_FILENOTFOUND;
        if (s->file->subtree_open(id)) return TAV_STG_E_ACCESSDENIED;
        return s->file->rename_element(s->node, id, to);
    });
}

uint32_t storage_stat(StgStorage* self, StatStg* out, uint32_t flag) {
    StorageObj* s = as_storage(self);
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    return guarded(s->file, false, [&] { return fill_stat(s->file->node(s->node), s->mode, flag, out); });
}

const StgStorageOps kStorageOps = {
    storage_add_ref,        storage_release,         storage_create_stream,
    storage_open_stream,    storage_create_storage,  storage_open_storage,
    storage_copy_to,        storage_enum_elements,   storage_destroy_element,
    storage_rename_element, storage_stat,
};

// ---- the task allocator ----

uint32_t malloc_add_ref(StgMalloc*) { return 1; }
uint32_t malloc_release(StgMalloc*) { return 1; }
void malloc_free(StgMalloc*, void* block) { plat_free(block); }

const StgMallocOps kMallocOps = {malloc_add_ref, malloc_release, malloc_free};
StgMalloc g_taskMalloc = {&kMallocOps};

// ---- files ----

// A caller's UTF-16 path as the file layer takes it.
uint32_t narrow_path(const char16_t* path, StgVector<char>* out) {
    if (!path) return TAV_STG_E_INVALIDNAME;
    size_t len = 0;
    while (len <= kPathUnitsMax && path[len]) ++len;
    if (len == 0 || len > kPathUnitsMax) return TAV_STG_E_INVALIDNAME;
    out->assign(len * 3 + 1, 0);
    size_t n = plat_utf16_to_utf8(path, len, out->data(), out->size() - 1);
    if (n == 0) return TAV_STG_E_INVALIDNAME;
    (*out)[n] = 0;
    return TAV_S_OK;
}

// The status of a failed open or create of path: what stands in the way.
uint32_t open_failure(const char* path, int code) {
    if (code == TAV_ENOENT) return TAV_STG_E_FILENOTFOUND;
    if (code == TAV_EEXIST) return TAV_STG_E_FILEALREADYEXISTS;
    if (code == TAV_ENOMEM) return TAV_STG_E_INSUFFICIENTMEMORY;
    if (code != TAV_EACCES) return TAV_STG_E_ACCESSDENIED;
    // 13 is also the answer of a lock held elsewhere.
    PlatAttributes attr{};
    if (plat_attributes(path, &attr) < 0 || attr.directory || attr.readOnly) return TAV_STG_E_ACCESSDENIED;
    return TAV_STG_E_SHAREVIOLATION;
}

// Whether a file of that identity is open in this process (with the
// registry lock held).
bool open_in_process(const OpenFile& id) {
    if (!g_openFiles) return false;
    for (const OpenFile& f : *g_openFiles)
        if (f.dev == id.dev && f.ino == id.ino) return true;
    return false;
}

// Whether the file at path is open in this process; fills its identity
// when it exists.
bool path_open_in_process(const char* path, OpenFile* id) {
    id->dev = id->ino = 0;
    if (plat_file_id(path, false, &id->dev, &id->ino) < 0) return false;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return open_in_process(*id);
}

// Enters a loaded file in the table, unless another thread entered the
// same file meanwhile (the first open of a file in the process wins).
uint32_t enter_file(CfbFile* f, const char* path) {
    (void)plat_file_id(path, false, &f->dev, &f->ino);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (open_in_process({f->dev, f->ino})) return TAV_STG_E_SHAREVIOLATION;
    try {
        registry(g_openFiles).push_back({f->dev, f->ino});
    } catch (const std::bad_alloc&) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
    return TAV_S_OK;
}

// Opens or creates the file, loads it, enters it in the table of open
// files (so two opens of one file in the process cannot cross) and hands
// out its root storage.
template <class OpenFd, class MakeFile>
uint32_t root_storage(const char16_t* path, uint32_t mode, StgStorage** out, OpenFd open_fd,
                      MakeFile make_file) {
    StgVector<char> narrow;
    if (uint32_t rc = narrow_path(path, &narrow)) return rc;
    OpenFile id;
    if (path_open_in_process(narrow.data(), &id)) return TAV_STG_E_SHAREVIOLATION;
    int fd = open_fd(narrow.data());
    if (fd < 0) return open_failure(narrow.data(), errno);
    CfbFile* f = nullptr;
    if (uint32_t rc = make_file(fd, &f)) {
        (void)plat_close(fd);
        return rc;
    }
    if (uint32_t rc = enter_file(f, narrow.data())) {
        stg_delete(f);
        return rc;
    }
    try {
        std::lock_guard<std::mutex> lock(f->mutex);
        *out = &new_storage(f, kRootNode, mode)->iface;
    } catch (const std::bad_alloc&) {
        drop_file(f);
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
    // The storage holds its own reference now.
    drop_file(f);
    return TAV_S_OK;
}

}  // namespace

uint32_t StgIsStorageFile(const char16_t* path) {
    try {
        StgVector<char> narrow;
        if (uint32_t rc = narrow_path(path, &narrow)) return rc;
        int fd = plat_open(narrow.data(), kPlatRead);
        if (fd < 0) return open_failure(narrow.data(), errno);
        std::array<uint8_t, kSignature.size()> head{};
        int32_t n = plat_pread(fd, head.data(), uint32_t(head.size()), 0);
        int64_t size = plat_file_size(fd);
        (void)plat_close(fd);
        if (n < 0 || size < 0) return TAV_STG_E_READFAULT;
        bool storage = size >= int64_t(kHeaderBytes) && head == kSignature;
        return storage ? TAV_S_OK : TAV_S_FALSE;
    } catch (const std::bad_alloc&) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

uint32_t StgOpenStorage(const char16_t* path, StgStorage* priority, uint32_t mode, char16_t** exclude,
                        uint32_t reserved, StgStorage** out) {
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (priority || exclude || reserved) return TAV_STG_E_INVALIDPARAMETER;
    if (mode != kStgModeRead && mode != kStgModeWrite) return TAV_STG_E_INVALIDFLAG;
    bool write = writable_mode(mode);
    try {
        return root_storage(
            path, mode, out, [&](const char* p) { return plat_open_shared(p, write); },
            [&](int fd, CfbFile** f) { return CfbFile::open(fd, write, f); });
    } catch (const std::bad_alloc&) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

uint32_t stg_create_docfile_shift(const char16_t* path, uint32_t mode, uint16_t sectorShift,
                                  StgStorage** out) {
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (mode != kStgModeCreate && mode != kStgModeWrite) return TAV_STG_E_INVALIDFLAG;
    bool replace = (mode & kStgmCreate) != 0;
    try {
        return root_storage(
            path, mode & ~kStgmCreate, out,
            [&](const char* p) { return replace ? plat_create_replace(p) : plat_creat(p, 0); },
            [&](int fd, CfbFile** f) { return CfbFile::create(fd, sectorShift, f); });
    } catch (const std::bad_alloc&) {
        return TAV_STG_E_INSUFFICIENTMEMORY;
    }
}

uint32_t StgCreateDocfile(const char16_t* path, uint32_t mode, uint32_t reserved, StgStorage** out) {
    if (reserved) return TAV_STG_E_INVALIDPARAMETER;
    return stg_create_docfile_shift(path, mode, kShiftVersion3, out);
}

uint32_t StgGetMalloc(uint32_t context, StgMalloc** out) {
    if (!out) return TAV_STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (context != kStgTaskMemory) return TAV_STG_E_INVALIDPARAMETER;
    *out = &g_taskMalloc;
    return TAV_S_OK;
}

StgStorage* stg_live_storage(uintptr_t address) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (!g_liveStorages || !g_liveStorages->count(address)) return nullptr;
    return reinterpret_cast<StgStorage*>(address);
}
