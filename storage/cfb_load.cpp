// Reading a compound file: the header, the FAT through the DIFAT, the
// directory tree, the mini FAT and the mini stream. Every count, sector
// number and link is checked against the file before it is followed, so a
// damaged or hostile file gets a status, never an endless walk or an
// allocation larger than the file.
#include <algorithm>
#include <cstring>

#include "fileio/byteorder.h"
#include "platform/plat_file.h"
#include "storage/cfb_file.h"

using namespace cfb;

namespace {

// Marks one sector of a writer's bitmap of sectors in use; false when it
// was in use already (two chains share it, or one loops).
bool mark_used(StgVector<uint8_t>& used, uint32_t sector) {
    if (sector >= used.size() || used[sector]) return false;
    used[sector] = 1;
    return true;
}

}  // namespace

uint32_t CfbFile::open(int fd, bool writable, CfbFile** out) {
    *out = nullptr;
    CfbFile* f = stg_new<CfbFile>(fd, writable);
    if (!f) return TAV_STG_E_INSUFFICIENTMEMORY;
    uint32_t rc;
    try {
        rc = f->load();
    } catch (const std::bad_alloc&) {
        rc = TAV_STG_E_INSUFFICIENTMEMORY;
    }
    if (rc != TAV_S_OK) {
        f->fd_ = -1;  // the caller closes its descriptor
        stg_delete(f);
        return rc;
    }
    *out = f;
    return TAV_S_OK;
}

uint32_t CfbFile::read_at(uint64_t offset, void* buf, uint32_t count) {
    int32_t n = plat_pread(fd_, buf, count, int64_t(offset));
    if (n < 0) return TAV_STG_E_READFAULT;
    // A sector the tables name but the file does not hold.
    if (uint32_t(n) != count) return TAV_STG_E_DOCFILECORRUPT;
    return TAV_S_OK;
}

uint32_t CfbFile::load() {
    int64_t size = plat_file_size(fd_);
    if (size < 0) return TAV_STG_E_READFAULT;
    if (size < int64_t(kHeaderBytes)) return TAV_STG_E_INVALIDHEADER;
    std::array<uint8_t, kHeaderBytes> h{};
    uint32_t rc = read_at(0, h.data(), kHeaderBytes);
    if (rc) return rc;
    if ((rc = load_header(h.data()))) return rc;
    // Sector i lies at (i + 1) sector sizes (the header takes sector -1).
    uint64_t body = uint64_t(size) > sectorBytes_ ? uint64_t(size) - sectorBytes_ : 0;
    fileSectors_ = uint32_t((body + sectorBytes_ - 1) / sectorBytes_);
    if ((rc = load_fat())) return rc;
    nextSector_ = std::min<uint32_t>(fileSectors_, uint32_t(fat_.size()));
    if ((rc = load_directory())) return rc;
    if ((rc = load_mini())) return rc;
    check_sorted();
    return writable_ ? collect_garbage() : TAV_S_OK;
}

