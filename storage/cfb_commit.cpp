// Writing a change out in the order that keeps the file whole at every
// instant (see cfb_file.h), then releasing what the change freed. Also the
// creation of a new file and the end of a file's life.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "fileio/byteorder.h"
#include "platform/plat_file.h"
#include "storage/cfb_file.h"

using namespace cfb;

namespace {

// Status of a failed platform write: no memory, or a write fault.
uint32_t write_status() { return errno == TAV_ENOMEM ? TAV_STG_E_INSUFFICIENTMEMORY : TAV_STG_E_WRITEFAULT; }

void encode_table(const StgVector<uint32_t>& table, size_t first, uint32_t count, uint8_t* out) {
    for (uint32_t i = 0; i < count; ++i) put_le32(out + 4 * i, table[first + i]);
}

}  // namespace

uint32_t CfbFile::fail(uint32_t status) {
    if (!broken_) broken_ = status;
    return status;
}

uint32_t CfbFile::write_at(uint64_t offset, const void* buf, uint32_t count) {
    if (plat_pwrite(fd_, buf, count, int64_t(offset)) < 0) return fail(write_status());
    return TAV_S_OK;
}

void CfbFile::encode_entry(uint32_t id, uint8_t* e) const {
    const CfbNode& n = nodes_[id];
    std::memset(e, 0, kEntryBytes);
    for (uint32_t i = 0; i < n.name.len; ++i) put_le16(e + kEntName + 2 * i, n.name.units[i]);
    put_le16(e + kEntNameBytes, uint16_t((n.name.len + 1) * 2));
    e[kEntType] = n.type;
    e[kEntColor] = n.color;
    auto slot_of = [&](uint32_t link) { return link == kNoNode ? kNoEntry : nodes_[link].slot; };
    put_le32(e + kEntLeft, slot_of(n.left));
    put_le32(e + kEntRight, slot_of(n.right));
    put_le32(e + kEntChild, slot_of(n.child));
    std::memcpy(e + kEntClsid, n.clsid.data(), n.clsid.size());
    put_le32(e + kEntStateBits, n.stateBits);
    put_le32(e + kEntCreated, uint32_t(n.created));
    put_le32(e + kEntCreated + 4, uint32_t(n.created >> 32));
    put_le32(e + kEntModified, uint32_t(n.modified));
    put_le32(e + kEntModified + 4, uint32_t(n.modified >> 32));
    bool stored = n.type != kTypeStorage;
    put_le32(e + kEntStart, stored && n.size ? n.start : (stored ? kEndOfChain : 0));
    put_le32(e + kEntSize, stored ? n.size : 0);
}

CfbFile::Reach CfbFile::current_reach() const {
    return {uint32_t(fatSectors_.size()),
            difatSectors_.empty() ? kEndOfChain : difatSectors_[0],
            uint32_t(difatSectors_.size()),
            major_ == kVersion4 ? uint32_t(dirChain_.size()) : 0,
            miniFatChain_.empty() ? kEndOfChain : miniFatChain_[0],
            uint32_t(miniFatChain_.size())};
}

void CfbFile::encode_header(uint8_t* h, const Reach& reach) const {
    std::memset(h, 0, kHeaderBytes);
    std::memcpy(h + kHdrSignature, kSignature.data(), kSignature.size());
    put_le16(h + kHdrMinorVersion, kMinorVersion);
    put_le16(h + kHdrMajorVersion, major_);
    put_le16(h + kHdrByteOrder, kByteOrderMark);
    put_le16(h + kHdrSectorShift, major_ == kVersion4 ? kShiftVersion4 : kShiftVersion3);
    put_le16(h + kHdrMiniShift, kMiniShift);
    put_le32(h + kHdrDirSectors, reach.dirCount);
    put_le32(h + kHdrFatSectors, reach.fatCount);
    put_le32(h + kHdrFirstDirSector, dirChain_[0]);
    put_le32(h + kHdrMiniCutoff, kMiniCutoff);
    put_le32(h + kHdrFirstMiniFat, reach.miniStart);
    put_le32(h + kHdrMiniFatSectors, reach.miniCount);
    put_le32(h + kHdrFirstDifat, reach.difatStart);
    put_le32(h + kHdrDifatSectors, reach.difatCount);
    for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
        put_le32(h + kHdrDifat + 4 * i, i < fatSectors_.size() ? fatSectors_[i] : kFreeSector);
}

