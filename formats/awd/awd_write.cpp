// Writing AWD files: a new file, pages written band by band through the
// encoder, and the display records of a page.
//
// Every page written becomes a document of its own: its bands go into an
// image file in the temporary directory, and when the page ends the file is
// copied into a new stream of "Documents", which takes the page's place in
// the display order (in one rewrite of the order, which also takes out the
// page that stood there before), and the page's records follow.
//
// Behaviour:
//  - Pages narrower than 8 pixels, or wider than 65535 bytes a row, are
//    refused (TAV_E_SIZE); rows of a width that is not a multiple of 8 take
//    ceil(width / 8) bytes, the last one padded.
//  - A page that ends without rows is refused (TAV_E_AWD_HEIGHT) and stays open.
//  - A band the encoder refuses gives the page up (its image file goes) and
//    fails with TAV_E_AWD_ENCODER; the file is as it was before the page.
//  - The page a write replaces leaves the file only when the new page is
//    stored, in the same rewrite of the display order.
//  - The records a finished page gets never turn every document (the
//    rotate-all flag of the page information is for xtavputi alone).
//  - A temporary name is never one taken on disk, the search ends after
//    every 16-bit number was tried (TAV_E_WORKFILE), and a name that does not fit the
//    handle's 256 bytes is refused (TAV_EINVAL). A name another thread or
//    process creates first is given up for the next.
#include <cstring>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/awd/awd_binding.h"
#include "formats/awd/awd_display.h"
#include "formats/awd/awd_state.h"
#include "platform/plat_file.h"
#include "platform/plat_proc.h"
#include "storage/stg_utils.h"

namespace {

constexpr uint32_t kMinWidth = 8;
constexpr uint32_t kMaxRowBytes = 0xFFFF;
constexpr uint32_t kMaxBandRows = 0xFFFF;
constexpr uint32_t kImportPiece = 32000;
constexpr char kTempPrefix[] = "WWW";
constexpr uint32_t kTempNameSize = TAV_PATH_SIZE;
constexpr uint32_t kTempNumbers = 0x10000;
// Names tried for a new image file when others keep taking them first:
// every round of a collision lets one creator in, so this many threads
// starting a page in the same millisecond all get a name.
constexpr uint32_t kImageNameAttempts = 64;

uint32_t row_bytes(uint32_t width) { return (width + 7) / 8; }

// Turns every document by `by` degrees and counts every page as viewed.
int rotate_all(FctEntry* e, uint16_t by) {
    AwdState& s = awd_state(e);
    StgHold<StgStorage> persistent;
    uint32_t rc = stg_open_storage(awd_root(e), kAwdPersistent, kStgModeWrite, persistent.put());
    for (int32_t i = 0; rc == 0 && i < s.docCount; ++i) {
        const char* name = s.docs[i].name;
        if (!name[0]) continue;
        AwdDocRecord d;
        rc = awd_read_doc_record(persistent.get(), name, &d);
        if (rc == TAV_E_AWD_ABSENT) {
            d = awd_default_doc_record();
            rc = 0;
        }
        d.rotation = awd_turn_document(d.rotation, by);
        if (rc == 0) rc = awd_write_doc_record(persistent.get(), name, d);
    }
    StgHold<StgStream> all;
    if (rc == 0) rc = stg_create_stream(persistent.get(), kAwdBeenViewed, kStgModeCreate, all.put());
    return awd_status(rc);
}

// Whether `parent` holds an element called name (one that is open counts).
uint32_t element_present(StgStorage* parent, const char* name, bool* taken) {
    StgHold<StgStream> stream;
    StgHold<StgStorage> storage;
    uint32_t rc = stg_open_stream(parent, name, kStgModeRead, stream.put());
    if (rc == TAV_STG_E_FILENOTFOUND) rc = stg_open_storage(parent, name, kStgModeRead, storage.put());
    *taken = rc != TAV_STG_E_FILENOTFOUND;
    return rc == TAV_STG_E_FILENOTFOUND || rc == TAV_STG_E_SHAREVIOLATION ? 0 : rc;
}

// Whether a document name is in use: a stream of "Documents", a leftover
// record, page records or viewed marks under that name, or a name of the
// display order.
uint32_t name_taken(StgStorage* docs, StgStorage* persistent, const AwdOrder& order, const char* name,
                    bool* taken) {
    *taken = awd_order_names(order, name);
    if (*taken) return 0;
    if (uint32_t rc = element_present(docs, name, taken); rc || *taken) return rc;
    for (const char* holder : {kAwdDocInfo, kAwdPageInfo, kAwdPagesStatus}) {
        StgHold<StgStorage> h;
        uint32_t rc = stg_open_storage(persistent, holder, kStgModeRead, h.put());
        if (rc == TAV_STG_E_FILENOTFOUND) continue;
        if (rc == 0) rc = element_present(h.get(), name, taken);
        if (rc || *taken) return rc;
    }
    return 0;
}

// The page's settings as the caller gave them.
AwdDisplay wanted_display(const PageInfo& info) {
    AwdDisplay d;
    d.rotation = TAV_AWD_HIGH(info.maxStripSize);
    d.xScale = TAV_AWD_LOW(info.stripCount);
    d.yScale = TAV_AWD_HIGH(info.stripCount);
    d.flags = info.rowsPerStrip;
    return d;
}

// Writes the page record of page `within` of document name and marks the
// page viewed; a document without a record gets the default one.
uint32_t write_page_records(StgStorage* root, const char* name, uint32_t within, const PageInfo& info) {
    StgHold<StgStorage> persistent;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc) return rc;
    AwdDocRecord doc;
    rc = awd_read_doc_record(persistent.get(), name, &doc);
    if (rc == TAV_E_AWD_ABSENT) {
        doc = awd_default_doc_record();
        rc = awd_write_doc_record(persistent.get(), name, doc);
    }
    if (rc) return rc;
    AwdPageRecord page = awd_page_record_for(doc, wanted_display(info), awd_now_filetime());
    if ((rc = awd_write_page_record(persistent.get(), name, within, page))) return rc;
    return awd_mark_viewed(persistent.get(), name, within);
}

