// Changing the page sequence of an AWD file: deleting pages, cutting a
// document, putting a new document in, moving the last document.
//
// A document's stream is never changed. Every change is a splice: the
// documents the change touches leave the file, and the pages of theirs that
// stay come back as new documents (the head before the change, the tail
// after it), decoded by the viewer and encoded again, their records and
// viewed marks copied under the new names. So that no page is ever lost,
// the steps come in this order:
//  1. the head and tail are encoded into temporary files, which are copied
//     into new streams, their records beside them: nothing the display
//     order names has changed yet;
//  2. the display order is rewritten in one step (after a backup of the old
//     one): the change is made;
//  3. only then are the documents that left removed, and the backup
//     dropped.
// A failure before the display order is rewritten takes the new elements
// out again; one after it leaves elements that nothing names. The handle's
// document table is built afresh before and after a splice.
#include <algorithm>
#include <cstring>

#include "awd/awd_binding.h"
#include "awd/awd_state.h"
#include "awd/stg_utils.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "frame/ops.h"
#include "frame/startup.h"
#include "platform/plat_file.h"

namespace {

// The band size and buffer with which pages are decoded for re-encoding.
constexpr uint16_t kReencodeBandBytes = 65000;
constexpr uint32_t kReencodeBuffer = 65536;
constexpr uint32_t kNewNamesMax = 3;  // head, the document put in, tail

// Which documents a splice touches, by their index in the table.
struct CutPlan {
    int32_t at = 0;                      // where the new documents go (docCount: at the end)
    int32_t firstGone = 0, lastGone = -1;  // the documents that leave
    uint32_t headPages = 0;              // pages 0.. of the first one kept as the head
    uint32_t tailFrom = 0, tailPages = 0;  // pages of the last one kept as the tail
    int32_t lastDoc = -1;                // the last document that has pages
    char headPath[TAV_PATH_SIZE] = {};
    char tailPath[TAV_PATH_SIZE] = {};
};

// Deletes the temporary files of a plan at the end of a scope.
struct TempFiles {
    CutPlan& plan;
    ~TempFiles() {
        KeepErrno keep;
        if (plan.headPath[0]) plat_unlink(plan.headPath);
        if (plan.tailPath[0]) plat_unlink(plan.tailPath);
    }
};

bool gone(const CutPlan& p, int32_t i) { return i >= p.firstGone && i <= p.lastGone; }

// Closes the viewer and the image of a re-encoding at the end of a scope.
struct Coders {
    void* viewer = nullptr;
    void* image = nullptr;
    ~Coders() {
        if (image) awd_image_close(image);
        if (viewer) awd_viewer_close(viewer);
    }
};

// Sends the page the viewer is on to the encoder: its first `lines` rows.
int reencode_page(Coders& c, uint8_t* buffer, uint32_t lines) {
    uint32_t sent = 0;
    for (bool first = true;; first = false) {
        AwdBand b{};
        b.bmBits = buffer;
        if (!awd_viewer_get_band(c.viewer, &b) || b.bmWidthBytes < 0 ||
            uint64_t(b.bmHeight) * uint32_t(b.bmWidthBytes) > kReencodeBuffer)
            return TAV_E_AWD_VIEWER;
        if (first && b.bmHeight == 0) {
            // An empty page takes one white row.
            AwdBand blank = b;
            blank.bmHeight = 1;
            std::memset(buffer, 0, uint32_t(b.bmWidthBytes));
            if (!awd_image_set_band(c.image, &blank)) return TAV_E_AWD_ENCODER;
        }
        if (b.bmHeight == 0) return awd_image_set_band(c.image, &b) ? 0 : TAV_E_AWD_ENCODER;
        // The viewer pads the last band; the page keeps its own rows.
        uint32_t keep = std::min<uint32_t>(uint32_t(b.bmHeight), lines - std::min(lines, sent));
        if (keep == 0) continue;
        b.bmHeight = int32_t(keep);
        if (!awd_image_set_band(c.image, &b)) return TAV_E_AWD_ENCODER;
        sent += keep;
    }
}

// Pages first..first+count-1 of document name, decoded and encoded again
// into a new image file at path.
uint32_t reencode_pages(StgStorage* docs, const char* name, uint32_t first, uint32_t count, const char* path) {
    StgHold<StgStream> stream;
    if (uint32_t rc = stg_open_stream(docs, name, kStgModeRead, stream.put())) return rc;
    // The viewer keeps the record up to date for the page it is on: it must
    // outlive the viewer.
    ViewerDocInfo info{};
    Coders c;
    uint16_t band = kReencodeBandBytes;
    c.viewer = awd_viewer_open(stream.get(), &band, &info);
    if (!c.viewer) return TAV_E_AWD_VIEWER;
    MemBlock<uint8_t> buffer(kReencodeBuffer, 1);
    if (!buffer) return uint32_t(errno_or(TAV_ENOMEM));
    c.image = awd_image_create(path, info.docXRes, info.docYRes);
    if (!c.image) return TAV_E_AWD_ENCODER;
    for (uint32_t p = first; p < first + count; ++p) {
        if (!awd_viewer_set_page(c.viewer, p)) return TAV_E_AWD_VIEWER;
        if (int code = reencode_page(c, buffer.get(), info.docLines)) return uint32_t(code);
    }
    void* image = c.image;
    c.image = nullptr;
    return awd_image_close(image) ? 0 : TAV_E_AWD_ENCODER;
}

uint32_t copy_doc_record(StgStorage* persistent, const char* from, const char* to) {
    AwdDocRecord r;
    uint32_t rc = awd_read_doc_record(persistent, from, &r);
    if (rc == TAV_E_AWD_ABSENT) return 0;
    return rc ? rc : awd_write_doc_record(persistent, to, r);
}

// The page records and viewed marks of count pages, from page `from` of one
// document to page `to` of another.
uint32_t copy_page_records(StgStorage* persistent, const char* src, const char* dst, uint32_t from,
                           uint32_t to, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        AwdPageRecord r;
        uint32_t rc = awd_read_page_record(persistent, src, from + i, &r);
        if (rc == 0) rc = awd_write_page_record(persistent, dst, to + i, r);
        if (rc == 0 || rc == TAV_E_AWD_ABSENT) rc = awd_page_viewed(persistent, src, from + i);
        if (rc == 0) rc = awd_mark_viewed(persistent, dst, to + i);
        if (rc && rc != TAV_E_AWD_ABSENT) return rc;
    }
    return 0;
}