uint32_t CfbFile::write_header(bool geometry, bool mini) {
    // First the FAT sector list with the counts as they stand (entries past
    // the count mean nothing), then the counts, which all lie in the first
    // 76 bytes: a torn write of either leaves a valid header.
    Reach now = current_reach(), next = disk_;
    if (geometry) next.fatCount = now.fatCount, next.difatStart = now.difatStart,
                  next.difatCount = now.difatCount, next.dirCount = now.dirCount;
    if (mini) next.miniStart = now.miniStart, next.miniCount = now.miniCount;
    std::array<uint8_t, kHeaderBytes> h;
    encode_header(h.data(), disk_);
    if (uint32_t rc = write_at(0, h.data(), kHeaderBytes)) return rc;
    encode_header(h.data(), next);
    if (uint32_t rc = write_at(0, h.data(), kHeaderBytes)) return rc;
    disk_ = next;
    return TAV_S_OK;
}

uint32_t CfbFile::write_fat_sector(uint32_t index) {
    StgVector<uint8_t> buf(sectorBytes_);
    encode_table(fat_, size_t(index) * perSector_, perSector_, buf.data());
    return write_at(sector_offset(fatSectors_[index]), buf.data(), sectorBytes_);
}

uint32_t CfbFile::write_mini_fat_sector(uint32_t index) {
    StgVector<uint8_t> buf(sectorBytes_);
    encode_table(miniFat_, size_t(index) * perSector_, perSector_, buf.data());
    return write_at(sector_offset(miniFatChain_[index]), buf.data(), sectorBytes_);
}

uint32_t CfbFile::write_difat_sector(uint32_t index) {
    StgVector<uint8_t> buf(sectorBytes_);
    uint32_t perDifat = perSector_ - 1;
    size_t first = kHeaderDifatEntries + size_t(index) * perDifat;
    for (uint32_t i = 0; i < perDifat; ++i)
        put_le32(&buf[4 * i], first + i < fatSectors_.size() ? fatSectors_[first + i] : kFreeSector);
    uint32_t next = index + 1 < difatSectors_.size() ? difatSectors_[index + 1] : kEndOfChain;
    put_le32(&buf[4 * perDifat], next);
    return write_at(sector_offset(difatSectors_[index]), buf.data(), sectorBytes_);
}

uint32_t CfbFile::write_dir_sector(uint32_t index) {
    return write_at(sector_offset(dirChain_[index]), &dirImage_[size_t(index) * sectorBytes_], sectorBytes_);
}

void CfbFile::mark_entry(uint32_t id, bool commit) {
    uint32_t slot = nodes_[id].slot;
    uint8_t* at = &dirImage_[size_t(slot) * kEntryBytes];
    if (commit) {
        bool saved = false;
        for (const EntryUndo& u : dirUndo_) saved = saved || u.slot == slot;
        if (!saved) {
            dirUndo_.push_back({slot, {}});
            std::memcpy(dirUndo_.back().bytes.data(), at, kEntryBytes);
        }
    }
    encode_entry(id, at);
    dirDirty_.insert(slot / slotsPerSector_);
    if (commit) dirCommit_.insert(slot / slotsPerSector_);
}

