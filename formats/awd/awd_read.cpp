// Reading AWD files: the root, the document table and page numbering, the
// page information of a page (its document's viewer selected on it, its
// display settings from the records) and its bands.
//
// Behaviour:
//  - A page information call first releases what an earlier page still
//    holds, so a page need not be read to its end.
//  - A missing "Document Information" or "Page Information" storage reads
//    like a missing record.
//  - A viewer that fails to deliver a band fails the read (TAV_E_AWD_VIEWER); the
//    caller's buffer must hold the band size the page information settled.
//  - More than 65535 documents, or pages, are refused (TAV_E_SIZE) or counted as
//    65535 (pages).
//  - The table holds every name the order lists before its first empty
//    name, once each (where it is first listed), whatever the number of
//    streams; a listed name without a stream is a document of no pages.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/awd/awd_binding.h"
#include "formats/awd/awd_display.h"
#include "formats/awd/awd_state.h"
#include "formats/common/format_io.h"
#include "platform/plat_file.h"
#include "storage/stg_utils.h"

namespace {

constexpr uint32_t kMaxDocuments = 0xFFFF;
constexpr uint32_t kMaxPages = 0xFFFF;
// The band size with which a document's page count is learnt.
constexpr uint16_t kCountBandBytes = 1024;

// Closes a viewer at the end of a scope unless it is handed on.
class ViewerHold {
public:
    ViewerHold() = default;
    ~ViewerHold() { reset(); }
    ViewerHold(const ViewerHold&) = delete;
    ViewerHold& operator=(const ViewerHold&) = delete;
    void reset(void* v = nullptr) {
        if (v_) awd_viewer_close(v_);
        v_ = v;
    }
    void* get() const { return v_; }
    void* release() {
        void* v = v_;
        v_ = nullptr;
        return v;
    }

private:
    void* v_ = nullptr;
};

// Streams directly under the storage `child` of root.
uint32_t count_streams(StgStorage* root, const char* child, uint32_t* count) {
    *count = 0;
    StgHold<StgStorage> s;
    StgHold<StgEnum> e;
    StgHold<StgMalloc> names;
    uint32_t rc = stg_open_storage(root, child, kStgModeRead, s.put());
    if (rc == 0) rc = s.get()->ops->EnumElements(s.get(), 0, nullptr, 0, e.put());
    if (rc == 0) rc = StgGetMalloc(kStgTaskMemory, names.put());
    while (rc == 0) {
        StatStg st{};
        uint32_t got = 0;
        rc = e.get()->ops->Next(e.get(), 1, &st, &got);
        if (got == 1) {
            if (st.type == kStgTypeStream) ++*count;
            names.get()->ops->Free(names.get(), st.name);
        }
        if (rc == 0 && got == 0) break;
    }
    return rc == TAV_S_FALSE ? 0 : rc;
}

// Marks in `repeat` every entry of the order whose name an earlier entry
// has: a document listed twice counts once, where it is first listed.
uint32_t find_repeats(const AwdOrder& o, MemBlock<uint8_t>& repeat) {
    MemBlock<uint32_t> byName(o.count ? o.count : 1, sizeof(uint32_t));
    repeat.reset(static_cast<uint8_t*>(mem_calloc(o.count ? o.count : 1, 1)));
    if (!byName || !repeat) return uint32_t(errno_or(TAV_ENOMEM));
    auto bytes = [&](uint32_t i) {
        return std::string_view(reinterpret_cast<const char*>(o.bytes.get() + o.entries[i].start),
                                o.entries[i].length);
    };
    uint32_t* idx = byName.get();
    for (uint32_t i = 0; i < o.count; ++i) idx[i] = i;
    std::sort(idx, idx + o.count, [&](uint32_t a, uint32_t b) {
        int c = bytes(a).compare(bytes(b));
        return c < 0 || (c == 0 && a < b);
    });
    for (uint32_t k = 1; k < o.count; ++k)
        if (bytes(idx[k]) == bytes(idx[k - 1])) repeat[idx[k]] = 1;
    return 0;
}

// Fills the table with the order's names, each once, and their page counts.
uint32_t read_display_order(StgStorage* root, const AwdOrder& o, const uint8_t* repeat, AwdDocEntry* table) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < o.count; ++i) {
        if (repeat[i]) continue;
        o.name(i, table[n].name);
        if (uint32_t rc = awd_doc_page_count(root, table[n].name, &table[n].pageCount)) return rc;
        ++n;
    }
    return 0;
}

// The fields every AWD page sets, whatever its viewer says.
void preset_page(PageInfo& c) {
    format_decoded_settings(c);
    c.bitsPerSample[0] = 1;
    c.samplesPerPixel = 1;
    c.photometric = TAV_PHOTO_BILEVEL_WHITE;
    c.rotation = 0;
    c.compressionInfo.value = 0;
}

