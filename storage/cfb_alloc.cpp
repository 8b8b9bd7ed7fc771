// Allocation of sectors, mini sectors, directory slots and tree nodes.
// New sectors are taken from those released by earlier changes, else at the
// end of the file, where the FAT (and the DIFAT) grow as needed. Released
// ones return to the pools only after the change that released them is in
// the file.
#include <cstring>

#include "fileio/byteorder.h"
#include "platform/plat_file.h"
#include "storage/cfb_file.h"

using namespace cfb;

namespace {

// Sectors a change may take beyond its stream's data and their tables: the
// mini stream's FAT and a directory sector.
constexpr uint32_t kSpareSectors = 4;

}  // namespace

bool CfbFile::sectors_fit(uint64_t count) const {
    return sector_offset(nextSector_) + count * sectorBytes_ <= plat_max_file_length();
}

uint64_t CfbFile::growth_bound(uint32_t id, uint32_t size) const {
    const CfbNode& n = nodes_[id];
    const uint64_t whole = (uint64_t(size) + sectorBytes_ - 1) / sectorBytes_;
    uint64_t data;
    if (size < kMiniCutoff)
        data = whole + 1;  // the mini stream's container grows
    else if (n.size < kMiniCutoff)
        data = whole;  // the stream leaves the mini stream: all of it is new
    else
        data = whole > n.chain.size() ? whole - n.chain.size() : 0;
    data = data > poolSectors_.size() ? data - poolSectors_.size() : 0;
    const uint64_t fat = data / (perSector_ - 1) + 2;
    const uint64_t difat = fat / (perSector_ - 1) + 1;
    return data + fat + difat + kSpareSectors;
}

void CfbFile::set_fat(uint32_t sector, uint32_t value, bool link) {
    if (link) fatUndo_.push_back({sector, fat_[sector]});
    fat_[sector] = value;
    fatDirty_.insert(sector / perSector_);
    if (link) fatLinks_.insert(sector / perSector_);
}

void CfbFile::set_mini_fat(uint32_t sector, uint32_t value, bool link) {
    if (link) fatUndo_.push_back({kFatTag + sector, miniFat_[sector]});
    miniFat_[sector] = value;
    miniDirty_.insert(sector / perSector_);
    if (link) miniLinks_.insert(sector / perSector_);
}

uint32_t CfbFile::take_sector(uint32_t* out) {
    if (!poolSectors_.empty()) {
        *out = *poolSectors_.begin();
        poolSectors_.erase(poolSectors_.begin());
        return TAV_S_OK;
    }
    // Room for this sector and, at worst, a FAT and a DIFAT sector.
    if (!sectors_fit(3)) return TAV_STG_E_MEDIUMFULL;
    if (nextSector_ >= fat_.size())
        if (uint32_t rc = add_fat_sector()) return rc;
    *out = nextSector_++;
    return TAV_S_OK;
}

uint32_t CfbFile::take_sectors(uint32_t count, StgVector<uint32_t>* out) {
    out->reserve(out->size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t s;
        if (uint32_t rc = take_sector(&s)) return rc;
        out->push_back(s);
    }
    return TAV_S_OK;
}

uint32_t CfbFile::add_fat_sector() {
    // The new FAT sector goes at the end and describes itself first.
    uint32_t at = nextSector_++;
    fat_.resize(fat_.size() + perSector_, kFreeSector);
    fatSectors_.push_back(at);
    set_fat(at, kFatSector, false);
    headerGeometry_ = true;
    uint32_t inHeader = kHeaderDifatEntries;
    uint32_t index = uint32_t(fatSectors_.size()) - 1;
    if (index < inHeader) return TAV_S_OK;
    uint32_t perDifat = perSector_ - 1;
    if (index >= inHeader + difatSectors_.size() * perDifat)
        if (uint32_t rc = add_difat_sector()) return rc;
    difatDirty_.insert((index - inHeader) / perDifat);
    return TAV_S_OK;
}

uint32_t CfbFile::add_difat_sector() {
    uint32_t at = nextSector_++;
    set_fat(at, kDifatSector, false);
    difatSectors_.push_back(at);
    // The previous DIFAT sector's last word now leads here.
    if (difatSectors_.size() > 1) difatDirty_.insert(uint32_t(difatSectors_.size()) - 2);
    return TAV_S_OK;
}

uint32_t CfbFile::take_mini(uint32_t* out) {
    if (!poolMini_.empty()) {
        *out = *poolMini_.begin();
        poolMini_.erase(poolMini_.begin());
        return TAV_S_OK;
    }
    uint32_t m = miniCount_;
    if (m >= miniFat_.size())
        if (uint32_t rc = add_mini_fat_sector()) return rc;
    CfbNode& root = nodes_[kRootNode];
    if (uint64_t(m + 1) * kMiniSectorBytes > uint64_t(root.chain.size()) * sectorBytes_)
        if (uint32_t rc = extend_container()) return rc;
    nodes_[kRootNode].size = (m + 1) * kMiniSectorBytes;
    mark_entry(kRootNode, true);
    miniCount_ = m + 1;
    *out = m;
    return TAV_S_OK;
}

uint32_t CfbFile::take_filled_sector(uint8_t fill, uint32_t* out) {
    if (uint32_t rc = take_sector(out)) return rc;
    StgVector<uint8_t> bytes(sectorBytes_, fill);
    if (uint32_t rc = write_at(sector_offset(*out), bytes.data(), sectorBytes_)) return rc;
    set_fat(*out, kEndOfChain, false);
    return TAV_S_OK;
}