void CfbFile::swap_undo(bool toOld) {
    // Swaps the recorded file values with the new ones: towards the file's
    // values newest record first (so the oldest value wins), back oldest
    // first.
    auto swap_all = [&](auto first, auto last) {
        for (auto it = first; it != last; ++it) {
            if (it->first < kFatTag)
                std::swap(fat_[it->first], it->second);
            else
                std::swap(miniFat_[it->first - kFatTag], it->second);
        }
    };
    if (toOld)
        swap_all(fatUndo_.rbegin(), fatUndo_.rend());
    else
        swap_all(fatUndo_.begin(), fatUndo_.end());
    for (EntryUndo& u : dirUndo_)
        std::swap_ranges(u.bytes.begin(), u.bytes.end(), &dirImage_[size_t(u.slot) * kEntryBytes]);
}

uint32_t CfbFile::write_tables(bool links) {
    for (uint32_t k : links ? fatLinks_ : fatDirty_)
        if (uint32_t rc = write_fat_sector(k)) return rc;
    for (uint32_t k : links ? miniLinks_ : miniDirty_)
        if (uint32_t rc = write_mini_fat_sector(k)) return rc;
    return TAV_S_OK;
}

uint32_t CfbFile::commit() {
    // Every changed table sector first as the file had it plus the fresh
    // entries (nothing reaches them yet), the DIFAT, the header when the
    // FAT grew; then the sectors holding links from reachable chains, the
    // header's mini FAT fields; new directory slots, and last the entries
    // that switch to the change (the root entry, which holds the mini
    // stream, in the first half of the first directory sector).
    swap_undo(true);
    uint32_t rc = write_tables(false);
    for (uint32_t k : dirDirty_)
        if (!rc) rc = write_dir_sector(k);
    swap_undo(false);
    if (rc) return rc;
    for (uint32_t k : difatDirty_)
        if (uint32_t rc = write_difat_sector(k)) return rc;
    if (headerGeometry_)
        if (uint32_t rc = write_header(true, false)) return rc;
    if (uint32_t rc = write_tables(true)) return rc;
    if (headerMini_)
        if (uint32_t rc = write_header(true, true)) return rc;
    for (uint32_t k : dirCommit_)
        if (uint32_t rc = write_dir_sector(k)) return rc;
    fatDirty_.clear();
    fatLinks_.clear();
    miniDirty_.clear();
    miniLinks_.clear();
    difatDirty_.clear();
    dirDirty_.clear();
    dirCommit_.clear();
    fatUndo_.clear();
    dirUndo_.clear();
    headerGeometry_ = headerMini_ = false;
    return apply_releases();
}

uint32_t CfbFile::apply_releases() {
    // Colours changed in place, then chain ends, then freed sectors and
    // slots; all of it is unreachable or harmless at any point.
    for (uint32_t id : lateEntries_)
        if (nodes_[id].live) mark_entry(id, false);
    for (uint32_t s : cutRegular_) set_fat(s, kEndOfChain, false);
    for (uint32_t m : cutMini_) set_mini_fat(m, kEndOfChain, false);
    for (uint32_t k : fatDirty_)
        if (uint32_t rc = write_fat_sector(k)) return rc;
    for (uint32_t k : miniDirty_)
        if (uint32_t rc = write_mini_fat_sector(k)) return rc;
    fatDirty_.clear();
    miniDirty_.clear();
    for (uint32_t s : freeRegular_) set_fat(s, kFreeSector, false);
    for (uint32_t m : freeMini_) set_mini_fat(m, kFreeSector, false);
    for (uint32_t slot : releaseSlots_) {
        uint8_t* e = &dirImage_[size_t(slot) * kEntryBytes];
        std::memset(e, 0, kEntryBytes);
        put_le32(e + kEntLeft, kNoEntry);
        put_le32(e + kEntRight, kNoEntry);
        put_le32(e + kEntChild, kNoEntry);
        dirDirty_.insert(slot / slotsPerSector_);
    }
    for (uint32_t k : fatDirty_)
        if (uint32_t rc = write_fat_sector(k)) return rc;
    for (uint32_t k : miniDirty_)
        if (uint32_t rc = write_mini_fat_sector(k)) return rc;
    for (uint32_t k : dirDirty_)
        if (uint32_t rc = write_dir_sector(k)) return rc;
    poolSectors_.insert(freeRegular_.begin(), freeRegular_.end());
    poolMini_.insert(freeMini_.begin(), freeMini_.end());
    poolSlots_.insert(releaseSlots_.begin(), releaseSlots_.end());
    for (uint32_t id : releaseNodes_) {
        nodes_[id] = CfbNode();
        freeNodes_.push_back(id);
    }
    fatDirty_.clear();
    miniDirty_.clear();
    dirDirty_.clear();
    lateEntries_.clear();
    cutRegular_.clear();
    cutMini_.clear();
    freeRegular_.clear();
    freeMini_.clear();
    releaseSlots_.clear();
    releaseNodes_.clear();
    return TAV_S_OK;
}