// One new document of a splice: pages of document src into a temporary
// file, its records under the file's name.
uint32_t make_part(StgStorage* persistent, StgStorage* docs, const char* src, uint32_t from, uint32_t count,
                   char* path) {
    uint32_t rc = awd_temp_name(docs, path);
    if (rc) {
        path[0] = 0;
        return rc;
    }
    const char* name = awd_file_part(path);
    if ((rc = reencode_pages(docs, src, from, count, path))) return rc;
    if ((rc = copy_doc_record(persistent, src, name))) return rc;
    return copy_page_records(persistent, src, name, from, 0, count);
}

uint32_t make_parts(StgStorage* root, const AwdState& s, CutPlan& plan) {
    StgHold<StgStorage> persistent, docs;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc == 0) rc = stg_open_storage(root, kAwdDocuments, kStgModeWrite, docs.put());
    if (rc == 0 && plan.headPages)
        rc = make_part(persistent.get(), docs.get(), s.docs[plan.firstGone].name, 0, plan.headPages,
                       plan.headPath);
    // The head's file, on disk by now, keeps the tail from taking its name.
    if (rc == 0 && plan.tailPages)
        rc = make_part(persistent.get(), docs.get(), s.docs[plan.lastGone].name, plan.tailFrom,
                       plan.tailPages, plan.tailPath);
    return rc;
}

uint32_t import_parts(StgStorage* root, const CutPlan& plan) {
    uint32_t rc = 0;
    if (plan.headPath[0]) rc = awd_import_file(root, plan.headPath);
    if (rc == 0 && plan.tailPath[0]) rc = awd_import_file(root, plan.tailPath);
    return rc;
}

