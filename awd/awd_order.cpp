// The display order: the document names in "Display Order", each ended by a
// NUL byte. An empty name (a NUL where a name would start) ends the list.
//
// It is read in pieces of 33 bytes: the text up to the first NUL of a piece
// (never more than 32 bytes) is a name, and the next piece starts just
// behind that name's NUL, so a name longer than 32 bytes is read as its
// first 32 bytes followed by a name made of the rest.
//
// A new order is written only after the old one has been copied to
// "TexoBackupDO"; when the new one cannot be written whole, the copy takes
// its place again.
#include <cstring>

#include "awd/awd_state.h"
#include "awd/stg_utils.h"
#include "fileio/mem.h"

namespace {

constexpr uint32_t kNamePiece = kAwdNameMax + 1;
// A display order longer than this is taken for damage.
constexpr uint64_t kMaxOrderBytes = 64u << 20;

// Copies the display order into "TexoBackupDO" (replacing an old copy); a
// missing order is backed up as an empty one.
uint32_t back_up(StgStorage* global) {
    StgHold<StgStream> order, backup;
    uint32_t rc = stg_open_stream(global, kAwdDisplayOrder, kStgModeRead, order.put());
    if (rc && rc != TAV_STG_E_FILENOTFOUND) return rc;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (order && (rc = awd_read_stream(order.get(), &bytes, &size))) return rc;
    MemBlock<uint8_t> held(bytes);
    // An empty stream reads as one NUL byte; its copy stays empty.
    bool empty = !order || (size == 1 && bytes[0] == 0);
    order.reset();
    if ((rc = stg_create_stream(global, kAwdOrderBackup, kStgModeCreate, backup.put()))) return rc;
    rc = empty ? 0 : awd_write_all(backup.get(), bytes, size);
    backup.reset();
    if (rc) stg_destroy(global, kAwdOrderBackup);
    return rc;
}

// The names one after the other, each ended by a NUL, into a memory-table
// block.
uint32_t serialise(const AwdDocEntry* names, uint32_t count, MemBlock<uint8_t>& out, uint32_t* size) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (names[i].name[0]) total += std::strlen(names[i].name) + 1;
    if (total > kMaxOrderBytes) return TAV_E_SIZE;
    out.reset(static_cast<uint8_t*>(mem_calloc(uint32_t(total ? total : 1), 1)));
    if (!out) return uint32_t(errno_or(TAV_ENOMEM));
    uint32_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        size_t n = std::strlen(names[i].name);
        if (n == 0) continue;
        std::memcpy(out.get() + at, names[i].name, n + 1);
        at += uint32_t(n + 1);
    }
    *size = at;
    return 0;
}

}  // namespace

uint32_t awd_read_stream(StgStream* s, uint8_t** out, uint32_t* size) {
    *out = nullptr;
    *size = 0;
    uint64_t end = 0;
    if (uint32_t rc = s->ops->Seek(s, 0, kStgSeekEnd, &end)) return rc;
    if (end > kMaxOrderBytes) return TAV_E_SIZE;
    uint32_t n = uint32_t(end);
    MemBlock<uint8_t> buf(n ? n : 1, 1);
    if (!buf) return uint32_t(errno_or(TAV_ENOMEM));
    if (n) {
        uint64_t at = 0;
        uint32_t got = 0;
        if (uint32_t rc = s->ops->Seek(s, 0, kStgSeekSet, &at)) return rc;
        if (uint32_t rc = s->ops->Read(s, buf.get(), n, &got)) return rc;
        if (got != n) return TAV_STG_E_READFAULT;
    }
    *size = n ? n : 1;
    *out = buf.release();
    return 0;
}

uint32_t awd_read_order_names(StgStream* order, AwdDocEntry* table, uint32_t max) {
    uint64_t pos = 0;
    uint32_t count = 0;
    while (count < max) {
        char piece[kNamePiece] = {};
        uint64_t at = 0;
        uint32_t got = 0;
        if (order->ops->Seek(order, int64_t(pos), kStgSeekSet, &at) != 0 ||
            order->ops->Read(order, piece, kNamePiece, &got) != 0 || got == 0)
            break;
        piece[kAwdNameMax] = 0;
        size_t n = std::strlen(piece);
        if (n == 0) break;
        std::memcpy(table[count].name, piece, n + 1);
        ++count;
        pos += n + 1;
    }
    return count;
}

uint32_t awd_write_display_order(StgStorage* root, const AwdDocEntry* names, uint32_t count) {
    MemBlock<uint8_t> bytes;
    uint32_t size = 0;
    if (uint32_t rc = serialise(names, count, bytes, &size)) return rc;
    StgHold<StgStorage> persistent, global;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc == 0) rc = stg_open_storage(persistent.get(), kAwdGlobal, kStgModeWrite, global.put());
    if (rc == 0) rc = back_up(global.get());
    if (rc) return rc;
    StgHold<StgStream> order;
    rc = stg_create_stream(global.get(), kAwdDisplayOrder, kStgModeCreate, order.put());
    if (rc == 0 && size) rc = awd_write_all(order.get(), bytes.get(), size);
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
