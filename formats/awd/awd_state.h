// The state of an AWD handle, and the operations the AWD module's files
// share. The handle's fd holds the open root storage.
#pragma once

#include <cerrno>
#include <cstdint>

#include "fileio/mem.h"
#include "formats/awd/awd_interface.h"
#include "formats/awd/awd_tree.h"
#include "frame/fct.h"
#include "storage/stg_api.h"
#include "storage/stg_hold.h"

// One document of the file, in display order.
struct AwdDocEntry {
    char name[kAwdNameMax + 1];
    int32_t pageCount;
};

// The longest path of the image file of a page being written.
constexpr uint32_t kAwdTempPathSize = 256;

struct AwdState {
    uint32_t stgMode = 0;         // access mode the root was opened with
    int32_t docCount = 0;         // entries of docs
    AwdDocEntry* docs = nullptr;  // the document table (memory table block)
    // Writing: the encoder image of the page under way, its file, the page
    // it is to become and the rows it has been given.
    void* image = nullptr;
    char tempPath[kAwdTempPathSize] = {};
    uint16_t imagePage = 0;
    uint32_t imageRows = 0;
    // Reading: held from the page information until the page's last band.
    // The viewer keeps viewerInfo up to date for the page it is on.
    StgStorage* docsStg = nullptr;
    StgStream* docStream = nullptr;
    void* viewer = nullptr;
    ViewerDocInfo viewerInfo = {};
    // The root came from a storage reference path: the caller's, never
    // released here.
    bool borrowed = false;
};

inline AwdState& awd_state(FctEntry* e) { return format_state<AwdState>(e); }
inline StgStorage* awd_root(const FctEntry* e) { return reinterpret_cast<StgStorage*>(e->fd); }

// A failed step: errno := code, -1. Operations on a handle copy errno into
// lastError where they return to the frame.
inline int awd_fail(int code) {
    errno = code;
    return -1;
}
// A platform status as the result of a step: 0, or -1 with errno.
inline int awd_status(uint32_t status) { return status ? awd_fail(int(status)) : 0; }

// Writes all n bytes at the stream's position: a status.
inline uint32_t awd_write_all(StgStream* s, const uint8_t* bytes, uint32_t n) {
    uint32_t done = 0;
    if (uint32_t rc = s->ops->Write(s, bytes, n, &done)) return rc;
    return done == n ? 0 : TAV_STG_E_WRITEFAULT;
}

// ---- the display order (formats/awd/awd_order.cpp) ----
// One name of the display order: where its bytes start, and how many there
// are (at most 32).
struct AwdOrderEntry {
    uint32_t start;
    uint32_t length;
};
// The display order as stored, and the names the reading rule finds in it
// up to the first empty name.
struct AwdOrder {
    MemBlock<uint8_t> bytes;
    uint32_t size = 0;
    MemBlock<AwdOrderEntry> entries;
    uint32_t count = 0;
    uint32_t end = 0;  // where the list stops: an empty name or the end
    // Entry i's name, NUL-terminated.
    void name(uint32_t i, char out[kAwdNameMax + 1]) const;
};
// Finds the names in bytes/size. Status.
uint32_t awd_parse_order(AwdOrder* order);
// Reads and parses "Display Order". Status.
uint32_t awd_load_order(StgStorage* root, AwdOrder* order);
// Whether the stored bytes name `name` anywhere, past an empty name too.
bool awd_order_names(const AwdOrder& order, const char* name);
// A change of the order: every entry of a leaving name is cut out, and
// the arriving names go in before the first entry of `before` (at the end
// of the list when it is null or not listed).
struct AwdOrderEdit {
    const char* const* leaving = nullptr;
    uint32_t leavingCount = 0;
    const char* const* arriving = nullptr;
    uint32_t arrivingCount = 0;
    const char* before = nullptr;
};
// The order's bytes after the change; all other bytes as they were.
uint32_t awd_edit_order(const AwdOrder& order, const AwdOrderEdit& edit, MemBlock<uint8_t>& out,
                        uint32_t* size);
// Writes a new display order, after backing the old one up in
// "TexoBackupDO"; a failed write puts the backup back. The backup stays
// until awd_drop_backup.
uint32_t awd_write_display_order(StgStorage* root, const uint8_t* bytes, uint32_t size);
void awd_drop_backup(StgStorage* root);

