// The display order: the document names in "Display Order", each ended by a
// NUL byte. An empty name (a NUL where a name would start) ends the list.
//
// It is read in pieces of 33 bytes: the text up to the first NUL of a piece
// (never more than 32 bytes) is a name, and the next piece starts just
// behind that name's NUL, so a name longer than 32 bytes is read as its
// first 32 bytes followed by a name made of the rest.
//
// Fax programs leave orders the library would not write: names listed
// twice, names whose document is gone, names after an empty one, names in
// the Windows code page. A change of the order therefore edits the stored
// bytes: the names of documents that leave are cut out (every time they are
// listed), the new names go in, and every other byte stays as it was.
//
// A new order is written only after the old one has been copied to
// "TexoBackupDO"; when the new one cannot be written whole, the copy takes
// its place again.
#include <cstring>

#include "fileio/mem.h"
#include "formats/awd/awd_state.h"
#include "storage/stg_utils.h"

namespace {

constexpr uint32_t kNamePiece = kAwdNameMax + 1;
// A display order longer than this is taken for damage.
constexpr uint64_t kMaxOrderBytes = 64u << 20;
// Names read from one order at most (the document table's limit).
constexpr uint32_t kMaxOrderNames = 0xFFFF;

// The stream's bytes into a memory-table block (none for an empty stream).
uint32_t read_whole(StgStream* s, MemBlock<uint8_t>& out, uint32_t* size) {
    uint64_t end = 0, at = 0;
    *size = 0;
    if (uint32_t rc = s->ops->Seek(s, 0, kStgSeekEnd, &end)) return rc;
    if (end > kMaxOrderBytes) return TAV_E_SIZE;
    if (end == 0) return 0;
    out.reset(static_cast<uint8_t*>(mem_calloc(uint32_t(end), 1)));
    if (!out) return uint32_t(errno_or(TAV_ENOMEM));
    uint32_t got = 0;
    if (uint32_t rc = s->ops->Seek(s, 0, kStgSeekSet, &at)) return rc;
    if (uint32_t rc = s->ops->Read(s, out.get(), uint32_t(end), &got)) return rc;
    if (got != end) return TAV_STG_E_READFAULT;
    *size = uint32_t(end);
    return 0;
}

// Copies the display order into "TexoBackupDO" (replacing an old copy); a
// missing order is backed up as an empty one.
uint32_t back_up(StgStorage* global) {
    StgHold<StgStream> order, backup;
    uint32_t rc = stg_open_stream(global, kAwdDisplayOrder, kStgModeRead, order.put());
    if (rc && rc != TAV_STG_E_FILENOTFOUND) return rc;
    MemBlock<uint8_t> bytes;
    uint32_t size = 0;
    if (order && (rc = read_whole(order.get(), bytes, &size))) return rc;
    order.reset();
    if ((rc = stg_create_stream(global, kAwdOrderBackup, kStgModeCreate, backup.put()))) return rc;
    rc = size ? awd_write_all(backup.get(), bytes.get(), size) : 0;
    backup.reset();
    if (rc) stg_destroy(global, kAwdOrderBackup);
    return rc;
}

// Entry i's name is `name` (a name of at most 32 bytes).
bool entry_is(const AwdOrder& o, uint32_t i, const char* name) {
    const AwdOrderEntry& en = o.entries[i];
    return std::strlen(name) == en.length && std::memcmp(o.bytes.get() + en.start, name, en.length) == 0;
}

bool listed(const char* const* names, uint32_t count, const AwdOrder& o, uint32_t i) {
    for (uint32_t k = 0; k < count; ++k)
        if (entry_is(o, i, names[k])) return true;
    return false;
}

// Appends bytes to a buffer sized beforehand.
struct Out {
    uint8_t* p;
    uint32_t n = 0;
    void put(const void* bytes, uint32_t count) {
        if (count == 0) return;  // an empty order has no bytes at all
        std::memcpy(p + n, bytes, count);
        n += count;
    }
    void put_name(const char* name) { put(name, uint32_t(std::strlen(name)) + 1); }
};

}  // namespace

void AwdOrder::name(uint32_t i, char out[kAwdNameMax + 1]) const {
    std::memcpy(out, bytes.get() + entries[i].start, entries[i].length);
    out[entries[i].length] = 0;
}

