// AWD documents: fax documents kept in compound files of their own, read
// through the AWD viewer and written through the AWD encoder, both loaded
// at run time. The handle holds the file's root storage; every page of
// every document, in display order, is one page of the handle.
//
// Without AWD support on the platform every operation fails at once (TAV_E_NOT_SUPPORTED;
// the band read delivers nothing).
//
// Behaviour:
//  - New properties (xtavputprops) are refused (TAV_E_NOT_SUPPORTED): AWD files keep none,
//    and nothing is changed.
//  - xtavdelpgs refuses a range that is not a run of existing pages (TAV_E_PAGE),
//    before anything is changed.
//  - Close and abort alike give up a page still under way and release the
//    root and the document table.
#include "formats/awd/awd_format.h"

#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "formats/awd/awd_binding.h"
#include "formats/awd/awd_state.h"
#include "frame/fct.h"
#include "frame/handle_guard.h"
#include "storage/stg_utils.h"

namespace {

int awd_open_op(FctEntry* e, const FormatRequest& req) {
    if (!stg_supported()) return awd_fail(TAV_E_NOT_SUPPORTED);
    AwdState* s = format_new_state<AwdState>(e);
    if (!s) return -1;
    StgStorage* root = awd_open_root(req.path, e->openFlags, *s);
    if (!root) return -1;
    e->fd = intptr_t(root);
    if (awd_load_documents(e) < 0) {
        KeepErrno keep;
        awd_close(e);
        return -1;
    }
    return 0;
}

int awd_create_op(FctEntry* e, const FormatRequest& req) {
    if (!req.path) return awd_fail(TAV_EINVAL);
    return awd_create(e, req.path);
}

void awd_release_op(FctEntry* e) {
    awd_close(e);
    format_end_state<AwdState>(e);
}

int awd_page_info_op(FctEntry* e, uint32_t page, PageInfo& copy, const PageInfo& caller, PageSizes*) {
    if (!stg_supported()) return awd_fail(TAV_E_NOT_SUPPORTED);
    return awd_get_page_info(e, caller, copy, page);
}

int awd_page_read_op(FctEntry* e, uint8_t* buffer, uint32_t, uint32_t length, uint32_t* remaining,
                     uint32_t) {
    *remaining = 0;
    if (!stg_supported()) return 0;
    // The viewer fills a whole band, whatever the count.
    if (length < TAV_AWD_LOW(e->pageInfo.maxStripSize)) return fct_fail(e, TAV_E_COUNT);
    return awd_read_band(e, buffer);
}

int awd_put_info_op(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions*) {
    if (!stg_supported()) return awd_fail(TAV_E_NOT_SUPPORTED);
    if (awd_put_page_info(e, page, *info) < 0) return -1;
    e->curPage = page;
    return 0;
}

int32_t awd_page_write_op(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t) {
    if (!stg_supported()) return awd_fail(TAV_E_NOT_SUPPORTED);
    return awd_write_band(e, page, buffer, count);
}

int awd_move_op(FctEntry* e, uint32_t to, uint32_t from) {
    if (to == 0 || from == 0) return fct_fail(e, TAV_E_PAGE);
    return awd_move_last_document(e, to - 1, from - 1);
}

int awd_edit_op(FileLocation*, const char* path, int32_t first, int32_t last, const PageInfo* props) {
    if (!stg_supported() || props) return awd_fail(TAV_E_NOT_SUPPORTED);
    char buf[TAV_PATH_SIZE];
    if (std::strlen(path) >= sizeof buf) return awd_fail(TAV_EINVAL);
    std::strcpy(buf, path);
    uint32_t type = 0, pages = 0;
    bool noEntry = false;
    int h = tav_open(nullptr, buf, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &noEntry);
    if (h < 0) {
        uint32_t code = 0;
        if (!noEntry) fct_fetch_error(-h, &code);
        return awd_fail(noEntry ? errno_or(TAV_ENFILE) : int(code));
    }
    HandleGuard doc(h);
    if (first < 1 || last < first || uint32_t(last) > pages) return awd_fail(TAV_E_PAGE);
    if (first == 1 && uint32_t(last) == pages && !stg_is_storage(path)) {
        // No page is left: the file goes.
        if (doc.close() < 0) return -1;
        if (fio_remove(nullptr, path) == 0) return 0;
        return awd_fail(0);
    }
    FctEntry* e = fct_lookup(h);
    if (!e || awd_delete_pages(e, uint32_t(first - 1), uint32_t(last - 1)) < 0) return -1;
    return doc.close();
}

// AWD documents can be created only where the platform supports them, and
// only locally.
bool awd_creatable(bool local) { return local && stg_supported(); }

}  // namespace

const FormatOps kAwdFormat = {
    .fileType = FILETYPE_AWD,
    .traits = kTraitOwnStorage | kTraitDecodedPages | kTraitEmptyWrites,
    .probe_path = awd_is_awd_file,
    .can_create = awd_creatable,
    .open = awd_open_op,
    .create = awd_create_op,
    .release = awd_release_op,
    .page_info = awd_page_info_op,
    .page_read = awd_page_read_op,
    .page_data = format_nothing_data,
    .put_info = awd_put_info_op,
    .page_write = awd_page_write_op,
    .move_page = awd_move_op,
    .edit_by_path = awd_edit_op,
    .unload = awd_unload_libraries,
};