// The image file of the page's document, under a free name (into path):
// the storages and the order that say what is taken are read here.
uint32_t new_page_image(StgStorage* root, char* path, size_t pathSize, const PageInfo& pi, void** image) {
    AwdOrder order;
    uint32_t rc = awd_load_order(root, &order);
    if (rc == TAV_STG_E_FILENOTFOUND) rc = awd_parse_order(&order);
    StgHold<StgStorage> docs, persistent;
    if (rc == 0) rc = stg_open_storage(root, kAwdDocuments, kStgModeRead, docs.put());
    if (rc == 0) rc = stg_open_storage(root, kAwdPersistent, kStgModeRead, persistent.put());
    return rc ? rc
              : awd_new_image(docs.get(), persistent.get(), order, path, pathSize, uint16_t(pi.xResNum),
                              uint16_t(pi.yResNum), image);
}

// Starts the encoder page of page `page`: its image file and its state.
int open_page(FctEntry* e, uint16_t page) {
    AwdState& s = awd_state(e);
    const PageInfo& pi = e->pageInfo;
    if (pi.imageWidth < kMinWidth || row_bytes(pi.imageWidth) > kMaxRowBytes) return awd_fail(TAV_E_SIZE);
    if (page > awd_total_pages(s)) return awd_fail(TAV_E_PAGE_RANGE);
    awd_release_reader(s);
    if (uint32_t rc = new_page_image(awd_root(e), s.tempPath, sizeof s.tempPath, pi, &s.image)) {
        s.tempPath[0] = 0;
        return awd_fail(int(rc));
    }
    s.imagePage = page;
    s.imageRows = 0;
    e->editFlags |= kEditPageUnderWay;
    // The page before is no longer the one that was completed: without this
    // the page state of every later data call would be cleared.
    e->editFlags &= uint8_t(~kEditPageComplete);
    return 0;
}

// Gives the page under way up: its image closed, its file deleted.
void discard_page(AwdState& s) {
    KeepErrno keep;
    if (s.image) awd_image_close(s.image);
    s.image = nullptr;
    plat_unlink(s.tempPath);
    s.tempPath[0] = 0;
}