uint32_t CfbFile::create(int fd, uint16_t sectorShift, CfbFile** out) {
    *out = nullptr;
    CfbFile* f = stg_new<CfbFile>(fd, true);
    if (!f) return TAV_STG_E_INSUFFICIENTMEMORY;
    uint32_t rc = TAV_S_OK;
    try {
        f->major_ = sectorShift == kShiftVersion4 ? kVersion4 : kVersion3;
        f->sectorBytes_ = 1u << sectorShift;
        f->perSector_ = f->sectorBytes_ / 4;
        f->slotsPerSector_ = f->sectorBytes_ / kEntryBytes;
        // A version 4 header fills its whole sector.
        StgVector<uint8_t> zeros(f->sectorBytes_, 0);
        rc = f->write_at(0, zeros.data(), f->sectorBytes_);
        // Sector 0 is the FAT, sector 1 the directory with the root entry.
        if (!rc) rc = f->add_fat_sector();
        if (!rc) {
            uint32_t s;
            rc = f->take_sector(&s);
            f->dirChain_.push_back(s);
            f->dirImage_.assign(f->sectorBytes_, 0);
            for (uint32_t i = 0; i < f->slotsPerSector_; ++i) f->poolSlots_.insert(i);
            f->set_fat(s, kEndOfChain, false);
        }
        uint32_t root;
        if (!rc) rc = f->new_node(&root);
        if (!rc) rc = f->take_slot(&f->nodes_[root].slot);
        if (!rc) {
            CfbNode& r = f->nodes_[root];
            r.type = kTypeRoot;
            r.color = kBlack;
            r.name.len = uint8_t(std::size(kRootName) - 1);
            std::copy(std::begin(kRootName), std::end(kRootName) - 1, r.name.units.begin());
            r.chainLoaded = true;
            r.treeSorted = r.treeBalanced = true;
            for (uint32_t i = 0; i < f->slotsPerSector_; ++i) {
                uint8_t* e = &f->dirImage_[i * kEntryBytes];
                put_le32(e + kEntLeft, kNoEntry);
                put_le32(e + kEntRight, kNoEntry);
                put_le32(e + kEntChild, kNoEntry);
            }
            f->mark_entry(root, true);
            f->headerGeometry_ = f->headerMini_ = true;
            f->dirUndo_.clear();
            rc = f->commit();
        }
    } catch (const std::bad_alloc&) {
        rc = TAV_STG_E_INSUFFICIENTMEMORY;
    }
    if (rc) {
        f->fd_ = -1;
        stg_delete(f);
        return rc;
    }
    *out = f;
    return TAV_S_OK;
}

CfbFile::~CfbFile() {
    if (fd_ < 0) return;
    // One flush at the close of a writer: a completed file survives a
    // power loss too.
    if (writable_ && !broken_) (void)plat_fsync(fd_);
    (void)plat_close(fd_);
}