uint32_t CfbFile::load_header(const uint8_t* h) {
    if (std::memcmp(h + kHdrSignature, kSignature.data(), kSignature.size()) != 0)
        return TAV_STG_E_FILEALREADYEXISTS;  // the platform's answer for a file that is no storage
    major_ = get_le16(h + kHdrMajorVersion);
    uint16_t shift = get_le16(h + kHdrSectorShift);
    bool shiftOk = (major_ == kVersion3 && shift == kShiftVersion3) ||
                   (major_ == kVersion4 && shift == kShiftVersion4);
    if (!shiftOk || get_le16(h + kHdrByteOrder) != kByteOrderMark ||
        get_le16(h + kHdrMiniShift) != kMiniShift || get_le32(h + kHdrMiniCutoff) != kMiniCutoff)
        return TAV_STG_E_INVALIDHEADER;
    sectorBytes_ = 1u << shift;
    perSector_ = sectorBytes_ / 4;
    slotsPerSector_ = sectorBytes_ / kEntryBytes;
    disk_.miniStart = get_le32(h + kHdrFirstMiniFat);
    disk_.miniCount = get_le32(h + kHdrMiniFatSectors);
    disk_.fatCount = get_le32(h + kHdrFatSectors);
    disk_.difatStart = get_le32(h + kHdrFirstDifat);
    disk_.difatCount = get_le32(h + kHdrDifatSectors);
    disk_.dirCount = get_le32(h + kHdrDirSectors);
    uint32_t fatCount = get_le32(h + kHdrFatSectors);
    uint32_t difatStart = get_le32(h + kHdrFirstDifat);
    uint32_t difatCount = get_le32(h + kHdrDifatSectors);
    dirChain_.clear();
    dirChain_.push_back(get_le32(h + kHdrFirstDirSector));  // completed by load_directory
    // The FAT sector list: 109 in the header, the rest in DIFAT sectors.
    // Counts are checked against the file before anything is allocated.
    fatSectors_.clear();
    difatSectors_.clear();
    uint64_t fileBytes = uint64_t(plat_file_size(fd_));
    if (uint64_t(fatCount) * sectorBytes_ > fileBytes || uint64_t(difatCount) * sectorBytes_ > fileBytes)
        return TAV_STG_E_DOCFILECORRUPT;
    for (uint32_t i = 0; i < kHeaderDifatEntries && fatSectors_.size() < fatCount; ++i)
        fatSectors_.push_back(get_le32(h + kHdrDifat + 4 * i));
    StgVector<uint8_t> sector(sectorBytes_);
    uint32_t next = difatStart;
    for (uint32_t d = 0; fatSectors_.size() < fatCount; ++d) {
        if (d >= difatCount || next >= kMaxRegularSector) return TAV_STG_E_DOCFILECORRUPT;
        for (uint32_t seen : difatSectors_)
            if (seen == next) return TAV_STG_E_DOCFILECORRUPT;  // the DIFAT loops
        difatSectors_.push_back(next);
        if (uint32_t rc = read_at(sector_offset(next), sector.data(), sectorBytes_)) return rc;
        for (uint32_t i = 0; i + 1 < perSector_ && fatSectors_.size() < fatCount; ++i)
            fatSectors_.push_back(get_le32(&sector[4 * i]));
        next = get_le32(&sector[4 * (perSector_ - 1)]);
    }
    return TAV_S_OK;
}

uint32_t CfbFile::load_fat() {
    fat_.assign(size_t(fatSectors_.size()) * perSector_, kFreeSector);
    StgVector<uint8_t> sector(sectorBytes_);
    for (size_t k = 0; k < fatSectors_.size(); ++k) {
        if (fatSectors_[k] >= fileSectors_) return TAV_STG_E_DOCFILECORRUPT;
        if (uint32_t rc = read_at(sector_offset(fatSectors_[k]), sector.data(), sectorBytes_)) return rc;
        for (uint32_t i = 0; i < perSector_; ++i) fat_[k * perSector_ + i] = get_le32(&sector[4 * i]);
    }
    return TAV_S_OK;
}

uint32_t CfbFile::load_chain(uint32_t start, bool mini, uint32_t needed, bool strict,
                             StgVector<uint32_t>* out) {
    const StgVector<uint32_t>& table = mini ? miniFat_ : fat_;
    uint32_t limit = mini ? miniCount_ : sector_limit();
    if (needed > limit) return TAV_STG_E_DOCFILECORRUPT;
    out->clear();
    out->reserve(needed);
    // A chain holds each sector at most once, so more steps than sectors
    // means a loop.
    for (uint32_t s = start; s != kEndOfChain;) {
        if (s >= limit || s >= table.size() || out->size() >= limit) {
            // Lenient readers take what the size needs and ignore a damaged
            // tail; a writer, which would reuse those sectors, refuses.
            if (!strict && out->size() >= needed) break;
            return TAV_STG_E_DOCFILECORRUPT;
        }
        out->push_back(s);
        s = table[s];
    }
    return out->size() < needed ? TAV_STG_E_DOCFILECORRUPT : TAV_S_OK;
}

