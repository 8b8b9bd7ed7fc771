// The format table: one row of operations per file type. Every export that
// works on a handle does its generic steps in the frame and calls its
// format's row for the rest; a file format is a module of its own that
// fills in one row (frame/format_table.cpp lists them).
//
// A null operation means the format does not support it: each export then
// gives its own answer for that case (usually TAV_E_NOT_SUPPORTED). A format
// that accepts a call and has nothing to do fills the slot with one of the
// `format_nothing_*` operations below, so "does nothing and succeeds" and
// "not supported" are never confused.
#pragma once

#include <cstdint>
#include <span>

#include "frame/detect.h"
#include "qvtav.h"

struct FctEntry;
struct FileLocation;

// What a format is, beyond its operations.
enum FormatTrait : uint32_t {
    // The file is plain bytes: no pages, no page information; the page calls
    // skip their page checks and the format answers them directly.
    kTraitByteStream = 1u << 0,
    // The document is not reached through a descriptor of the file layer: the
    // format opens, creates and closes its own storage (fd holds its root).
    kTraitOwnStorage = 1u << 1,
    // Pages are delivered decoded, so the stored size is the decoded size.
    kTraitDecodedPages = 1u << 2,
    // Decoded rows are padded to a multiple of 32 bits.
    kTraitRowsOf32Bits = 1u << 3,
    // A page write of zero bytes is meaningful (it ends a page).
    kTraitEmptyWrites = 1u << 4,
};

// Bits of xtavwrite's flag: the last data of the page, and (with strip-wise
// writing, option 4) the end of a strip.
constexpr uint8_t kWriteLastData = 0x01;
constexpr uint8_t kWriteEndOfStrip = 0x02;

// What open and create hand to a format's set-up.
struct FormatRequest {
    FileLocation* location;
    const char* path;
    uint32_t mode;  // access mode of the file layer
};

// A property block to be written over the one in the file (xtavputprops
// when the new texts fit the old block).
struct PropertyPatch {
    uint32_t offset = 0;      // file offset of the block's text
    uint8_t* bytes = nullptr; // memory-table block, freed by the editor
    uint32_t length = 0;
};

struct FormatOps {
    uint32_t fileType = 0;
    uint32_t traits = 0;

    // ---- detection (frame/detect.cpp walks the rows) ----
    // Where the probe of the first bytes stands: rows are asked in rising
    // order and the first kProbeYes decides; kProbeRefused fails the open
    // with TAV_E_NOT_SUPPORTED. 0: never found by its bytes.
    uint8_t detectOrder = 0;
    Probe (*probe)(const FileHead& head) = nullptr;
    // Asked for a local path before any descriptor is opened, for a
    // document kept in storage of its own: *found 1 when path is one. 0, or
    // the status the open fails with.
    uint32_t (*probe_path)(const char* path, uint32_t* found) = nullptr;

    // ---- set-up and end of a handle ----
    // Whether a file of this type can be created (null: never, 22).
    bool (*can_create)(bool local) = nullptr;
    // After detection (or, with kTraitOwnStorage, instead of the descriptor):
    // the format's state and page count. 0, or -1 with errno.
    int (*open)(FctEntry* e, const FormatRequest& request) = nullptr;
    // After the file was created (kTraitOwnStorage: instead of creating it).
    int (*create)(FctEntry* e, const FormatRequest& request) = nullptr;
    // Close: the finishing writes (last page, tables). 0, or -1 with errno.
    int (*finish)(FctEntry* e) = nullptr;
    // Abort: puts back what the format changed inside the original bytes
    // before the file is cut back to its length at open.
    void (*abort)(FctEntry* e) = nullptr;
    // Close and abort: frees the format's state, closes and deletes its work
    // files. Safe on a partly set-up handle and more than once; keeps errno.
    void (*release)(FctEntry* e) = nullptr;

    // ---- pages ----
    // Page information of page `page` (from 0) into the handle's copy. The
    // caller's record is there for a format that reads a value from it (AWD:
    // the band size it will read with).
    int (*page_info)(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo& caller,
                     PageSizes* sizes) = nullptr;
    // Page data; page is from 0 (a strip in strip-wise reading). Bytes
    // delivered, or -1 with errno.
    int (*page_read)(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                     uint32_t* remaining, uint32_t page) = nullptr;
    // Where the current page's stored data starts, read from the format
    // view in the handle's copy: for formats whose page read is
    // format_read_view_data (the stored bytes from there on).
    uint32_t (*data_offset)(const PageInfo& view) = nullptr;
    // Auxiliary data (texts, colour tables, profile) into the caller's buffers.
    int (*page_data)(FctEntry* e, PageInfo* info) = nullptr;
    // Page information for writing; page from 0.
    int (*put_info)(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options) = nullptr;
    // Page data for writing; page from 0. Bytes taken, or -1 with errno.
    int32_t (*page_write)(FctEntry* e, const void* buffer, uint32_t count, uint16_t page,
                          uint8_t flag) = nullptr;