// The finished image file becomes the document at page `page`. Its stream
// and records go in first; the page becomes part of the file only when the
// display order names it, in the rewrite that also takes out the page it
// replaces, so a failure anywhere leaves the file as it was.
int store_page(FctEntry* e, uint16_t page) {
    AwdState& s = awd_state(e);
    StgStorage* root = awd_root(e);
    const char* name = awd_file_part(s.tempPath);
    PageInfo records = e->pageInfo;
    records.rowsPerStrip &= ~kAwdFlagRotateAll;
    uint32_t rc = awd_import_file(root, s.tempPath);
    // The page is the first (and only) of its document.
    if (rc == 0) rc = write_page_records(root, name, 0, records);
    if (rc == 0) {
        AwdSplice splice;
        splice.first = page;
        splice.count = page < awd_total_pages(s) ? 1 : 0;
        splice.insert = name;
        splice.insertPages = 1;
        if (awd_splice(e, splice) < 0) rc = uint32_t(errno_or(TAV_E_AWD_ENCODER));
    }
    if (rc) {
        // The step's code is set after the clean-up, which may change errno.
        awd_remove_document_data(root, name);
        return awd_fail(int(rc));
    }
    return 0;
}

// The page ends: the image is finished and stored.
int finish_page(FctEntry* e) {
    AwdState& s = awd_state(e);
    e->editFlags = uint8_t((e->editFlags | kEditPageComplete) & ~kEditPageUnderWay);
    bool closed = awd_image_close(s.image) != 0;
    s.image = nullptr;
    int r = closed ? store_page(e, s.imagePage) : awd_fail(TAV_E_AWD_ENCODER);
    KeepErrno keep;
    plat_unlink(s.tempPath);
    s.tempPath[0] = 0;
    return r;
}

}  // namespace

const char* awd_file_part(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (is_path_separator(*p) || *p == ':') name = p + 1;
    return name;
}

uint32_t awd_temp_name(StgStorage* docs, StgStorage* persistent, const AwdOrder& order, char* path) {
    char dir[kTempNameSize];
    if (plat_temp_path(dir, sizeof dir) == 0) return TAV_E_WORKFILE;
    uint32_t n = plat_tick_count() & 0xFFFF;
    for (uint32_t tried = 0; tried < kTempNumbers; ++tried, n = (n + 1) & 0xFFFF) {
        // Number 0 would make the platform create the file.
        if (n == 0) continue;
        if (plat_temp_file_name(dir, kTempPrefix, n, path, kTempNameSize) == 0) return TAV_E_WORKFILE;
        bool taken = false;
        if (uint32_t rc = name_taken(docs, persistent, order, awd_file_part(path), &taken)) return rc;
        if (!taken && !plat_exists(path)) return 0;
    }
    return TAV_E_WORKFILE;
}

uint32_t awd_new_image(StgStorage* docs, StgStorage* persistent, const AwdOrder& order, char* path,
                       size_t pathSize, uint16_t xRes, uint16_t yRes, void** image) {
    // Names come from the clock, so threads (or processes) starting pages
    // in the same millisecond choose the same one: the encoder's exclusive
    // create lets one of them have it, and the others choose again, now
    // past the file that stands. No lock: the choice reads the handle's
    // own file, and one name per round goes to someone.
    char name[kTempNameSize];
    for (uint32_t attempt = 0; attempt < kImageNameAttempts; ++attempt) {
        if (uint32_t rc = awd_temp_name(docs, persistent, order, name)) return rc;
        if (std::strlen(name) >= pathSize) return TAV_EINVAL;
        std::strcpy(path, name);
        if ((*image = awd_image_create(path, xRes, yRes))) return 0;
        // The encoder creates the file exclusively: a name that stands now
        // was taken meanwhile; any other refusal is the encoder's own.
        if (!plat_exists(path)) break;
    }
    path[0] = 0;
    return TAV_E_AWD_ENCODER;
}

