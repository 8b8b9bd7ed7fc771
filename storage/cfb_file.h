// One open compound file: its header, allocation tables, directory and
// stream data, read and changed in place.
//
// Every change is written so that a process killed at any instant loses at
// most the change under way (commit): new sectors and directory slots are
// written first, then the FAT entries that reach them (fresh ones before the
// links from reachable chains), the header when the tables grew, then the
// directory entries that make the change visible (the root entry first);
// only after that are released sectors and slots marked free, and only then
// can they be reused. A directory tree is changed by path copying: the
// entries whose links change are written to fresh slots and the storage's
// child link switches to the new tree in one entry write.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "qvtav.h"
#include "storage/cfb_layout.h"
#include "storage/stg_alloc.h"

constexpr uint32_t kNoNode = 0xFFFFFFFF;
constexpr uint32_t kRootNode = 0;
// Streams, like files on this platform, stay below 2^31 bytes.
constexpr uint32_t kStreamMax = 0x7FFFFFFF;

struct CfbName {
    std::array<char16_t, cfb::kNameUnits> units{};
    uint8_t len = 0;  // without the terminator
};

// Case-insensitive order of the format: shorter names first, then unit by
// unit after upper-casing. Negative, 0 or positive.
int cfb_compare(const CfbName& a, const CfbName& b);

struct CfbNode {
    CfbName name;
    uint8_t type = cfb::kTypeEmpty;
    uint8_t color = cfb::kBlack;
    uint32_t left = kNoNode, right = kNoNode, child = kNoNode;
    std::array<uint8_t, 16> clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0, modified = 0;
    uint32_t start = cfb::kEndOfChain;
    uint32_t size = 0;
    uint32_t slot = cfb::kNoEntry;
    uint32_t opens = 0;  // objects open on the element
    bool live = false;
    bool chainLoaded = false;
    // Storages: children found by binary search (sorted) and kept as a
    // left-leaning red-black tree (balanced), once checked.
    bool treeSorted = false;
    bool treeBalanced = false;
    // The change under way: links changed (rewritten at a new slot), or only
    // the colour (rewritten in place after the switch).
    bool moved = false;
    bool recolored = false;
    bool onPath = false;
    StgVector<uint32_t> chain;  // a stream's (or the mini stream's) sectors, once loaded
};

class CfbFile {
public:
    // Reads and checks the file on fd (which the object then owns).
    static uint32_t open(int fd, bool writable, CfbFile** out);
    // Writes an empty compound file to fd (empty, locked for writing).
    static uint32_t create(int fd, uint16_t sectorShift, CfbFile** out);

    // References from open objects; the object layer deletes the file when
    // the last one goes, which flushes a writer's data (fsync) and closes it.
    void retain() { ++refs_; }
    bool drop() { return --refs_ == 0; }
    // The file's identity in the process's table of open files.
    uint64_t dev = 0, ino = 0;

    std::mutex mutex;
    bool writable() const { return writable_; }
    // A failed change leaves memory and file apart: every later call gets
    // this status (0 while all is well).
    uint32_t broken() const { return broken_; }
    void mark_broken(uint32_t status) { broken_ = status; }

    CfbNode& node(uint32_t id) { return nodes_[id]; }
    uint16_t version() const { return major_; }

    // Elements of a storage.
    uint32_t find(uint32_t storage, const CfbName& name);
    void children(uint32_t storage, StgVector<uint32_t>* out);
    bool subtree_open(uint32_t id);
    bool in_subtree(uint32_t top, uint32_t id);
    uint32_t create_element(uint32_t storage, const CfbName& name, uint8_t type, uint32_t* out);
    uint32_t destroy_element(uint32_t storage, uint32_t id);
    uint32_t rename_element(uint32_t storage, uint32_t id, const CfbName& name);
    uint32_t set_class(uint32_t id, const std::array<uint8_t, 16>& clsid, uint32_t stateBits);

