// Changing the page sequence of an AWD file: deleting pages, cutting a
// document, putting a new document in, moving the last document.
//
// A document's stream is never changed. Every change is a splice: the
// documents the change touches leave the file, and the pages of theirs that
// stay come back as new documents (the head before the change, the tail
// after it), decoded by the viewer and encoded again, their records and
// viewed marks copied under the new names. The pages of one document may
// differ in resolution (fax machines switch between standard and fine from
// page to page) while an image file has one: a head or tail whose pages
// differ becomes one new document for each run of pages of one resolution.
//
// So that no page is ever lost, and a caller is never told of a failure
// that did not leave the file as it was, the steps come in this order:
//  1. the new documents are encoded into temporary files, which are copied
//     into new streams, their records beside them: nothing the display
//     order names has changed yet;
//  2. the display order is rewritten in one step (after a backup of the old
//     one): this is the commit point, the change is made;
//  3. only then are the documents that left removed, and the backup
//     dropped; the handle's new document table was made ready before the
//     commit, so nothing after it can fail.
// A failure before the commit takes the new elements out again and reports
// it; after the commit the splice succeeds, whatever the clean-up meets
// (elements it could not remove are named by nothing).
#include <algorithm>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/awd/awd_binding.h"
#include "formats/awd/awd_state.h"
#include "platform/plat_file.h"
#include "storage/stg_utils.h"