uint32_t CfbFile::add_mini_fat_sector() {
    uint32_t s;
    // Its content (no mini sector in use) goes out before anything links it.
    if (uint32_t rc = take_filled_sector(0xFF, &s)) return rc;
    if (!miniFatChain_.empty()) set_fat(miniFatChain_.back(), s, true);
    miniFatChain_.push_back(s);
    miniFat_.resize(miniFat_.size() + perSector_, kFreeSector);
    headerMini_ = true;
    return TAV_S_OK;
}

uint32_t CfbFile::extend_container() {
    uint32_t s;
    if (uint32_t rc = take_filled_sector(0, &s)) return rc;
    CfbNode& root = nodes_[kRootNode];
    if (root.chain.empty())
        root.start = s;
    else
        set_fat(root.chain.back(), s, true);
    root.chain.push_back(s);
    return TAV_S_OK;
}

uint32_t CfbFile::take_slot(uint32_t* out) {
    if (poolSlots_.empty())
        if (uint32_t rc = add_dir_sector()) return rc;
    *out = *poolSlots_.begin();
    poolSlots_.erase(poolSlots_.begin());
    return TAV_S_OK;
}

uint32_t CfbFile::add_dir_sector() {
    uint32_t s;
    if (uint32_t rc = take_sector(&s)) return rc;
    size_t at = dirImage_.size();
    dirImage_.resize(at + sectorBytes_, 0);
    for (uint32_t i = 0; i < slotsPerSector_; ++i) {
        uint8_t* e = &dirImage_[at + i * kEntryBytes];
        put_le32(e + kEntLeft, kNoEntry);
        put_le32(e + kEntRight, kNoEntry);
        put_le32(e + kEntChild, kNoEntry);
    }
    // Empty entries are in place before the chain reaches the sector.
    if (uint32_t rc = write_at(sector_offset(s), &dirImage_[at], sectorBytes_)) return rc;
    set_fat(s, kEndOfChain, false);
    set_fat(dirChain_.back(), s, true);
    uint32_t first = uint32_t(dirChain_.size()) * slotsPerSector_;
    dirChain_.push_back(s);
    for (uint32_t i = 0; i < slotsPerSector_; ++i) poolSlots_.insert(first + i);
    if (major_ == kVersion4) headerGeometry_ = true;  // it counts directory sectors
    return TAV_S_OK;
}

uint32_t CfbFile::new_node(uint32_t* out) {
    if (!freeNodes_.empty()) {
        *out = freeNodes_.back();
        freeNodes_.pop_back();
        nodes_[*out] = CfbNode();
    } else {
        *out = uint32_t(nodes_.size());
        nodes_.emplace_back();
    }
    nodes_[*out].live = true;
    return TAV_S_OK;
}

uint32_t CfbFile::append_units(uint32_t id, bool mini, uint32_t count) {
    // New units are chained among themselves first; the link from the
    // stream's last unit (or its start in the entry) comes last.
    CfbNode& n = nodes_[id];
    size_t first = n.chain.size();
    // Sectors from the end of the file: the FAT sectors that will describe
    // them go first, so the data lies in one run (read in one call).
    if (!mini && poolSectors_.size() < count)
        while (fat_.size() < uint64_t(nextSector_) + count + 2 && sectors_fit(uint64_t(count) + 3))
            if (uint32_t rc = add_fat_sector()) return rc;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t u;
        uint32_t rc = mini ? take_mini(&u) : take_sector(&u);
        if (rc) return rc;
        nodes_[id].chain.push_back(u);
    }
    CfbNode& m = nodes_[id];
    for (size_t i = first; i < m.chain.size(); ++i) {
        uint32_t next = i + 1 < m.chain.size() ? m.chain[i + 1] : kEndOfChain;
        if (mini)
            set_mini_fat(m.chain[i], next, false);
        else
            set_fat(m.chain[i], next, false);
    }
    if (count == 0) return TAV_S_OK;
    if (first == 0) {
        m.start = m.chain[0];
    } else if (mini) {
        set_mini_fat(m.chain[first - 1], m.chain[first], true);
    } else {
        set_fat(m.chain[first - 1], m.chain[first], true);
    }
    return TAV_S_OK;
}

void CfbFile::release_chain(const StgVector<uint32_t>& chain, bool mini, uint32_t keep) {
    if (keep > 0 && keep < chain.size()) (mini ? cutMini_ : cutRegular_).push_back(chain[keep - 1]);
    StgVector<uint32_t>& to = mini ? freeMini_ : freeRegular_;
    for (size_t i = keep; i < chain.size(); ++i) to.push_back(chain[i]);
}

void CfbFile::release_subtree(uint32_t id) {
    StgVector<uint32_t> stack{id};
    while (!stack.empty()) {
        uint32_t cur = stack.back();
        stack.pop_back();
        CfbNode& n = nodes_[cur];
        releaseSlots_.push_back(n.slot);
        releaseNodes_.push_back(cur);
        if (n.type == kTypeStream) {
            release_chain(n.chain, is_mini(cur), 0);
            continue;
        }
        StgVector<uint32_t> kids;
        children(cur, &kids);
        stack.insert(stack.end(), kids.begin(), kids.end());
    }
}