uint32_t awd_parse_order(AwdOrder* o) {
    o->count = 0;
    o->end = 0;
    uint32_t max = std::min<uint32_t>(o->size / 2 + 1, kMaxOrderNames);
    o->entries.reset(static_cast<AwdOrderEntry*>(mem_calloc(max, sizeof(AwdOrderEntry))));
    if (!o->entries) return uint32_t(errno_or(TAV_ENOMEM));
    uint32_t pos = 0;
    while (pos < o->size && o->count < max) {
        // The piece's 33rd byte never belongs to the name.
        uint32_t piece = std::min(o->size - pos, kNamePiece - 1);
        const auto* at = reinterpret_cast<const char*>(o->bytes.get() + pos);
        uint32_t n = uint32_t(strnlen(at, piece));
        if (n == 0) break;
        o->entries[o->count++] = AwdOrderEntry{pos, n};
        pos = std::min(o->size, pos + n + 1);
    }
    o->end = pos;
    return 0;
}

uint32_t awd_load_order(StgStorage* root, AwdOrder* o) {
    StgHold<StgStorage> persistent, global;
    StgHold<StgStream> order;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeRead, persistent.put());
    if (rc == 0) rc = stg_open_storage(persistent.get(), kAwdGlobal, kStgModeRead, global.put());
    if (rc == 0) rc = stg_open_stream(global.get(), kAwdDisplayOrder, kStgModeRead, order.put());
    if (rc == 0) rc = read_whole(order.get(), o->bytes, &o->size);
    return rc ? rc : awd_parse_order(o);
}

bool awd_order_names(const AwdOrder& o, const char* name) {
    // Every run of bytes between NULs, also past an empty name, cut to the
    // 32 bytes a name can have.
    size_t length = std::strlen(name);
    for (uint32_t pos = 0; pos < o.size;) {
        const auto* at = reinterpret_cast<const char*>(o.bytes.get() + pos);
        uint32_t n = uint32_t(strnlen(at, o.size - pos));
        if (std::min<uint32_t>(n, kAwdNameMax) == length && n > 0 && std::memcmp(at, name, length) == 0)
            return true;
        pos += n + 1;
    }
    return false;
}

uint32_t awd_edit_order(const AwdOrder& o, const AwdOrderEdit& edit, MemBlock<uint8_t>& out, uint32_t* size) {
    uint64_t total = o.size + 1;  // one NUL more when the last name had none
    for (uint32_t k = 0; k < edit.arrivingCount; ++k) total += std::strlen(edit.arriving[k]) + 1;
    if (total > kMaxOrderBytes) return TAV_E_SIZE;
    out.reset(static_cast<uint8_t*>(mem_calloc(uint32_t(total), 1)));
    if (!out) return uint32_t(errno_or(TAV_ENOMEM));
    Out w{out.get()};
    bool placed = false;
    auto arrive = [&] {
        for (uint32_t k = 0; k < edit.arrivingCount; ++k) w.put_name(edit.arriving[k]);
        placed = true;
    };
    for (uint32_t i = 0; i < o.count; ++i) {
        if (!placed && edit.before && entry_is(o, i, edit.before)) arrive();
        if (listed(edit.leaving, edit.leavingCount, o, i)) continue;
        const AwdOrderEntry& en = o.entries[i];
        w.put(o.bytes.get() + en.start, en.length);
        // The byte after the name: its NUL, or the 33rd byte of a long name.
        if (en.start + en.length < o.size) w.put(o.bytes.get() + en.start + en.length, 1);
        else w.put("", 1);
    }
    if (!placed) arrive();
    // What follows the list (an empty name and anything after it) stays.
    w.put(o.bytes.get() + o.end, o.size - o.end);
    *size = w.n;
    return 0;
}

uint32_t awd_write_display_order(StgStorage* root, const uint8_t* bytes, uint32_t size) {
    StgHold<StgStorage> persistent, global;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc == 0) rc = stg_open_storage(persistent.get(), kAwdGlobal, kStgModeWrite, global.put());
    if (rc == 0) rc = back_up(global.get());
    if (rc) return rc;
    StgHold<StgStream> order;
    rc = stg_create_stream(global.get(), kAwdDisplayOrder, kStgModeCreate, order.put());
    if (rc == 0 && size) rc = awd_write_all(order.get(), bytes, size);
    order.reset();
    if (rc) {
        // The old order comes back from its copy.
        stg_destroy(global.get(), kAwdDisplayOrder);
        stg_rename(global.get(), kAwdOrderBackup, kAwdDisplayOrder);
    }
    return rc;
}

void awd_drop_backup(StgStorage* root) {
    StgHold<StgStorage> persistent, global;
    if (stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put()) == 0 &&
        stg_open_storage(persistent.get(), kAwdGlobal, kStgModeWrite, global.put()) == 0)
        stg_destroy(global.get(), kAwdOrderBackup);
}