uint32_t CfbFile::load_directory() {
    StgVector<uint32_t> chain;
    if (uint32_t rc = load_chain(dirChain_[0], false, 1, true, &chain)) return rc;
    dirChain_ = chain;
    dirImage_.assign(size_t(dirChain_.size()) * sectorBytes_, 0);
    for (size_t k = 0; k < dirChain_.size(); ++k)
        if (uint32_t rc = read_at(sector_offset(dirChain_[k]), &dirImage_[k * sectorBytes_], sectorBytes_))
            return rc;
    if (dirImage_[kEntType] != kTypeRoot) return TAV_STG_E_DOCFILECORRUPT;
    // Every entry reachable from the root, each once: a second visit is a
    // cycle or a shared subtree. An explicit stack: trees may be deep.
    uint32_t slots = uint32_t(dirChain_.size()) * slotsPerSector_;
    StgVector<uint32_t> nodeOfSlot(slots, kNoNode);
    nodes_.clear();
    uint32_t root;
    if (uint32_t rc = decode_entry(0, &root)) return rc;
    nodeOfSlot[0] = root;
    StgVector<uint32_t> stack{root};
    while (!stack.empty()) {
        uint32_t id = stack.back();
        stack.pop_back();
        const uint8_t* e = &dirImage_[size_t(nodes_[id].slot) * kEntryBytes];
        uint32_t links[3] = {get_le32(e + kEntLeft), get_le32(e + kEntRight), get_le32(e + kEntChild)};
        // The root has no siblings, a stream no children: such links are
        // ignored.
        if (id == root) links[0] = links[1] = kNoEntry;
        if (nodes_[id].type == kTypeStream) links[2] = kNoEntry;
        uint32_t ids[3] = {kNoNode, kNoNode, kNoNode};
        for (int k = 0; k < 3; ++k) {
            if (links[k] == kNoEntry) continue;
            if (links[k] >= slots || nodeOfSlot[links[k]] != kNoNode) return TAV_STG_E_DOCFILECORRUPT;
            if (uint32_t rc = decode_entry(links[k], &ids[k])) return rc;
            if (nodes_[ids[k]].type == kTypeRoot) return TAV_STG_E_DOCFILECORRUPT;
            nodeOfSlot[links[k]] = ids[k];
            stack.push_back(ids[k]);
        }
        nodes_[id].left = ids[0];
        nodes_[id].right = ids[1];
        nodes_[id].child = ids[2];
    }
    return TAV_S_OK;
}

uint32_t CfbFile::decode_entry(uint32_t slot, uint32_t* id) {
    const uint8_t* e = &dirImage_[size_t(slot) * kEntryBytes];
    CfbNode n;
    n.type = e[kEntType];
    if (n.type != kTypeStorage && n.type != kTypeStream && n.type != kTypeRoot)
        return TAV_STG_E_DOCFILECORRUPT;
    uint16_t nameBytes = get_le16(e + kEntNameBytes);
    if (nameBytes > kNameUnits * 2 || nameBytes % 2 != 0 || (nameBytes < 4 && n.type != kTypeRoot))
        return TAV_STG_E_DOCFILECORRUPT;
    n.name.len = nameBytes ? uint8_t(nameBytes / 2 - 1) : 0;
    for (uint32_t i = 0; i < n.name.len; ++i) n.name.units[i] = char16_t(get_le16(e + kEntName + 2 * i));
    n.color = e[kEntColor] == kRed ? kRed : kBlack;
    std::memcpy(n.clsid.data(), e + kEntClsid, n.clsid.size());
    n.stateBits = get_le32(e + kEntStateBits);
    n.created = get_le32(e + kEntCreated) | (uint64_t(get_le32(e + kEntCreated + 4)) << 32);
    n.modified = get_le32(e + kEntModified) | (uint64_t(get_le32(e + kEntModified + 4)) << 32);
    n.start = get_le32(e + kEntStart);
    // Version 3 writers may leave the high half of the size undefined.
    uint32_t high = major_ == kVersion3 ? 0 : get_le32(e + kEntSize + 4);
    uint32_t size = get_le32(e + kEntSize);
    if (n.type == kTypeStorage) {
        n.start = kEndOfChain;
        size = high = 0;
    }
    if (high != 0 || size > kStreamMax) return TAV_STG_E_DOCFILECORRUPT;
    n.size = size;
    if (n.size == 0 && n.type == kTypeStream) n.start = kEndOfChain;
    n.slot = slot;
    n.live = true;
    *id = uint32_t(nodes_.size());
    nodes_.push_back(std::move(n));
    return TAV_S_OK;
}

uint32_t CfbFile::load_mini() {
    CfbNode& root = nodes_[kRootNode];
    // The mini stream lives in regular sectors reached from the root entry.
    uint32_t needed = uint32_t((uint64_t(root.size) + sectorBytes_ - 1) / sectorBytes_);
    if (root.size == 0) root.start = kEndOfChain;
    if (uint32_t rc = load_chain(root.start, false, needed, writable_, &root.chain))
        return rc;  // also a mini stream larger than its container
    root.chainLoaded = true;
    miniCount_ = uint32_t((uint64_t(root.size) + kMiniSectorBytes - 1) / kMiniSectorBytes);
    if (disk_.miniCount > fileSectors_) return TAV_STG_E_DOCFILECORRUPT;
    uint32_t start = disk_.miniCount ? disk_.miniStart : kEndOfChain;
    if (uint32_t rc = load_chain(start, false, disk_.miniCount, writable_, &miniFatChain_)) return rc;
    miniFatChain_.resize(disk_.miniCount);
    miniFat_.assign(size_t(disk_.miniCount) * perSector_, kFreeSector);
    StgVector<uint8_t> sector(sectorBytes_);
    for (size_t k = 0; k < miniFatChain_.size(); ++k) {
        if (uint32_t rc = read_at(sector_offset(miniFatChain_[k]), sector.data(), sectorBytes_)) return rc;
        for (uint32_t i = 0; i < perSector_; ++i) miniFat_[k * perSector_ + i] = get_le32(&sector[4 * i]);
    }
    return TAV_S_OK;
}

