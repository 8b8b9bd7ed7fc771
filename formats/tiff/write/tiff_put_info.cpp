// Page information for writing a TIFF page: finishes the previous
// directory (or drops it, when its data did not all reach the file: that
// page is to be given again), places the new page's directory slot at the
// aligned end of the file and builds the new directory; a title in the
// record makes a new summary-property block.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/write/tiff_writer.h"
#include "frame/format.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

}  // namespace

int tiff_data_chunks(PageInfo* info, const PutOptions& options, uint32_t defaultChunk) {
    // A compressed page crosses chunk boundaries only as one strip.
    if (info->stripCount != 1 && info->compression != TAV_COMP_NONE) return fail(TAV_E_INCONSISTENT);
    info->maxStripSize = options.bufferSize ? options.bufferSize : defaultChunk;
    return 0;
}

int tiff_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options) {
    TiffState& ts = tiff_of(e);
    MemBlock<uint8_t> props;
    uint32_t propsLen = 0;
    if (info->title) props.reset(tiff_build_property_block(info, &propsLen));

    if (options) {
        // The caller announced the kind of data it will deliver: that
        // type's row says how it fills the strips.
        const FormatOps* kind = format_announced(info->fileType);
        if (!kind) return fail(TAV_E_NOT_SUPPORTED);
        if (kind->data_strips(info, *options) < 0) return -1;
    }

    if (ts.pageBroken && tiff_drop_page(e) < 0) return -1;
    // Directories of the page being written may follow one another (reduced
    // resolution images, masks); any other page must be the next one, so a
    // page already in the file is never replaced.
    bool active = ts.dirPending || (e->editFlags & kEditPageUnderWay);
    bool samePage = active && page == e->curPage;
    if (!samePage) {
        uint32_t expected = e->pageCount + ((ts.dirPending && !(e->editFlags & kEditPageUnderWay)) ? 1 : 0);
        if (page != expected) return fail(TAV_E_PAGE);
    }
    // A pending directory whose page got data is complete once new page
    // information arrives.
    if (ts.dirPending) e->editFlags |= kEditPageComplete;

    if (e->editFlags & kEditPageComplete) {
        if (samePage && !e->pageInfo.subfileType && !info->subfileType)
            return fail(TAV_E_WRITTEN);
        bool newPage = !samePage;
        ts.closeFlags &= uint8_t(~kCloseDirectoryDone);
        if (ts.dirPending && tiff_finish_dir(e, newPage ? 1 : 0) < 0) return -1;
        e->editFlags &= uint8_t(~kEditPageComplete);
        if (newPage) e->editFlags &= uint8_t(~kEditPageUnderWay);
    }
    ts.pageStart = 0;
    if (e->pageCount > 0) {
        // Every new directory slot goes to the aligned end of the file.
        int32_t end = fio_length(int(e->fd));
        int32_t slot = end < 0 ? -1 : tiff_align_end(int(e->fd), 0);
        if (slot < 0) return -1;
        ts.pageStart = uint32_t(end);
        ts.firstIfdOffset = uint32_t(slot);
        ts.tiffWritePos = uint32_t(slot) + kTiffSlotSize;
    }
    if (props) {
        mem_free_field(ts.hdrBlock);
        ts.hdrBlockLen = propsLen;
        ts.hdrBlock = props.release();
    }

    if (!e->optionFlags[kOptStripWrite]) info->stripCount = 1;
    tiff_free_strip_lists(e);
    ts.stripCounts = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    ts.stripOffsets = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    if (!ts.stripCounts || !ts.stripOffsets) {
        tiff_free_strip_lists(e);
        return fail(TAV_ENOMEM);
    }
    e->curPage = page;
    if (tiff_build_dir(info, e) < 0) return -1;
    return 0;
}
