// Stream data: reading and writing through a stream's chain (regular
// sectors, or mini sectors inside the mini stream for streams below the
// cutoff), growing and shrinking, and moving a stream between the two
// kinds of storage as its size crosses the cutoff.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/plat_file.h"
#include "storage/cfb_file.h"

using namespace cfb;

namespace {

constexpr uint32_t kZeroChunk = 64 * 1024;
const std::array<uint8_t, kZeroChunk> kZeros{};

}  // namespace

bool CfbFile::is_mini(uint32_t id) const {
    return nodes_[id].type == kTypeStream && nodes_[id].size < kMiniCutoff;
}

// Moves n bytes between the stream at pos and memory: into `into` when it
// is set, else out of `from` (zeros when that is null too). Runs of
// adjacent sectors go in one call.
uint32_t CfbFile::transfer(uint32_t id, uint64_t pos, uint8_t* into, const uint8_t* from, uint32_t n) {
    const StgVector<uint32_t>& chain = nodes_[id].chain;
    const StgVector<uint32_t>& container = nodes_[kRootNode].chain;
    bool mini = is_mini(id);
    uint32_t unit = mini ? kMiniSectorBytes : sectorBytes_;
    uint32_t done = 0;
    while (done < n) {
        uint64_t p = pos + done;
        size_t idx = size_t(p / unit);
        uint32_t off = uint32_t(p % unit);
        if (idx >= chain.size()) return fail(TAV_STG_E_DOCFILECORRUPT);
        uint32_t len = std::min(n - done, unit - off);
        uint64_t at;
        if (mini) {
            uint64_t inContainer = uint64_t(chain[idx]) * kMiniSectorBytes + off;
            size_t sector = size_t(inContainer / sectorBytes_);
            if (sector >= container.size()) return fail(TAV_STG_E_DOCFILECORRUPT);
            at = sector_offset(container[sector]) + inContainer % sectorBytes_;
            // Adjacent mini sectors in the same regular sector.
            while (done + len < n && idx + 1 < chain.size() && chain[idx + 1] == chain[idx] + 1 &&
                   uint64_t(chain[idx + 1]) * kMiniSectorBytes / sectorBytes_ == sector) {
                ++idx;
                len += std::min(n - done - len, unit);
            }
        } else {
            at = sector_offset(chain[idx]) + off;
            while (done + len < n && idx + 1 < chain.size() && chain[idx + 1] == chain[idx] + 1) {
                ++idx;
                len += std::min(n - done - len, unit);
            }
        }
        if (into) {
            if (uint32_t rc = read_at(at, into + done, len)) return rc;
        } else if (from) {
            if (uint32_t rc = write_at(at, from + done, len)) return rc;
        } else {
            for (uint32_t z = 0; z < len; z += kZeroChunk)
                if (uint32_t rc = write_at(at + z, kZeros.data(), std::min(len - z, kZeroChunk))) return rc;
        }
        done += len;
    }
    return TAV_S_OK;
}

uint32_t CfbFile::zero_fill(uint32_t id, uint64_t from, uint64_t to) {
    if (to <= from) return TAV_S_OK;
    return transfer(id, from, nullptr, nullptr, uint32_t(to - from));
}

uint32_t CfbFile::read(uint32_t id, uint64_t pos, void* buf, uint32_t count, uint32_t* done) {
    *done = 0;
    if (uint32_t rc = ensure_chain(id)) return rc;
    uint32_t size = nodes_[id].size;
    if (pos >= size || count == 0) return TAV_S_OK;
    uint32_t n = uint32_t(std::min<uint64_t>(count, size - pos));
    if (uint32_t rc = transfer(id, pos, static_cast<uint8_t*>(buf), nullptr, n)) return rc;
    *done = n;
    return TAV_S_OK;
}

