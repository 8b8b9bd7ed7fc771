// The TIFF directory writer: building, finishing and linking page
// directories, the page offset table and its work file, and the update
// preparation of existing files.
#pragma once

#include <cstdint>

#include "frame/fct.h"
#include "qvtav.h"
#include "tiff/tiff.h"

constexpr uint32_t kTiffTableMagic = 0x4F584554;  // "TEXO" read as a little-endian u32
constexpr uint32_t kNoPage = 0xFFFFFFFFu;
constexpr char kTiffSoftware[] = "Qv/TAV, writer v00.06.02";  // 25 bytes with the zero

// Byte order in which the handle's TIFF structures are written: the order of
// an opened file as detected, else the handle's byteOrder (option 14).
uint16_t tiff_file_order(const FctEntry* e);

// Bytes of one item of a TIFF field type (0 for unknown types).
uint32_t tiff_type_size(uint16_t type);

// Encodes a directory (count, entries, next link) in the given byte order.
// out must hold 6 + 12 * entryCount bytes; returns the bytes produced.
uint32_t tiff_encode_dir(const TiffDir& dir, uint16_t order, uint8_t* out);

// Reads the directory at an absolute offset as it lies in the file (entry
// order kept, values in host order). Refuses 55 or more entries (297) and
// directories beyond limit.
int tiff_read_raw_dir(int fd, uint32_t offset, uint16_t order, uint32_t limit, TiffDir* out);

// ---- directory building and finishing ----
int tiff_build_dir(PageInfo* info, FctEntry* e);
int tiff_finish_dir(FctEntry* e, int newPage);
int tiff_slot_positions(FctEntry* e);
uint16_t tiff_orientation(const PageInfo* info);
// Opens an ICC profile by name (a path, or a name in the colour directory).
// Descriptor of the platform layer, or -1.
int tiff_find_profile(const char* name);
int tiff_write_strip_tables(FctEntry* e);
int tiff_write_first_dir(FctEntry* e);
int tiff_table_insert(FctEntry* e, uint32_t page, uint32_t ifdOffset);
// Position of the next 4-aligned slot: at offset when nonzero, else at the end.
int32_t tiff_align_end(int fd, uint32_t offset);
// Writes items of a TIFF type in the given byte order (as they are for "II").
int32_t tiff_write_swapped(int fd, const void* buffer, uint32_t byteCount, uint32_t itemCount,
                           uint16_t type, uint16_t byteOrder);
int tiff_write_table(FctEntry* e);
// IFD offset of a page from the page offset table work file.
int tiff_work_entry(FctEntry* e, uint32_t page, uint32_t* ifdOffset);

// ---- update preparation ----
int tiff_table_copy(FctEntry* e, int newFile);
int tiff_chain_to_table(FctEntry* e);
int tiff_convert_index(FctEntry* e);

// Frees both strip lists of the writer.
void tiff_free_strip_lists(FctEntry* e);

// Positioned whole reads and writes on a descriptor of the file layer:
// 0, or -1 with errno set (a short read gives 297; a failed write keeps the
// file layer's code, or 5 when it set none).
int tiff_pread(int fd, uint32_t pos, void* buf, uint32_t count);
int tiff_pwrite(int fd, uint32_t pos, const void* buf, uint32_t count);

// A u16 or u32 in a TIFF byte order.
void tiff_put16(uint8_t* p, uint16_t v, uint16_t order);
void tiff_put32(uint8_t* p, uint32_t v, uint16_t order);
uint16_t tiff_get16(const uint8_t* p, uint16_t order);
uint32_t tiff_get32(const uint8_t* p, uint16_t order);