// Takes the new documents of a plan out again (before the order names them).
void remove_parts(StgStorage* root, const CutPlan& plan) {
    KeepErrno keep;
    if (plan.headPath[0]) awd_remove_document_data(root, awd_file_part(plan.headPath));
    if (plan.tailPath[0]) awd_remove_document_data(root, awd_file_part(plan.tailPath));
}

// Works out which documents the splice touches; false when the pages are
// not in the table.
bool plan_splice(const AwdState& s, const AwdSplice& sp, CutPlan* plan) {
    uint32_t total = awd_total_pages(s);
    if (sp.first > total || sp.count > total - sp.first) return false;
    for (int32_t i = 0; i < s.docCount; ++i)
        if (s.docs[i].pageCount > 0) plan->lastDoc = i;
    plan->at = s.docCount;
    if (sp.first == total) return true;
    uint32_t a = 0;
    plan->at = awd_locate_page(s, sp.first, &a);
    if (sp.count == 0 && a == 0) return true;  // the page already starts a document
    uint32_t last = sp.count ? sp.first + sp.count - 1 : sp.first;
    uint32_t b = 0;
    plan->firstGone = plan->at;
    plan->lastGone = awd_locate_page(s, last, &b);
    plan->headPages = a;
    uint32_t inc = sp.count ? 1 : 0;
    uint32_t nB = uint32_t(s.docs[plan->lastGone].pageCount);
    if (sp.count == 0 || b != nB - 1) {
        plan->tailFrom = b + inc;
        plan->tailPages = nB - b - inc;
    }
    return true;
}

void put_name(AwdDocEntry* list, uint32_t* n, const char* name) {
    size_t length = std::min<size_t>(std::strlen(name), kAwdNameMax);
    std::memcpy(list[*n].name, name, length);
    list[*n].name[length] = 0;
    ++*n;
}

// The display order after the splice, written in one step.
uint32_t write_new_order(StgStorage* root, const AwdState& s, const AwdSplice& sp, const CutPlan& plan) {
    MemBlock<AwdDocEntry> list(uint32_t(s.docCount) + kNewNamesMax, sizeof(AwdDocEntry));
    if (!list) return uint32_t(errno_or(TAV_ENOMEM));
    uint32_t n = 0;
    auto put_new = [&] {
        if (plan.headPath[0]) put_name(list.get(), &n, awd_file_part(plan.headPath));
        if (sp.moveLast) put_name(list.get(), &n, s.docs[plan.lastDoc].name);
        if (sp.insert) put_name(list.get(), &n, sp.insert);
        if (plan.tailPath[0]) put_name(list.get(), &n, awd_file_part(plan.tailPath));
    };
    for (int32_t i = 0; i < s.docCount; ++i) {
        if (i == plan.at) put_new();
        if (!s.docs[i].name[0] || gone(plan, i) || (sp.moveLast && i == plan.lastDoc)) continue;
        put_name(list.get(), &n, s.docs[i].name);
    }
    if (plan.at >= s.docCount) put_new();
    return awd_write_display_order(root, list.get(), n);
}

// Removes the documents that left, once the order no longer names them.
uint32_t remove_gone(StgStorage* root, const AwdState& s, const CutPlan& plan) {
    uint32_t first = 0;
    for (int32_t i = plan.firstGone; i <= plan.lastGone; ++i) {
        if (!s.docs[i].name[0]) continue;
        uint32_t rc = awd_remove_document_data(root, s.docs[i].name);
        if (rc && !first) first = rc;
    }
    return first;
}

bool is_missing(uint32_t rc) { return rc == TAV_STG_E_FILENOTFOUND; }

// Destroys the element name in the storage `parent` of `holder` (a missing
// storage has nothing to destroy).
uint32_t destroy_in(StgStorage* holder, const char* parent, const char* name) {
    StgHold<StgStorage> s;
    uint32_t rc = stg_open_storage(holder, parent, kStgModeWrite, s.put());
    if (is_missing(rc)) return 0;
    if (rc) return rc;
    rc = stg_destroy(s.get(), name);
    return is_missing(rc) ? 0 : rc;
}

}  // namespace

