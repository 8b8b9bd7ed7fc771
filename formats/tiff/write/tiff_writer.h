// The TIFF directory writer: building, finishing and linking page
// directories, the page offset table and its work file, and the update
// preparation of existing files.
#pragma once

#include <cstdint>
#include <vector>

#include "fileio/fio.h"
#include "formats/tiff/tiff.h"
#include "frame/fct.h"
#include "qvtav.h"

constexpr uint32_t kNoPage = 0xFFFFFFFFu;
constexpr char kTiffSoftware[] = "Qv/TAV, writer v00.06.02";  // 25 bytes with the zero

// Reads the directory at an absolute offset as it lies in the file (entry
// order kept, values in host order), for patching entries by their slot.
inline int tiff_read_raw_dir(int fd, uint32_t offset, uint16_t order, uint32_t limit,
                             TiffDir* out) {
    IfdSource src(fd);
    return tiff_read_ifd(src, order, offset, limit, kIfdFileOrder, out);
}

// ---- directory building and finishing ----
int tiff_build_dir(PageInfo* info, FctEntry* e);
int tiff_finish_dir(FctEntry* e, int newPage);
int tiff_slot_positions(FctEntry* e);
uint16_t tiff_orientation(const PageInfo* info);
int tiff_write_strip_tables(FctEntry* e);
int tiff_write_first_dir(FctEntry* e);
int tiff_table_insert(FctEntry* e, uint32_t page, uint32_t ifdOffset);
// Position of the next 4-aligned slot: at offset when nonzero, else at the end.
int32_t tiff_align_end(int fd, uint32_t offset);
// Writes host-order items of a TIFF type at the file position in the given
// byte order (as they are for "II"): the bytes written, or -1.
int32_t tiff_write_swapped(int fd, const void* buffer, uint32_t byteCount, uint32_t itemCount,
                           uint16_t type, uint16_t byteOrder);
// The same, all of them at pos: 0, or -1 with errno.
int tiff_write_items_at(int fd, uint32_t pos, const void* buffer, uint32_t itemCount,
                        uint16_t type, uint16_t byteOrder);
// The page offset table at the aligned end of the file, or at the aligned
// `keep` when a dropped page's bytes lie behind it (the table's length
// field then names the end of the table, where close cuts the file).
int tiff_write_table(FctEntry* e, uint32_t keep = 0);
// Whether the page being written has room for its data to end at dataEnd:
// behind it close writes its strip tables (for `strips` strips) and the
// page offset table, and the file must still end within the length limit.
// 0, or -1 with TAV_E_SEEK.
int tiff_check_room(FctEntry* e, uint64_t dataEnd, uint32_t strips);
// Marks the directory being built as broken, with errno as its code (5
// when none is set); errno is kept. Returns -1.
int tiff_break_page(FctEntry* e);
// Drops the broken directory: nothing of it enters the chain or the table;
// a directory of the same page written before it ends the chain again.
// 0, or -1 with errno.
int tiff_drop_page(FctEntry* e);
// The page offset table's header at `at`: mark, version, page count and the
// file's length.
int tiff_write_table_header(int fd, uint32_t at, uint32_t pages, uint32_t fileLength,
                            uint16_t order);
// The page offset table entry (tag 32934) in slot `slot` of the directory at
// ifd, pointing at the table at tableAt.
int tiff_write_table_entry(int fd, uint32_t ifd, uint32_t slot, uint32_t pages, uint32_t tableAt,
                           uint16_t order);
// IFD offset of a page from the page offset table work file.
int tiff_work_entry(FctEntry* e, uint32_t page, uint32_t* ifdOffset);
// Before a next-IFD field of the file is rewritten: the four bytes at link
// (the field of the directory at owner, or the header's with owner
// kNoDirectory) must not lie inside another page's directory, the header or
// the property block, as they can in a damaged file, where the write would
// damage them. 0, or -1 with TAV_E_DIRECTORY.
constexpr uint32_t kNoDirectory = 0xFFFFFFFFu;
int tiff_check_link(FctEntry* e, uint32_t owner, uint32_t link);
// The next-IFD field of the page directory at ifd, checked as above; a
// field that lies beyond the end of the file gives TAV_E_DIRECTORY.
int tiff_link_field(FctEntry* e, uint32_t ifd, uint32_t* link);

// In-place writes of one editing step, each with the bytes it replaced, so
// that the step can be taken back whole when a later part of it fails: the
// writes stay only when the step keeps them, and are undone otherwise (on
// every way out of the step, an exception included).
class TiffPatchLog {
public:
    explicit TiffPatchLog(int fd) : fd_(fd) {}
    ~TiffPatchLog() { undo(); }
    TiffPatchLog(const TiffPatchLog&) = delete;
    TiffPatchLog& operator=(const TiffPatchLog&) = delete;
    // Saves the n bytes at pos, then writes over them unless they are the
    // same: 0, or -1 with errno (a write that failed part way is taken back
    // by undo too).
    int write(uint32_t pos, const void* bytes, uint32_t n);
    // The step is done: its writes stay.
    void keep() { saved_.clear(); }
    // Writes the saved bytes back, the last first. Keeps errno.
    void undo();

private:
    struct Saved {
        uint32_t pos;
        std::vector<uint8_t> bytes;
    };
    int fd_;
    std::vector<Saved> saved_;
};

// ---- the directory that names the page offset table ----
// The directory a reader takes the table from: the first directory with a
// table entry on the chain from the header. -1 with TAV_E_DIRECTORY when the reader
// would refuse a directory before it (or find a page index tag in the
// first), with TAV_E_MISSING_ENTRY when the chain holds no table entry.
int tiff_find_carrier(FctEntry* e, uint32_t* carrier);
// Names the table at tableAt (e->pageCount pages) in the table entries of
// the directory `carrier` and clears those of the directory that named the
// table before (tableCarrier), all through log; checks that readers still
// find `carrier` first (TAV_E_DIRECTORY when not). The caller records the carrier.
int tiff_name_table(FctEntry* e, uint32_t carrier, uint32_t tableAt, TiffPatchLog& log);

// ---- update preparation ----
int tiff_table_copy(FctEntry* e, int newFile);
int tiff_chain_to_table(FctEntry* e);
int tiff_convert_index(FctEntry* e);

// Closes and deletes the page offset table work file, if open. Keeps errno.
void tiff_drop_work_file(FctEntry* e);

// Frees both strip lists of the writer.
void tiff_free_strip_lists(FctEntry* e);

// Positioned whole reads and writes on a descriptor of the file layer:
// 0, or -1 with errno set (a short read of a TIFF structure gives TAV_E_DIRECTORY; a
// failed write keeps the file layer's code, or 5 when it set none).
inline int tiff_pread(int fd, uint32_t pos, void* buf, uint32_t count) {
    return fio_read_exact_at(fd, pos, buf, count, TAV_E_DIRECTORY);
}
inline int tiff_pwrite(int fd, uint32_t pos, const void* buf, uint32_t count) {
    return fio_write_at(fd, pos, buf, count);
}