// ---- reading (formats/awd/awd_read.cpp) ----
// Opens the root: a storage reference path's object (borrowed), else the
// file read-only, or read-write when flags carry write access. The root, or
// null with errno.
StgStorage* awd_open_root(const char* path, uint32_t flags, AwdState& s);
// Builds the document table and the page count.
int awd_load_documents(FctEntry* e);
// The page count of a document, through the viewer. Status.
uint32_t awd_doc_page_count(StgStorage* root, const char* name, int32_t* count);
// Page information of page (from 0); caller holds the band size in.
int awd_get_page_info(FctEntry* e, const PageInfo& caller, PageInfo& copy, uint32_t page);
// The next band into buffer: its bytes, 0 when the page is finished.
int awd_read_band(FctEntry* e, void* buffer);
void awd_release_reader(AwdState& s);
// Ends the handle's AWD state: the reader, a page under way (its image
// closed and its file deleted), the table, the root unless borrowed.
void awd_close(FctEntry* e);

// The document holding page g (from 0) and g's index within it: the table
// index, or -1.
int32_t awd_locate_page(const AwdState& s, uint32_t g, uint32_t* within);
uint32_t awd_total_pages(const AwdState& s);

// ---- records and marks (formats/awd/awd_records.cpp); TAV_E_AWD_ABSENT: absent ----
uint32_t awd_read_doc_record(StgStorage* persistent, const char* name, AwdDocRecord* out);
uint32_t awd_write_doc_record(StgStorage* persistent, const char* name, const AwdDocRecord& r);
uint32_t awd_read_page_record(StgStorage* persistent, const char* name, uint32_t page,
                              AwdPageRecord* out);
uint32_t awd_write_page_record(StgStorage* persistent, const char* name, uint32_t page,
                               const AwdPageRecord& r);
uint32_t awd_page_viewed(StgStorage* persistent, const char* name, uint32_t page);
uint32_t awd_mark_viewed(StgStorage* persistent, const char* name, uint32_t page);
// "Page" and the index in decimal.
void awd_page_name(uint32_t page, char out[16]);
// The default document record, stamped now.
AwdDocRecord awd_default_doc_record();
uint64_t awd_now_filetime();

// ---- writing (formats/awd/awd_write.cpp) ----
int awd_create(FctEntry* e, const char* path);
int awd_put_page_info(FctEntry* e, uint16_t page, const PageInfo& info);
int32_t awd_write_band(FctEntry* e, uint16_t page, const void* buffer, uint32_t count);
// A free document name: the name part of a fresh temporary file path into
// path (260 bytes). Free means no file of that path, no element of that
// name in "Documents" nor in the three record storages under
// "Persistent Information" (leftovers of an earlier document would become
// the new one's), and not listed anywhere in the display order. Status.
uint32_t awd_temp_name(StgStorage* docs, StgStorage* persistent, const AwdOrder& order, char* path);
// A new encoder image file under such a name (into path, which must fit
// pathSize bytes: TAV_EINVAL otherwise), at the resolution given, into
// *image. A name that another thread or process takes between the choice and
// the encoder's exclusive create is given up for the next free one. Status
// (TAV_E_AWD_ENCODER when the encoder refuses the file).
uint32_t awd_new_image(StgStorage* docs, StgStorage* persistent, const AwdOrder& order, char* path,
                       size_t pathSize, uint16_t xRes, uint16_t yRes, void** image);
// The text after the last separator ('/', '\\') or colon.
const char* awd_file_part(const char* path);
// Copies the file at path into a new stream of "Documents" named by its
// name part. Status.
uint32_t awd_import_file(StgStorage* root, const char* path);

// ---- editing (formats/awd/awd_edit.cpp) ----
// What a change of the page sequence does at page `first` (from 0): the
// `count` pages from there leave the file (0: the document holding `first`
// is only cut there), the document `insert` of `insertPages` pages (already
// among the documents, with its records, not yet in the display order)
// comes in at that place, and with `moveLast` the last document leaves its
// old place for that one.
struct AwdSplice {
    uint32_t first = 0;
    uint32_t count = 0;
    const char* insert = nullptr;
    int32_t insertPages = 0;
    bool moveLast = false;
};
// 0 when the change is made (the new display order is written; nothing
// after that fails), -1 with the code when it is not, the file then as it
// was.
int awd_splice(FctEntry* e, const AwdSplice& splice);
// Removes a document's stream and records (not its display order name).
uint32_t awd_remove_document_data(StgStorage* root, const char* name);
int awd_delete_pages(FctEntry* e, uint32_t first, uint32_t last);
int awd_move_last_document(FctEntry* e, uint32_t target, uint32_t source);