int awd_splice(FctEntry* e, const AwdSplice& sp, bool* committed) {
    *committed = false;
    AwdState& s = awd_state(e);
    StgStorage* root = awd_root(e);
    awd_release_reader(s);
    if (awd_load_documents(e) < 0) return -1;
    CutPlan plan;
    if (!plan_splice(s, sp, &plan)) return fct_fail(e, TAV_E_PAGE);
    // Nothing moves when the last document is the one cut.
    if (sp.moveLast && (plan.lastDoc < 0 || plan.at == plan.lastDoc || gone(plan, plan.lastDoc))) return 0;
    TempFiles temps{plan};
    uint32_t rc = make_parts(root, s, plan);
    if (rc == 0) rc = import_parts(root, plan);
    if (rc == 0) rc = write_new_order(root, s, sp, plan);
    if (rc) {
        remove_parts(root, plan);
        return fct_fail(e, int(rc));
    }
    *committed = true;
    rc = remove_gone(root, s, plan);
    awd_drop_backup(root);
    if (awd_load_documents(e) < 0) return -1;
    return rc ? fct_fail(e, int(rc)) : 0;
}

uint32_t awd_remove_document_data(StgStorage* root, const char* name) {
    uint32_t first = destroy_in(root, kAwdDocuments, name);
    StgHold<StgStorage> persistent;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc) return first ? first : rc;
    for (const char* holder : {kAwdDocInfo, kAwdPageInfo, kAwdPagesStatus}) {
        rc = destroy_in(persistent.get(), holder, name);
        if (rc && !first) first = rc;
    }
    return first;
}

uint32_t awd_remove_document(StgStorage* root, const char* name) {
    StgHold<StgStorage> persistent, global;
    StgHold<StgStream> order;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeRead, persistent.put());
    if (rc == 0) rc = stg_open_storage(persistent.get(), kAwdGlobal, kStgModeRead, global.put());
    if (rc == 0) rc = stg_open_stream(global.get(), kAwdDisplayOrder, kStgModeRead, order.put());
    if (rc) return rc;
    uint64_t end = 0;
    if ((rc = order.get()->ops->Seek(order.get(), 0, kStgSeekEnd, &end))) return rc;
    // A name takes two bytes at least.
    uint32_t max = uint32_t(std::min<uint64_t>(end / 2 + 1, 0xFFFF));
    MemBlock<AwdDocEntry> names(max, sizeof(AwdDocEntry));
    if (!names) return uint32_t(errno_or(TAV_ENOMEM));
    uint32_t n = awd_read_order_names(order.get(), names.get(), max);
    order.reset();
    global.reset();
    persistent.reset();
    bool found = false;
    for (uint32_t i = 0; i < n; ++i)
        if (std::strcmp(names[i].name, name) == 0) {
            names[i].name[0] = 0;
            found = true;
        }
    if (found && (rc = awd_write_display_order(root, names.get(), n))) return rc;
    awd_drop_backup(root);
    rc = awd_remove_document_data(root, name);
    return found ? rc : uint32_t(TAV_E_PAGE);
}

int awd_delete_pages(FctEntry* e, uint32_t first, uint32_t last) {
    if (!awd_supported()) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    if (last < first) return fct_fail(e, TAV_E_PAGE);
    bool committed = false;
    return awd_splice(e, AwdSplice{first, last - first + 1, nullptr, false}, &committed);
}

int awd_move_last_document(FctEntry* e, uint32_t target, uint32_t source) {
    if (!awd_supported()) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    if (!e->can_write()) return fct_fail(e, TAV_EACCES);
    AwdState& s = awd_state(e);
    awd_release_reader(s);
    if (awd_load_documents(e) < 0) return -1;
    uint32_t total = awd_total_pages(s);
    // Only the last document moves, and only towards the front.
    if (total == 0 || source != total - 1 || target > source) return fct_fail(e, TAV_E_PAGE);
    bool committed = false;
    return awd_splice(e, AwdSplice{target, 0, nullptr, true}, &committed);
}