    // Stream data.
    uint32_t read(uint32_t id, uint64_t pos, void* buf, uint32_t count, uint32_t* done);
    uint32_t write(uint32_t id, uint64_t pos, const void* buf, uint32_t count);
    uint32_t set_size(uint32_t id, uint64_t size);

    CfbFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
    ~CfbFile();

private:
    // Loading and checking (cfb_load.cpp).
    uint32_t load();
    uint32_t load_header(const uint8_t* h);
    uint32_t load_fat();
    uint32_t load_directory();
    uint32_t decode_entry(uint32_t slot, uint32_t* id);
    uint32_t load_mini();
    void check_sorted();
    uint32_t collect_garbage();
    uint32_t load_chain(uint32_t start, bool mini, uint32_t needed, bool strict,
                        StgVector<uint32_t>* out);
    uint32_t ensure_chain(uint32_t id);
    uint32_t sector_limit() const { return writable_ ? nextSector_ : fileSectors_; }
    // Whether count more sectors at the end keep the file within the
    // platform's limit of 2^31 - 1 bytes.
    bool sectors_fit(uint64_t count) const;
    // At most how many sectors from the end of the file growing stream id
    // to size bytes takes: its new data (all of it when it leaves the mini
    // stream), the FAT and DIFAT sectors describing them, and a few spare.
    uint64_t growth_bound(uint32_t id, uint32_t size) const;

    // Allocation (cfb_alloc.cpp).
    uint32_t take_sector(uint32_t* out);
    uint32_t take_sectors(uint32_t count, StgVector<uint32_t>* out);
    uint32_t add_fat_sector();
    uint32_t add_difat_sector();
    uint32_t take_mini(uint32_t* out);
    // A new sector, every byte `fill` in the file, ending its own chain in
    // the FAT (not linked yet).
    uint32_t take_filled_sector(uint8_t fill, uint32_t* out);
    uint32_t add_mini_fat_sector();
    uint32_t extend_container();
    uint32_t take_slot(uint32_t* out);
    uint32_t add_dir_sector();
    uint32_t new_node(uint32_t* out);
    void set_fat(uint32_t sector, uint32_t value, bool link);
    void set_mini_fat(uint32_t sector, uint32_t value, bool link);
    uint32_t append_units(uint32_t id, bool mini, uint32_t count);
    void release_chain(const StgVector<uint32_t>& chain, bool mini, uint32_t keep);
    void release_subtree(uint32_t id);

    // Writing (cfb_commit.cpp).
    void encode_entry(uint32_t id, uint8_t* out) const;
    // Header fields that say how far the tables reach; the file's copy is
    // kept to write the header in two steps (see write_header).
    struct Reach {
        uint32_t fatCount, difatStart, difatCount, dirCount, miniStart, miniCount;
    };
    Reach current_reach() const;
    void encode_header(uint8_t* out, const Reach& reach) const;
    void mark_entry(uint32_t id, bool commit);
    uint32_t commit();
    uint32_t write_fat_sector(uint32_t index);
    uint32_t write_mini_fat_sector(uint32_t index);
    uint32_t write_difat_sector(uint32_t index);
    uint32_t write_dir_sector(uint32_t index);
    uint32_t write_header(bool geometry, bool mini);
    uint32_t write_tables(bool links);
    void swap_undo(bool restoreOld);
    uint32_t write_at(uint64_t offset, const void* buf, uint32_t count);
    uint32_t read_at(uint64_t offset, void* buf, uint32_t count);
    uint32_t apply_releases();
    uint32_t fail(uint32_t status);
    uint64_t sector_offset(uint32_t sector) const { return uint64_t(sector + 1) * sectorBytes_; }

