// TIFF reading and writing: the operations shared across the TIFF code.
#pragma once

#include <cstdint>

#include "frame/fct.h"
#include "qvtav.h"

// TIFF field types.
enum TiffType : uint16_t {
    kTiffByte = 1, kTiffAscii = 2, kTiffShort = 3, kTiffLong = 4, kTiffRational = 5,
    kTiffSByte = 6, kTiffUndefined = 7,
};

constexpr uint16_t kByteOrderII = 0x4949;
constexpr uint16_t kByteOrderMM = 0x4D4D;
constexpr uint32_t kTiffSlotSize = 668;  // a written directory slot
constexpr uint16_t kTagPageTable = 32934;
constexpr uint16_t kTagPageIndex = 32935;

struct TiffHeader {
    uint16_t byteOrder;
    uint16_t magic;
    uint32_t firstIfd;
};

// ---- directories and page location (tiff/read/tiff_dir.cpp, tiff_pages.cpp) ----
int tiff_read_header(FctEntry* e, uint32_t base, TiffHeader* out);
int tiff_read_dir(FctEntry* e, uint16_t byteOrder, uint32_t base, uint32_t ifdOffset,
                  uint32_t wantedSubfile, TiffDir* out, int anyPage);
int tiff_read_typed(FctEntry* e, uint16_t type, uint32_t count, uint32_t offset,
                    uint16_t byteOrder, void* buffer, uint32_t bufferSize);
int tiff_walk_to_page(FctEntry* e, uint32_t page, uint32_t* ifdOffset, TiffHeader* header);
int tiff_setup_pages(FctEntry* e);
// Reads the directory of a page (from 0) into *dir, after the page lookup
// (page index, page offset table or chain); sets tiffBase.
int tiff_page_dir(FctEntry* e, uint32_t page, TiffDir* dir);
// The IFD offset of a page (from 0) without reading its directory.
int tiff_page_ifd_offset(FctEntry* e, uint32_t page, uint32_t* ifdOffset);
// Value of an entry as the decoder takes it: SHORT count 1 its first u16,
// otherwise the u32 field.
inline uint32_t tiff_entry_value(const TiffDirEntry& d) {
    return (d.type == kTiffShort && d.count == 1) ? (d.value & 0xFFFFu) : d.value;
}
// Frees the reader's page-location state (index cache, memo, work buffers).
void tiff_release_reader(FctEntry* e);

// ---- tag decoding and page information (tiff/read/tiff_decode.cpp) ----
int tiff_decode_dir(FctEntry* e, uint16_t byteOrder, const TiffDir* dir, PageInfo* info,
                    PageSizes* sizes);
// Loads a strip array (offsets or counts) from a directory entry into *list.
int tiff_load_strip_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase);
uint32_t strip_list_get(const StripList* list, uint32_t i);
void strip_list_free(StripList*& list);

// ---- writing (tiff/write/) ----
// Create set-up: work directory, page offset table work file (262 on failure).
int tiff_create_setup(FctEntry* e);
// Update-mode preparation of an opened file (page offset table work file,
// conversion of page index files).
int tiff_prepare_update(FctEntry* e);
// Close with flush: finishing the last directory and the page offset table.
int tiff_close_finish(FctEntry* e);
// Abort: restores the first patched link of an appended file.
void tiff_abort_restore(FctEntry* e);
// Frees the writer state and deletes its work file.
void tiff_release_writer(FctEntry* e);

// ---- whole-document edits (tiff/write/tiff_rewrite.cpp, move_page.cpp) ----
// Copies the handle's TIFF file page by page into the descriptor out,
// leaving pages first..last (from 0; -1, -1 for none) out and writing the
// handle's property block in front.
int tiff_rewrite(FctEntry* e, int out, int32_t first, int32_t last);
// Copies n bytes from srcOffset of one descriptor to dstOffset of another.
int copy_range(int src, int dst, uint32_t srcOffset, uint32_t dstOffset, uint32_t n);
// The directory part of path (up to its last '/' or '\') into buffer of
// size bytes; -1 (22) when the path has no separator or the buffer is short.
int dir_of_path(char* buffer, uint32_t size, const char* path);
// Moves page `from` (from 1) of a TIFF handle open for update before page `to`.
int tiff_move_page(FctEntry* e, uint32_t to, uint32_t from);