// Puts the stream into new units of the kind its new size asks for:
// `keep` bytes of its data, zeros up to fillTo. The old chain is released
// once the entry points at the new one.
uint32_t CfbFile::move_stream(uint32_t id, uint32_t size, uint32_t keep, uint32_t fillTo) {
    StgVector<uint8_t> data(keep);
    if (keep)
        if (uint32_t rc = transfer(id, 0, data.data(), nullptr, keep)) return rc;
    bool oldMini = is_mini(id);
    StgVector<uint32_t> old = std::move(nodes_[id].chain);
    nodes_[id].chain.clear();
    nodes_[id].size = size;
    bool mini = is_mini(id);
    uint32_t unit = mini ? kMiniSectorBytes : sectorBytes_;
    uint32_t units = uint32_t((uint64_t(size) + unit - 1) / unit);
    if (uint32_t rc = append_units(id, mini, units)) return rc;
    if (units == 0) nodes_[id].start = kEndOfChain;
    if (keep)
        if (uint32_t rc = transfer(id, 0, nullptr, data.data(), keep)) return rc;
    if (uint32_t rc = zero_fill(id, keep, fillTo)) return rc;
    release_chain(old, oldMini, 0);
    mark_entry(id, true);
    return TAV_S_OK;
}

uint32_t CfbFile::grow(uint32_t id, uint32_t size, uint32_t fillTo) {
    uint32_t old = nodes_[id].size;
    if (old < kMiniCutoff && size >= kMiniCutoff) return move_stream(id, size, old, fillTo);
    bool mini = is_mini(id);
    uint32_t unit = mini ? kMiniSectorBytes : sectorBytes_;
    uint32_t units = uint32_t((uint64_t(size) + unit - 1) / unit);
    if (units > nodes_[id].chain.size())
        if (uint32_t rc = append_units(id, mini, units - uint32_t(nodes_[id].chain.size()))) return rc;
    if (uint32_t rc = zero_fill(id, old, fillTo)) return rc;
    nodes_[id].size = size;
    mark_entry(id, true);
    return TAV_S_OK;
}

uint32_t CfbFile::shrink(uint32_t id, uint32_t size) {
    if (!is_mini(id) && size < kMiniCutoff) return move_stream(id, size, size, size);
    bool mini = is_mini(id);
    uint32_t unit = mini ? kMiniSectorBytes : sectorBytes_;
    uint32_t units = uint32_t((uint64_t(size) + unit - 1) / unit);
    CfbNode& n = nodes_[id];
    if (units < n.chain.size()) {
        release_chain(n.chain, mini, units);
        n.chain.resize(units);
        if (units == 0) n.start = kEndOfChain;
    }
    n.size = size;
    mark_entry(id, true);
    return TAV_S_OK;
}

uint32_t CfbFile::set_size(uint32_t id, uint64_t size) {
    if (size > kStreamMax) return TAV_STG_E_MEDIUMFULL;
    if (uint32_t rc = ensure_chain(id)) return rc;
    uint32_t old = nodes_[id].size;
    if (size == old) return TAV_S_OK;
    // Growth the file has no room for is refused before anything changes.
    if (size > old && !sectors_fit(growth_bound(id, uint32_t(size)))) return TAV_STG_E_MEDIUMFULL;
    uint32_t rc = size > old ? grow(id, uint32_t(size), uint32_t(size)) : shrink(id, uint32_t(size));
    if (rc) return fail(rc);
    return commit();
}

uint32_t CfbFile::write(uint32_t id, uint64_t pos, const void* buf, uint32_t count) {
    if (count == 0) return TAV_S_OK;
    if (pos + count > kStreamMax) return TAV_STG_E_MEDIUMFULL;
    if (uint32_t rc = ensure_chain(id)) return rc;
    uint32_t end = uint32_t(pos + count);
    if (end > nodes_[id].size && !sectors_fit(growth_bound(id, end))) return TAV_STG_E_MEDIUMFULL;
    // Growth fills only the gap before pos with zeros; the data fills the rest.
    if (end > nodes_[id].size)
        if (uint32_t rc = grow(id, end, uint32_t(pos))) return fail(rc);
    if (uint32_t rc = transfer(id, pos, nullptr, static_cast<const uint8_t*>(buf), count)) return rc;
    return commit();
}