    // Directory trees (cfb_tree.cpp).
    uint32_t prepare_tree(uint32_t storage);
    bool tree_is_llrb(uint32_t root);
    uint32_t rebuild_tree(uint32_t storage);
    bool is_red(uint32_t id) const { return id != kNoNode && nodes_[id].color == cfb::kRed; }
    uint32_t left_of(uint32_t id) const { return id == kNoNode ? kNoNode : nodes_[id].left; }
    void set_left(uint32_t h, uint32_t v);
    void set_right(uint32_t h, uint32_t v);
    void set_color(uint32_t h, uint8_t color);
    uint32_t rotate_left(uint32_t h);
    uint32_t rotate_right(uint32_t h);
    void flip_colors(uint32_t h);
    uint32_t balance(uint32_t h);
    uint32_t insert(uint32_t h, uint32_t id);
    uint32_t move_red_left(uint32_t h);
    uint32_t move_red_right(uint32_t h);
    uint32_t remove_min(uint32_t h, uint32_t* min);
    uint32_t remove(uint32_t h, uint32_t id);
    uint32_t tree_insert(uint32_t root, uint32_t id);
    uint32_t tree_remove(uint32_t root, uint32_t id);
    uint32_t publish_tree(uint32_t storage, uint32_t root);

    // Stream data (cfb_stream.cpp).
    bool is_mini(uint32_t id) const;
    uint32_t transfer(uint32_t id, uint64_t pos, uint8_t* data, const uint8_t* src, uint32_t n);
    uint32_t zero_fill(uint32_t id, uint64_t from, uint64_t to);
    uint32_t grow(uint32_t id, uint32_t size, uint32_t fillTo);
    uint32_t shrink(uint32_t id, uint32_t size);
    uint32_t move_stream(uint32_t id, uint32_t size, uint32_t keep, uint32_t fillTo);

    int fd_;
    bool writable_;
    uint32_t refs_ = 1;
    uint32_t broken_ = 0;

    uint16_t major_ = cfb::kVersion3;
    uint32_t sectorBytes_ = 512;
    uint32_t perSector_ = 128;      // FAT entries in a sector
    uint32_t slotsPerSector_ = 4;   // directory entries in a sector
    uint32_t fileSectors_ = 0;      // sectors the file holds
    uint32_t nextSector_ = 0;       // a writer's first sector past every allocated one
    uint32_t miniCount_ = 0;        // mini sectors the mini stream holds

    StgVector<uint32_t> fat_, fatSectors_, difatSectors_;
    StgVector<uint32_t> miniFat_, miniFatChain_;
    StgVector<uint32_t> dirChain_;
    StgVector<uint8_t> dirImage_;  // the directory as the file holds it
    StgVector<CfbNode> nodes_;
    StgVector<uint32_t> freeNodes_;
    StgSet<uint32_t> poolSectors_, poolMini_, poolSlots_;

    // The change under way.
    StgSet<uint32_t> fatDirty_, fatLinks_, miniDirty_, miniLinks_, difatDirty_;
    StgSet<uint32_t> dirDirty_, dirCommit_;
    bool headerGeometry_ = false;
    bool headerMini_ = false;
    Reach disk_{0, cfb::kEndOfChain, 0, 0, cfb::kEndOfChain, 0};  // as the file's header holds it
    // Values that links of the change replaced, and entries it switches,
    // as the file holds them: sectors holding new entries are first written
    // with these, so a torn write can only lose what nothing reaches yet.
    struct EntryUndo {
        uint32_t slot;
        std::array<uint8_t, cfb::kEntryBytes> bytes;
    };
    // Mini FAT records carry kFatTag + the mini sector (mini sectors stay
    // far below it: the mini stream is smaller than 2^31 bytes).
    static constexpr uint32_t kFatTag = 0x80000000;
    StgVector<std::pair<uint32_t, uint32_t>> fatUndo_;
    StgVector<EntryUndo> dirUndo_;
    StgVector<uint32_t> touched_;     // tree nodes changed
    StgVector<uint32_t> cutRegular_, cutMini_;      // new chain ends
    StgVector<uint32_t> freeRegular_, freeMini_;    // sectors to release
    StgVector<uint32_t> releaseSlots_, releaseNodes_, lateEntries_;
};
