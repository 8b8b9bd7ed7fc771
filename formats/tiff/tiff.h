// TIFF reading and writing: the operations shared across the TIFF code.
#pragma once

#include <cstdint>

#include "formats/tiff/tiff_entry.h"
#include "formats/tiff/tiff_layout.h"
#include "formats/tiff/tiff_state.h"
#include "formats/tiff/tiff_tags.h"
#include "formats/tiff/tiff_types.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "qvtav.h"

struct TiffHeader {
    uint16_t byteOrder;
    uint16_t magic;
    uint32_t firstIfd;
};

// ---- directories and page location (formats/tiff/read/tiff_dir.cpp, tiff_pages.cpp) ----
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
// Frees the reader's page-location state (index cache, memo, work buffers).
void tiff_release_reader(FctEntry* e);

// ---- tag decoding and page information (formats/tiff/read/tiff_decode.cpp) ----
int tiff_decode_dir(FctEntry* e, uint16_t byteOrder, const TiffDir* dir, PageInfo* info,
                    PageSizes* sizes);
// Loads a strip array (offsets or counts) from a directory entry into *list.
int tiff_load_strip_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase);
uint32_t strip_list_get(const StripList* list, uint32_t i);
void strip_list_free(StripList*& list);

// ---- the operations of the TIFF row (formats/tiff/tiff_format.cpp) ----
int tiff_page_info(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo&, PageSizes* sizes);
int tiff_read_strips(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                     uint32_t* remaining, uint32_t page);
int tiff_page_data(FctEntry* e, PageInfo* info);
int tiff_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options);
// TIFF data announced to a writer of chunks: a compressed page must be one
// strip (TAV_E_INCONSISTENT); chunks of the options' buffer size, else of
// defaultChunk.
int tiff_data_chunks(PageInfo* info, const PutOptions& options, uint32_t defaultChunk);
int32_t tiff_write_strip(FctEntry* e, const void* buffer, uint32_t count, uint16_t page,
                         uint8_t flag);
int tiff_strip_counts(FctEntry* e, uint32_t option, uint32_t* value);
int tiff_image_length(FctEntry* e, uint32_t rows);
int tiff_index_window(FctEntry* e, uint32_t entries);
int tiff_annotation_area(FctEntry* e, uint32_t option, uint32_t* value);
int tiff_set_properties(FctEntry* e, const PageInfo* props, PropertyPatch* patch);
// The property block (formats/tiff/tiff_properties.cpp): read at open when the file
// has one; its texts into a page's information; a new block from a record
// (null when it cannot be made, the properties then staying as they were).
int tiff_read_property_block(FctEntry* e);
void tiff_parse_properties(const TiffState& ts, PageInfo& c);
uint8_t* tiff_build_property_block(const PageInfo* info, uint32_t* length);
// The block's 16-byte header (mark, version, length) into out.
void tiff_property_header(uint8_t* out, uint32_t length);

// ---- writing (formats/tiff/write/) ----
// The writer's directory work buffer and the name of its page offset table
// work file (a file opened for update is written like a new one). 0, or -1
// with errno.
int tiff_alloc_work(FctEntry* e);
// Create set-up: work directory, page offset table work file (TAV_E_WORKFILE on failure).
int tiff_create_setup(FctEntry* e);
// Update-mode preparation of an opened file (page offset table work file,
// conversion of page index files).
int tiff_prepare_update(FctEntry* e);
// Close with flush: finishing the last directory and the page offset table.
int tiff_close_finish(FctEntry* e);
// Frees the writer state and deletes its work file.
void tiff_release_writer(FctEntry* e);

// ---- whole-document edits (formats/tiff/write/tiff_rewrite.cpp, move_page.cpp) ----
// Copies the handle's TIFF file page by page into the descriptor out,
// leaving pages first..last (from 0; -1, -1 for none) out and writing the
// handle's property block in front.
int tiff_rewrite(FctEntry* e, int out, int32_t first, int32_t last);
// Moves page `from` (from 1) of a TIFF handle open for update before page `to`.
int tiff_move_page(FctEntry* e, uint32_t to, uint32_t from);