    // ---- options ----
    // Options 12, 13 and 23 (value checked non-null). Null: the cell is left
    // as it was.
    int (*strip_counts)(FctEntry* e, uint32_t option, uint32_t* value) = nullptr;
    // Option 11 with page information given. Null: nothing to do.
    int (*image_length)(FctEntry* e, uint32_t rows) = nullptr;
    // Option 9: the page index window. Null: the handle reads no index (TAV_E_INDEX_KIND).
    int (*index_window)(FctEntry* e, uint32_t entries) = nullptr;
    // Options 15 to 17 and 19 to 21 (value checked non-null). Null: the
    // format has no annotation areas.
    int (*annotation_area)(FctEntry* e, uint32_t option, uint32_t* value) = nullptr;
    // Option 22: moves page `from` before page `to` (both from 1). Null: TAV_E_NOT_SUPPORTED.
    int (*move_page)(FctEntry* e, uint32_t to, uint32_t from) = nullptr;

    // ---- whole-document edits (xtavdelpgs, xtavputprops) ----
    // New summary properties: 1 when they fit the block in the file (*patch
    // says what to write there), 0 when the handle now holds them for the
    // rewrite, -1 on failure. Null: the format keeps no properties.
    int (*set_properties)(FctEntry* e, const PageInfo* props, PropertyPatch* patch) = nullptr;
    // Copies the document without pages first..last (from 0; -1, -1 for
    // none) into the descriptor out. Null: only deleting every page (the
    // whole file) is possible.
    int (*rewrite)(FctEntry* e, int out, int32_t first, int32_t last) = nullptr;
    // Deletes pages or sets properties of a document by path, without a
    // handle (kTraitOwnStorage formats). Null: TAV_E_NOT_SUPPORTED.
    int (*edit_by_path)(FileLocation* loc, const char* path, int32_t first, int32_t last,
                        const PageInfo* props) = nullptr;

    // ---- the process ----
    // Process detach (and thread detach inside the system shell): unloads
    // the outside libraries the format loaded. Null: it loads none it
    // gives back.
    void (*unload)() = nullptr;

    // ---- this type's data, announced to another type's writer ----
    // A caller of xtavputi with PutOptions.typeGiven names in the record's
    // fileType the type whose data it will deliver. That type's row says
    // what its data means for the page being written; null: no writer
    // takes this type's data (TAV_E_NOT_SUPPORTED).
    // For a writer that lays a page out in strips.
    int (*data_strips)(PageInfo* info, const PutOptions& options) = nullptr;
    // For a writer that stores a page in chunks of maxStripSize bytes
    // (defaultChunk: the writer's own chunk size).
    int (*data_chunks)(PageInfo* info, const PutOptions& options, uint32_t defaultChunk) = nullptr;
};

// The row of a file type (1 to 13), or null for codes outside the table.
const FormatOps* format_of(uint32_t fileType);
// Every row, in type code order.
std::span<const FormatOps* const> format_rows();
// The rows that detection asks, in their detection order.
std::span<const FormatOps* const> format_detection_order();
// The row of plain bytes (kTraitByteStream): a file no probe claims, an
// empty file, and a file opened with TAV_OPEN_RAW.
const FormatOps* format_plain_bytes();
// The row of an announced kind of data (the record's fileType with
// PutOptions.typeGiven) that other writers take; null for any other code.
const FormatOps* format_announced(uint32_t fileType);

// Calls every row's unload (frame/dllmain.cpp).
void format_unload_all();

// Operations for formats that accept a call and transfer nothing.
int format_nothing_info(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo&, PageSizes* sizes);
int format_nothing_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                        uint32_t* remaining, uint32_t page);
int format_nothing_data(FctEntry* e, PageInfo* info);
int format_nothing_put(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options);
int32_t format_nothing_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page,
                             uint8_t flag);
// Data announced as this type's, taken by a writer as the record gives it.
int format_data_as_given(PageInfo* info, const PutOptions& options);
int format_data_as_given(PageInfo* info, const PutOptions& options, uint32_t defaultChunk);
// Set-up of a file that holds one page.
int format_single_page(FctEntry* e, const FormatRequest& request);
// A type that can be created anywhere, local or remote.
bool format_creatable(bool local);