// The page's display settings from the records kept for it.
uint32_t read_display(StgStorage* root, const char* name, uint32_t page, AwdDisplay* out) {
    StgHold<StgStorage> persistent;
    uint32_t rc = stg_open_storage(root, kAwdPersistent, kStgModeRead, persistent.put());
    if (rc) return rc;
    AwdDocRecord doc;
    rc = awd_read_doc_record(persistent.get(), name, &doc);
    if (rc == 0) rc = awd_page_viewed(persistent.get(), name, page);
    if (rc == TAV_E_AWD_ABSENT) {
        // Without a record, or unviewed: the default settings.
        doc = AwdDocRecord{};
    } else if (rc == 0) {
        doc.flags |= kAwdFlagViewed;
    } else {
        return rc;
    }
    AwdPageRecord pageRecord;
    rc = awd_read_page_record(persistent.get(), name, page, &pageRecord);
    bool counts = rc == 0 && !(pageRecord.flags & kAwdPageFlagIgnored);
    if (rc != 0 && rc != TAV_E_AWD_ABSENT) return rc;
    *out = awd_combine_display(doc, counts ? &pageRecord : nullptr);
    return 0;
}

// Opens the viewer on the document at the page: 0 or the failure's code.
// The viewer keeps *info up to date for the page it is on, so the page's own
// resolution and line count are in it once the page is selected.
int open_viewer(StgStream* stream, uint32_t page, uint16_t* band, ViewerDocInfo* info, ViewerHold& v) {
    v.reset(awd_viewer_open(stream, band, info));
    if (!v.get()) return TAV_E_AWD_VIEWER;
    if (info->docLines == 0) return TAV_E_AWD_HEIGHT;
    if (!awd_viewer_set_page(v.get(), page)) return TAV_E_AWD_VIEWER;
    return info->docLines == 0 ? TAV_E_AWD_HEIGHT : 0;
}

// The page's width, from its first band, and its length in whole bands.
int measure_page(void* viewer, uint16_t band, PageInfo& c) {
    MemBlock<uint8_t> scratch(band ? band : 1, 1);
    if (!scratch) return errno_or(TAV_ENOMEM);
    AwdBand b{};
    b.bmBits = scratch.get();
    if (!awd_viewer_get_band(viewer, &b) || b.bmWidth < 0 || b.bmWidthBytes < 0) return TAV_E_AWD_VIEWER;
    c.imageWidth = uint32_t(b.bmWidth);
    uint32_t rows = b.bmWidthBytes ? band / uint32_t(b.bmWidthBytes) : 0;
    if (rows) c.imageLength = (c.imageLength + rows - 1) / rows * rows;
    return 0;
}

}  // namespace

StgStorage* awd_open_root(const char* path, uint32_t flags, AwdState& s) {
    bool write = (flags & (TAV_OPEN_WRITE | TAV_OPEN_READWRITE)) != 0;
    // The engine has no write-only mode, and writing reads the tree too.
    s.stgMode = write ? kStgModeWrite : kStgModeRead;
    if (StgStorage* reference = stg_storage_reference(path)) {
        s.borrowed = true;
        return reference;
    }
    s.borrowed = false;
    StgStorage* root = nullptr;
    uint32_t rc = stg_open_root(path, s.stgMode, &root);
    if (rc) {
        errno = int(rc);
        return nullptr;
    }
    return root;
}

uint32_t awd_doc_page_count(StgStorage* root, const char* name, int32_t* count) {
    *count = 0;
    StgHold<StgStorage> docs;
    StgHold<StgStream> stream;
    uint32_t rc = stg_open_storage(root, kAwdDocuments, kStgModeRead, docs.put());
    if (rc == 0) rc = stg_open_stream(docs.get(), name, kStgModeRead, stream.put());
    // A listed name whose stream is gone (the state a removal interrupted
    // between the two leaves) is a document of no pages.
    if (rc == TAV_STG_E_FILENOTFOUND && docs) return 0;
    if (rc) return rc;
    uint16_t band = kCountBandBytes;
    ViewerDocInfo info{};
    ViewerHold v;
    v.reset(awd_viewer_open(stream.get(), &band, &info));
    if (!v.get()) return TAV_E_AWD_VIEWER;
    *count = info.docPages;
    return 0;
}

int awd_load_documents(FctEntry* e) {
    AwdState& s = awd_state(e);
    mem_free_field(s.docs);
    s.docCount = 0;
    e->pageCount = 0;
    uint32_t streams = 0;
    AwdOrder order;
    MemBlock<uint8_t> repeat;
    uint32_t rc = count_streams(awd_root(e), kAwdDocuments, &streams);
    if (rc == 0 && streams > kMaxDocuments) rc = TAV_E_SIZE;
    if (rc == 0 && streams > 0) rc = awd_load_order(awd_root(e), &order);
    if (rc == 0 && streams > 0) rc = find_repeats(order, repeat);
    if (rc == 0 && streams > 0) {
        uint32_t names = 0;
        for (uint32_t i = 0; i < order.count; ++i) names += repeat[i] ? 0 : 1;
        // Streams the order does not name are entries without a name.
        uint32_t count = std::max(streams, names);
        s.docs = static_cast<AwdDocEntry*>(mem_calloc(count, sizeof(AwdDocEntry)));
        if (!s.docs) return fct_fail(e, errno_or(TAV_ENOMEM));
        s.docCount = int32_t(count);
        rc = read_display_order(awd_root(e), order, repeat.get(), s.docs);
    }
    if (rc) {
        mem_free_field(s.docs);
        s.docCount = 0;
        return fct_fail(e, int(rc));
    }
    uint32_t total = awd_total_pages(s);
    e->pageCount = uint16_t(total > kMaxPages ? kMaxPages : total);
    return 0;
}