uint32_t awd_import_file(StgStorage* root, const char* path) {
    StgHold<StgStorage> docs, persistent;
    StgHold<StgStream> doc;
    uint32_t rc = stg_open_storage(root, kAwdDocuments, kStgModeWrite, docs.put());
    if (rc == 0) rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc == 0) rc = stg_create_stream(docs.get(), awd_file_part(path), kStgModeCreate, doc.put());
    if (rc) return rc;
    MemBlock<uint8_t> piece(kImportPiece, 1);
    if (!piece) return uint32_t(errno_or(TAV_ENOMEM));
    int fd = fio_open(nullptr, path, kFioModeRead);
    if (fd < 0) return uint32_t(errno_or(TAV_ENOENT));
    for (;;) {
        int32_t n = fio_read(fd, piece.get(), kImportPiece);
        if (n < 0) rc = uint32_t(errno_or(TAV_EIO));
        if (n <= 0) break;
        if ((rc = awd_write_all(doc.get(), piece.get(), uint32_t(n)))) break;
    }
    KeepErrno keep;
    fio_close(fd);
    return rc;
}

int awd_create(FctEntry* e, const char* path) {
    AwdState* s = format_new_state<AwdState>(e);
    if (!s) return -1;
    e->pageCount = 0;
    // A path that already opens as a storage (a reference path among
    // them, whose storage is the caller's), or that names anything at all,
    // is not created over.
    AwdState probe;
    if (StgStorage* existing = awd_open_root(path, 0, probe)) {
        if (!probe.borrowed) existing->ops->Release(existing);
        return awd_fail(TAV_EEXIST);
    }
    if (plat_exists(path)) return awd_fail(TAV_EEXIST);
    if (!awd_make_file(path)) return awd_fail(TAV_E_AWD_CREATE);
    StgStorage* root = awd_open_root(path, TAV_OPEN_READWRITE, *s);
    if (root) {
        e->fd = intptr_t(root);
        if (awd_load_documents(e) == 0) return 0;
    }
    KeepErrno keep;
    awd_close(e);
    plat_unlink(path);
    return -1;
}

int awd_put_page_info(FctEntry* e, uint16_t page, const PageInfo& info) {
    AwdState& s = awd_state(e);
    if (info.rowsPerStrip & kAwdFlagRotateAll) return rotate_all(e, TAV_AWD_HIGH(info.maxStripSize));
    // A page not yet written gets its records when it ends.
    if (page == awd_total_pages(s)) return 0;
    uint32_t within = 0;
    int32_t doc = awd_locate_page(s, page, &within);
    if (doc < 0) return awd_fail(TAV_E_PAGE_RANGE);
    if (uint32_t rc = write_page_records(awd_root(e), s.docs[doc].name, within, info)) return awd_fail(int(rc));
    // The page's records stand: it needs no data before the next page.
    e->pageState() |= kPageDataWritten;
    return 0;
}

int32_t awd_write_band(FctEntry* e, uint16_t page, const void* buffer, uint32_t count) {
    AwdState& s = awd_state(e);
    if (page != e->curPage && !(e->editFlags & kEditPageComplete)) return fct_fail(e, TAV_E_OTHER_PAGE);
    if (!s.image && open_page(e, page) < 0) return fct_fail(e, errno_or(TAV_E_AWD_ENCODER));
    const uint32_t width = e->pageInfo.imageWidth;
    AwdBand band{};
    band.bmWidth = int32_t(width);
    band.bmWidthBytes = int32_t(row_bytes(width));
    uint32_t rows = count / row_bytes(width);
    if (rows > kMaxBandRows) return fct_fail(e, TAV_E_COUNT);
    band.bmHeight = int32_t(rows);
    band.bmPlanes = 1;
    band.bmBitsPixel = 1;
    band.bmBits = const_cast<void*>(buffer);
    if (rows == 0 && s.imageRows == 0) return fct_fail(e, TAV_E_AWD_HEIGHT);
    if (!awd_image_set_band(s.image, &band)) {
        discard_page(s);
        e->editFlags &= uint8_t(~kEditPageUnderWay);
        return fct_fail(e, TAV_E_AWD_ENCODER);
    }
    s.imageRows += rows;
    if (rows > 0) return int32_t(rows * row_bytes(width));
    if (finish_page(e) < 0) return fct_fail(e, errno_or(TAV_E_AWD_ENCODER));
    return 0;
}