void CfbFile::check_sorted() {
    // In-order walk of each storage's tree: binary search is used only
    // where the names come in the format's order.
    StgVector<uint32_t> stack;
    for (uint32_t id = 0; id < nodes_.size(); ++id) {
        CfbNode& s = nodes_[id];
        if (s.type == kTypeStream) continue;
        bool sorted = true;
        uint32_t prev = kNoNode;
        stack.clear();
        uint32_t cur = s.child;
        while (cur != kNoNode || !stack.empty()) {
            for (; cur != kNoNode; cur = nodes_[cur].left) stack.push_back(cur);
            cur = stack.back();
            stack.pop_back();
            if (prev != kNoNode && cfb_compare(nodes_[prev].name, nodes_[cur].name) >= 0) sorted = false;
            prev = cur;
            cur = nodes_[cur].right;
        }
        s.treeSorted = sorted;
    }
}

uint32_t CfbFile::collect_garbage() {
    // A writer reuses every sector, mini sector and slot nothing reaches
    // (left over by a change that was cut short), and refuses a file whose
    // chains share sectors.
    StgVector<uint8_t> used(nextSector_, 0);
    auto mark_all = [&](const StgVector<uint32_t>& chain) {
        for (uint32_t s : chain)
            if (!mark_used(used, s)) return false;
        return true;
    };
    if (!mark_all(fatSectors_) || !mark_all(difatSectors_) || !mark_all(dirChain_) ||
        !mark_all(miniFatChain_) || !mark_all(nodes_[kRootNode].chain))
        return TAV_STG_E_DOCFILECORRUPT;
    StgVector<uint8_t> usedMini(miniCount_, 0);
    StgVector<uint8_t> usedSlots(size_t(dirChain_.size()) * slotsPerSector_, 0);
    for (uint32_t id = 0; id < nodes_.size(); ++id) {
        usedSlots[nodes_[id].slot] = 1;
        if (nodes_[id].type != kTypeStream) continue;
        if (uint32_t rc = ensure_chain(id)) return rc;
        if (is_mini(id)) {
            for (uint32_t m : nodes_[id].chain)
                if (!mark_used(usedMini, m)) return TAV_STG_E_DOCFILECORRUPT;
        } else if (!mark_all(nodes_[id].chain)) {
            return TAV_STG_E_DOCFILECORRUPT;
        }
    }
    for (uint32_t s = 0; s < fat_.size(); ++s) {
        if (s < nextSector_ && used[s]) continue;
        fat_[s] = kFreeSector;
        if (s < nextSector_) poolSectors_.insert(s);
    }
    for (uint32_t m = 0; m < miniFat_.size(); ++m) {
        if (m < miniCount_ && usedMini[m]) continue;
        miniFat_[m] = kFreeSector;
        if (m < miniCount_) poolMini_.insert(m);
    }
    for (uint32_t slot = 0; slot < usedSlots.size(); ++slot)
        if (!usedSlots[slot]) poolSlots_.insert(slot);
    return TAV_S_OK;
}

uint32_t CfbFile::ensure_chain(uint32_t id) {
    CfbNode& n = nodes_[id];
    if (n.chainLoaded) return TAV_S_OK;
    bool mini = is_mini(id);
    uint32_t unit = mini ? kMiniSectorBytes : sectorBytes_;
    uint32_t needed = uint32_t((uint64_t(n.size) + unit - 1) / unit);
    uint32_t start = n.size ? n.start : kEndOfChain;
    if (uint32_t rc = load_chain(start, mini, needed, writable_, &n.chain)) return rc;
    // A reader keeps only what the size needs; a writer owns the whole chain.
    if (!writable_) n.chain.resize(needed);
    n.chainLoaded = true;
    return TAV_S_OK;
}