uint32_t awd_total_pages(const AwdState& s) {
    uint64_t total = 0;
    for (int32_t i = 0; i < s.docCount; ++i)
        if (s.docs[i].pageCount > 0) total += uint32_t(s.docs[i].pageCount);
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
}

int32_t awd_locate_page(const AwdState& s, uint32_t g, uint32_t* within) {
    if (!s.docs || s.docCount < 1) return -1;
    uint64_t before = 0;
    for (int32_t i = 0; i < s.docCount; ++i) {
        if (s.docs[i].pageCount <= 0) continue;
        uint64_t end = before + uint32_t(s.docs[i].pageCount);
        if (g < end) {
            *within = uint32_t(g - before);
            return i;
        }
        before = end;
    }
    return -1;
}

int awd_get_page_info(FctEntry* e, const PageInfo& caller, PageInfo& c, uint32_t page) {
    AwdState& s = awd_state(e);
    awd_release_reader(s);
    preset_page(c);
    uint32_t within = 0;
    int32_t doc = awd_locate_page(s, page, &within);
    if (doc < 0) return awd_fail(TAV_E_PAGE_RANGE);
    const char* name = s.docs[doc].name;

    StgHold<StgStorage> docs;
    StgHold<StgStream> stream;
    uint32_t rc = stg_open_storage(awd_root(e), kAwdDocuments, kStgModeRead, docs.put());
    if (rc == 0) rc = stg_open_stream(docs.get(), name, kStgModeRead, stream.put());
    if (rc) return awd_fail(int(rc));

    uint16_t band = TAV_AWD_LOW(caller.maxStripSize);
    // The record lives in the handle's state, as long as the viewer it is
    // given to.
    ViewerDocInfo& info = s.viewerInfo;
    info = ViewerDocInfo{};
    ViewerHold viewer;
    if (int code = open_viewer(stream.get(), within, &band, &info, viewer)) return awd_fail(code);
    // The selected page's own values, not the first page's.
    c.xResNum = info.docXRes;
    c.yResNum = info.docYRes;
    c.imageLength = info.docLines;
    if (int code = measure_page(viewer.get(), band, c)) return awd_fail(code);
    // The band measured is not delivered: the page starts over.
    if (int code = open_viewer(stream.get(), within, &band, &info, viewer)) return awd_fail(code);

    AwdDisplay shown;
    if ((rc = read_display(awd_root(e), name, within, &shown))) return awd_fail(int(rc));
    c.maxStripSize = TAV_AWD_PAIR(band, shown.rotation);
    c.stripCount = TAV_AWD_PAIR(shown.xScale, shown.yScale);
    c.rowsPerStrip = shown.flags;

    s.docsStg = docs.release();
    s.docStream = stream.release();
    s.viewer = viewer.release();
    return 0;
}

int awd_read_band(FctEntry* e, void* buffer) {
    AwdState& s = awd_state(e);
    if (!s.viewer) return 0;
    AwdBand b{};
    b.bmBits = buffer;
    if (!awd_viewer_get_band(s.viewer, &b)) return fct_fail(e, TAV_E_AWD_VIEWER);
    if (b.bmHeight <= 0) {
        awd_release_reader(s);
        return 0;
    }
    return b.bmHeight * b.bmWidthBytes * b.bmPlanes;
}

void awd_release_reader(AwdState& s) {
    if (s.viewer) awd_viewer_close(s.viewer);
    s.viewer = nullptr;
    if (s.docStream) s.docStream->ops->Release(s.docStream);
    s.docStream = nullptr;
    if (s.docsStg) s.docsStg->ops->Release(s.docsStg);
    s.docsStg = nullptr;
}

void awd_close(FctEntry* e) {
    if (!e->formatState) return;
    KeepErrno keep;
    AwdState& s = awd_state(e);
    awd_release_reader(s);
    if (s.image) {
        // A page still under way is given up: its image file goes.
        awd_image_close(s.image);
        s.image = nullptr;
        plat_unlink(s.tempPath);
    }
    if (e->fd > 0 && !s.borrowed) awd_root(e)->ops->Release(awd_root(e));
    e->fd = -1;
    mem_free_field(s.docs);
    s.docCount = 0;
}