namespace {

// The band size and buffer with which pages are decoded for re-encoding.
constexpr uint16_t kReencodeBandBytes = 65000;
constexpr uint32_t kReencodeBuffer = 65536;
// New names of a splice besides its parts: the moved or the inserted one.
constexpr uint32_t kOtherNewNames = 2;

// A new document made of pages of an old one: its image file (named as the
// document will be) and its pages.
struct AwdPart {
    char path[TAV_PATH_SIZE];
    int32_t pages;
};

// Which documents a splice touches, by their index in the table, and the
// new documents that keep their surviving pages.
struct CutPlan {
    int32_t at = 0;                        // where the new documents go (docCount: at the end)
    int32_t firstGone = 0, lastGone = -1;  // the documents that leave
    uint32_t headPages = 0;                // pages 0.. of the first one kept as the head
    uint32_t tailFrom = 0, tailPages = 0;  // pages of the last one kept as the tail
    int32_t lastDoc = -1;                  // the last document that has pages
    MemBlock<AwdPart> parts;               // the head's parts, then the tail's
    uint32_t headParts = 0, partCount = 0;
};

// Deletes the image files of a plan at the end of a scope.
struct TempFiles {
    CutPlan& plan;
    ~TempFiles() {
        KeepErrno keep;
        for (uint32_t i = 0; i < plan.partCount; ++i)
            if (plan.parts[i].path[0]) plat_unlink(plan.parts[i].path);
    }
};

bool gone(const CutPlan& p, int32_t i) { return i >= p.firstGone && i <= p.lastGone; }
bool moved(const CutPlan& p, const AwdSplice& sp, int32_t i) { return sp.moveLast && i == p.lastDoc; }
const char* part_name(const CutPlan& p, uint32_t i) { return awd_file_part(p.parts[i].path); }

// Closes the viewer and the image of a re-encoding at the end of a scope.
struct Coders {
    void* viewer = nullptr;
    void* image = nullptr;
    ~Coders() {
        if (image) awd_image_close(image);
        if (viewer) awd_viewer_close(viewer);
    }
    // Finishes the image under way: a status.
    uint32_t finish_image() {
        void* done = image;
        image = nullptr;
        return done && !awd_image_close(done) ? TAV_E_AWD_ENCODER : 0;
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

uint32_t copy_doc_record(StgStorage* persistent, const char* from, const char* to) {
    AwdDocRecord r;
    uint32_t rc = awd_read_doc_record(persistent, from, &r);
    if (rc == TAV_E_AWD_ABSENT) return 0;
    return rc ? rc : awd_write_doc_record(persistent, to, r);
}

// The page record and viewed mark of page `from` of one document, as page
// `to` of another.
uint32_t copy_page_records(StgStorage* persistent, const char* src, const char* dst, uint32_t from, uint32_t to) {
    AwdPageRecord r;
    uint32_t rc = awd_read_page_record(persistent, src, from, &r);
    if (rc == 0) rc = awd_write_page_record(persistent, dst, to, r);
    if (rc == 0 || rc == TAV_E_AWD_ABSENT) rc = awd_page_viewed(persistent, src, from);
    if (rc == 0) rc = awd_mark_viewed(persistent, dst, to);
    return rc == TAV_E_AWD_ABSENT ? 0 : rc;
}

// What making new documents works with: the storages it holds, and the
// names a new document must not take.
struct PartMaker {
    StgStorage* docs;
    StgStorage* persistent;
    const AwdOrder& order;
    CutPlan& plan;
};

// Starts a new part of document src: a free name, its image file at the
// page's resolution, the document's record under the new name.
uint32_t start_part(PartMaker& m, const char* src, const ViewerDocInfo& info, Coders& c) {
    AwdPart& part = m.plan.parts[m.plan.partCount++];
    if (uint32_t rc = awd_new_image(m.docs, m.persistent, m.order, part.path, sizeof part.path, info.docXRes,
                                    info.docYRes, &c.image))
        return rc;
    return copy_doc_record(m.persistent, src, awd_file_part(part.path));
}

// Pages from..from+count-1 of document src, decoded and encoded again into
// new parts: a new one wherever the resolution changes.
uint32_t make_parts_of(PartMaker& m, const char* src, uint32_t from, uint32_t count) {
    StgHold<StgStream> stream;
    if (uint32_t rc = stg_open_stream(m.docs, src, kStgModeRead, stream.put())) return rc;
    // The viewer keeps the record up to date for the page it is on: it must
    // outlive the viewer.
    ViewerDocInfo info{};
    Coders c;
    uint16_t band = kReencodeBandBytes;
    c.viewer = awd_viewer_open(stream.get(), &band, &info);
    if (!c.viewer) return TAV_E_AWD_VIEWER;
    MemBlock<uint8_t> buffer(kReencodeBuffer, 1);
    if (!buffer) return uint32_t(errno_or(TAV_ENOMEM));
    uint16_t xRes = 0, yRes = 0;
    uint32_t partFrom = from;
    for (uint32_t p = from; p < from + count; ++p) {
        if (!awd_viewer_set_page(c.viewer, p)) return TAV_E_AWD_VIEWER;
        if (!c.image || info.docXRes != xRes || info.docYRes != yRes) {
            if (uint32_t rc = c.finish_image()) return rc;
            if (uint32_t rc = start_part(m, src, info, c)) return rc;
            xRes = info.docXRes;
            yRes = info.docYRes;
            partFrom = p;
        }
        AwdPart& part = m.plan.parts[m.plan.partCount - 1];
        if (int code = reencode_page(c, buffer.get(), info.docLines)) return uint32_t(code);
        if (uint32_t rc = copy_page_records(m.persistent, src, awd_file_part(part.path), p, p - partFrom))
            return rc;
        ++part.pages;
    }
    return c.finish_image();
}

uint32_t make_parts(StgStorage* root, const AwdState& s, const AwdOrder& order, CutPlan& plan) {
    uint32_t most = plan.headPages + plan.tailPages;
    plan.parts.reset(static_cast<AwdPart*>(mem_calloc(most ? most : 1, sizeof(AwdPart))));
    if (!plan.parts) return uint32_t(errno_or(TAV_ENOMEM));
    StgHold<StgStorage> persistent, docs;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeWrite, persistent.put());
    if (rc == 0) rc = stg_open_storage(root, kAwdDocuments, kStgModeWrite, docs.put());
    PartMaker m{docs.get(), persistent.get(), order, plan};
    if (rc == 0 && plan.headPages) rc = make_parts_of(m, s.docs[plan.firstGone].name, 0, plan.headPages);
    plan.headParts = plan.partCount;
    // The head's files, on disk by now, keep the tail from taking their names.
    if (rc == 0 && plan.tailPages) rc = make_parts_of(m, s.docs[plan.lastGone].name, plan.tailFrom, plan.tailPages);
    return rc;
}

uint32_t import_parts(StgStorage* root, const CutPlan& plan) {
    for (uint32_t i = 0; i < plan.partCount; ++i)
        if (uint32_t rc = awd_import_file(root, plan.parts[i].path)) return rc;
    return 0;
}

// Takes the new documents of a plan out again (before the order names them).
void remove_parts(StgStorage* root, const CutPlan& plan) {
    KeepErrno keep;
    for (uint32_t i = 0; i < plan.partCount; ++i)
        if (plan.parts[i].path[0]) awd_remove_document_data(root, part_name(plan, i));
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

// The names a splice takes out of the display order and puts in.
struct NameLists {
    MemBlock<const char*> leaving, arriving;
    uint32_t leavingCount = 0, arrivingCount = 0;
};

// The documents that arrive, in their order: the head's parts, the moved
// or inserted document, the tail's parts.
template <class Put>
void each_arrival(const AwdState& s, const AwdSplice& sp, const CutPlan& plan, Put put) {
    for (uint32_t i = 0; i < plan.headParts; ++i) put(part_name(plan, i), plan.parts[i].pages);
    if (sp.moveLast) put(s.docs[plan.lastDoc].name, s.docs[plan.lastDoc].pageCount);
    if (sp.insert) put(sp.insert, sp.insertPages);
    for (uint32_t i = plan.headParts; i < plan.partCount; ++i) put(part_name(plan, i), plan.parts[i].pages);
}

uint32_t list_names(const AwdState& s, const AwdSplice& sp, const CutPlan& plan, NameLists& n) {
    uint32_t leaving = uint32_t(std::max(0, plan.lastGone - plan.firstGone + 1)) + 1;
    n.leaving.reset(static_cast<const char**>(mem_calloc(leaving, sizeof(const char*))));
    n.arriving.reset(static_cast<const char**>(mem_calloc(plan.partCount + kOtherNewNames, sizeof(const char*))));
    if (!n.leaving || !n.arriving) return uint32_t(errno_or(TAV_ENOMEM));
    for (int32_t i = plan.firstGone; i <= plan.lastGone; ++i)
        if (s.docs[i].name[0]) n.leaving[n.leavingCount++] = s.docs[i].name;
    if (sp.moveLast) n.leaving[n.leavingCount++] = s.docs[plan.lastDoc].name;
    each_arrival(s, sp, plan, [&](const char* name, int32_t) { n.arriving[n.arrivingCount++] = name; });
    return 0;
}

// The handle's document table after the splice, made before the commit so
// that nothing after it can fail.
uint32_t next_table(const AwdState& s, const AwdSplice& sp, const CutPlan& plan, MemBlock<AwdDocEntry>& out,
                    int32_t* count) {
    out.reset(static_cast<AwdDocEntry*>(
        mem_calloc(uint32_t(s.docCount) + plan.partCount + kOtherNewNames, sizeof(AwdDocEntry))));
    if (!out) return uint32_t(errno_or(TAV_ENOMEM));
    int32_t n = 0;
    auto put = [&](const char* name, int32_t pages) {
        size_t length = std::min<size_t>(std::strlen(name), kAwdNameMax);
        std::memcpy(out[uint32_t(n)].name, name, length);
        out[uint32_t(n++)].pageCount = pages;
    };
    for (int32_t i = 0; i < s.docCount; ++i) {
        if (i == plan.at) each_arrival(s, sp, plan, put);
        if (!gone(plan, i) && !moved(plan, sp, i)) out[uint32_t(n++)] = s.docs[i];
    }
    if (plan.at >= s.docCount) each_arrival(s, sp, plan, put);
    *count = n;
    return 0;
}

// The display order after the splice.
uint32_t next_order(const AwdState& s, const CutPlan& plan, const AwdOrder& order, const NameLists& n,
                    MemBlock<uint8_t>& bytes, uint32_t* size) {
    AwdOrderEdit edit;
    edit.leaving = n.leaving.get();
    edit.leavingCount = n.leavingCount;
    edit.arriving = n.arriving.get();
    edit.arrivingCount = n.arrivingCount;
    edit.before = plan.at < s.docCount ? s.docs[plan.at].name : nullptr;
    return awd_edit_order(order, edit, bytes, size);
}

// Removes the documents that left, once the order no longer names them;
// a name the order still lists (past an empty name, say) keeps its
// document.
void remove_gone(StgStorage* root, const NameLists& n, const AwdOrder& now) {
    KeepErrno keep;
    for (uint32_t k = 0; k < n.leavingCount; ++k)
        if (!awd_order_names(now, n.leaving[k])) awd_remove_document_data(root, n.leaving[k]);
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

// Everything a splice makes before its commit: the new documents, the
// names, the next table and the next order.
struct Prepared {
    AwdOrder order;
    NameLists names;
    MemBlock<AwdDocEntry> table;
    int32_t tableCount = 0;
    MemBlock<uint8_t> bytes;
    uint32_t size = 0;
};

uint32_t prepare(StgStorage* root, const AwdState& s, const AwdSplice& sp, CutPlan& plan, Prepared& p) {
    uint32_t rc = awd_load_order(root, &p.order);
    // A file without an order stream lists nothing yet.
    if (is_missing(rc)) rc = awd_parse_order(&p.order);
    if (rc == 0) rc = make_parts(root, s, p.order, plan);
    if (rc == 0) rc = import_parts(root, plan);
    if (rc == 0) rc = list_names(s, sp, plan, p.names);
    if (rc == 0) rc = next_table(s, sp, plan, p.table, &p.tableCount);
    if (rc == 0) rc = next_order(s, plan, p.order, p.names, p.bytes, &p.size);
    return rc;
}

}  // namespace

int awd_splice(FctEntry* e, const AwdSplice& sp) {
    AwdState& s = awd_state(e);
    StgStorage* root = awd_root(e);
    awd_release_reader(s);
    // The table is current: every change of this handle leaves it so.
    CutPlan plan;
    if (!plan_splice(s, sp, &plan)) return fct_fail(e, TAV_E_PAGE);
    // Nothing moves when the last document is the one cut.
    if (sp.moveLast && (plan.lastDoc < 0 || plan.at == plan.lastDoc || gone(plan, plan.lastDoc))) return 0;
    TempFiles temps{plan};
    Prepared p;
    uint32_t rc = prepare(root, s, sp, plan, p);
    if (rc == 0) rc = awd_write_display_order(root, p.bytes.get(), p.size);
    if (rc) {
        remove_parts(root, plan);
        return fct_fail(e, int(rc));
    }
    // Committed: the change is made.
    AwdOrder now;
    now.bytes = std::move(p.bytes);
    now.size = p.size;
    remove_gone(root, p.names, now);
    awd_drop_backup(root);
    mem_free_field(s.docs);
    s.docs = p.table.release();
    s.docCount = p.tableCount;
    uint32_t total = awd_total_pages(s);
    e->pageCount = uint16_t(std::min<uint32_t>(total, 0xFFFF));
    return 0;
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

int awd_delete_pages(FctEntry* e, uint32_t first, uint32_t last) {
    if (!stg_supported()) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    if (last < first) return fct_fail(e, TAV_E_PAGE);
    AwdSplice sp;
    sp.first = first;
    sp.count = last - first + 1;
    return awd_splice(e, sp);
}

int awd_move_last_document(FctEntry* e, uint32_t target, uint32_t source) {
    if (!stg_supported()) return fct_fail(e, TAV_E_NOT_SUPPORTED);
    if (!e->can_write()) return fct_fail(e, TAV_EACCES);
    uint32_t total = awd_total_pages(awd_state(e));
    // Only the last document moves, and only towards the front.
    if (total == 0 || source != total - 1 || target > source) return fct_fail(e, TAV_E_PAGE);
    AwdSplice sp;
    sp.first = target;
    sp.moveLast = true;
    return awd_splice(e, sp);
}
