// The page information call (xtavgeti): the steps every file type shares,
// then the format's reader.
//
// Behaviour:
//  - "Opened write-only" means the access bits of the open flags are 1
//    (flags 9: write with update); flags 1 alone are refused at open.
//  - A null PageInfo or PageSizes is refused with TAV_EINVAL.
//  - The JpegInfo of a JPEG page belongs to the handle (readerJpeg): passing
//    the PageInfo that holds it back to xtavgeti recycles it (one block for
//    any number of pages); otherwise the next xtavgeti or the close releases
//    it. A failed call keeps the recycled block with the handle, emptied,
//    because the caller's record still names it. A caller's compressionInfo
//    that is not the handle's own block is never dereferenced or freed.
//  - TextTagBuf lengths of the nine texts are set on every call: the count
//    of the tag, 0 when the page lacks it. A call without a textTags array
//    forgets the previous page's text offsets, so xtavgtdata never delivers
//    another page's texts.
//  - After a failed call the handle's page data size is 0: the strip tables
//    no longer describe the page that was current, so xtavread refuses
//    (TAV_E_COUNT) until the next successful xtavgeti.
//  - A file type without a page reader fails with TAV_E_NOT_SUPPORTED.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"

namespace {

constexpr uint32_t kInfoKind = 4;  // the only kind of record the library fills
constexpr uint32_t kColorSpacePlain = 1;
// The memory-table mark of a JpegInfo whose restartInterval word is a data
// start.
constexpr uint8_t kMemTagJpegDataStart = 1;

uint64_t row_bytes(const FormatOps& f, const PageInfo& c) {
    uint64_t bits = uint64_t(c.imageWidth) * c.bitsPerSample[0] * c.samplesPerPixel;
    if (f.traits & kTraitRowsOf32Bits) return (bits + 31) / 32 * 4;
    return (bits + 7) / 8;
}

int fail_page(FctEntry* e, PageSizes* sizes, int code) {
    sizes->dataBytes = 0;
    sizes->rawBytes = 0;
    return fct_fail(e, code);
}

// Starts the handle's copy afresh. The JpegInfo the reader handed out last is
// recycled when the caller hands it back in `info`, else freed. The recycled
// block, emptied, stays in the copy for the reader to fill.
void reset_copy(FctEntry* e, const PageInfo* info) {
    PageInfo& c = e->pageInfo;
    JpegInfo* mine = e->readerJpeg;
    bool recycled = mine && info->compression == TAV_COMP_JPEG_INFO &&
                    info->compressionInfo.jpeg == mine;
    if (mine && !recycled) jpeg_info_free(e->readerJpeg);
    std::memset(&c, 0, sizeof c);
    if (recycled) {
        const size_t from = offsetof(PageInfo, compressionInfo);
        const size_t to = offsetof(PageInfo, area);
        std::memcpy(reinterpret_cast<uint8_t*>(&c) + from,
                    reinterpret_cast<const uint8_t*>(info) + from, to - from);
        mem_free_field(mine->header);
        std::memset(mine, 0, sizeof(JpegInfo));
        c.compressionInfo.jpeg = mine;
    }
}

// The per-page tables of text offsets and further offsets, cleared.
int reset_tables(FctEntry* e, PageInfo* info) {
    PageInfo& c = e->pageInfo;
    if (info->textTags) {
        c.textTags = info->textTags;
        if (!e->textTagOffsets) {
            e->textTagOffsets = static_cast<uint32_t*>(mem_calloc(kTextSlots, 4));
            if (!e->textTagOffsets) return fct_fail(e, TAV_ENOMEM);
        } else {
            std::memset(e->textTagOffsets, 0, kTextSlots * 4);
        }
        for (uint32_t k = 0; k < TAV_TEXT_TAG_COUNT; ++k) info->textTags[k].length = 0;
    } else if (e->textTagOffsets) {
        std::memset(e->textTagOffsets, 0, kTextSlots * 4);
    }
    if (!e->extraOffsets) {
        e->extraOffsets = static_cast<uint32_t*>(mem_calloc(kExtraSlots, 4));
        if (!e->extraOffsets) return fct_fail(e, TAV_ENOMEM);
    } else {
        std::memset(e->extraOffsets, 0, kExtraSlots * 4);
    }
    return 0;
}

// Whose JpegInfo the handle keeps after the reader: on success the page's
// own, when it has one; on failure the recycled block, which the reader
// leaves emptied in the copy because the caller's record may still name it.
void keep_reader_jpeg(FctEntry* e, bool ok) {
    const PageInfo& c = e->pageInfo;
    JpegInfo* held = c.compressionInfo.jpeg;
    if (ok)
        e->readerJpeg = c.compression == TAV_COMP_JPEG_INFO ? held : nullptr;
    else if (held != e->readerJpeg)
        e->readerJpeg = nullptr;
}

}  // namespace

void jpeg_info_free(JpegInfo*& info) {
    if (!info) return;
    mem_free_field(info->header);
    mem_free(info);
    info = nullptr;
}

void jpeg_info_mark_data_start(JpegInfo* j) {
    mem_set_tag(j, kMemTagJpegDataStart);
    if (j->header) mem_set_tag(j->header, kMemTagJpegDataStart);
}

bool jpeg_info_holds_data_start(const JpegInfo* j) {
    if (!j) return false;
    return mem_tag(j) == kMemTagJpegDataStart ||
           (j->header && mem_tag(j->header) == kMemTagJpegDataStart);
}

int page_get_info(int handle, uint16_t page, PageInfo* info, PageSizes* sizes) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (!info || !sizes) return fct_fail(e, TAV_EINVAL);
    info->infoKind = kInfoKind;
    const FormatOps& f = fct_format(e);
    if (f.traits & kTraitByteStream) {
        // No pages: the format gives its answer at once.
        if (f.page_info(e, 0, e->pageInfo, *info, sizes) < 0) return fct_fail(e, errno_or(TAV_EIO));
        return 0;
    }

    if (page == 0) return fct_fail(e, TAV_E_PAGE);
    const uint32_t p = uint32_t(page) - 1;
    if (fct_write_only(e->openFlags)) return fail_page(e, sizes, TAV_EACCES);
    if (p >= e->pageCount) return fail_page(e, sizes, TAV_E_PAGE_RANGE);

    reset_copy(e, info);
    PageInfo& c = e->pageInfo;
    e->pageDataSize = 0;
    e->pageRawSize = 0;
    e->subfileWanted = info->subfileType;
    if (reset_tables(e, info) < 0) {
        keep_reader_jpeg(e, false);
        return -1;
    }
    c.area = info->area;
    c.colorSpaceType = kColorSpacePlain;

    int r;
    if (!f.page_info) {
        sizes->dataBytes = sizes->rawBytes = 0;
        r = -1;
        errno = TAV_E_NOT_SUPPORTED;
    } else {
        r = f.page_info(e, p, c, *info, sizes);
    }
    keep_reader_jpeg(e, r == 0);
    if (r < 0) return fct_fail(e, errno_or(TAV_EIO));

    c.infoKind = kInfoKind;
    c.fileType = e->fileType;
    *info = c;
    uint64_t raw = row_bytes(f, c) * c.imageLength;
    sizes->rawBytes = raw > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(raw);
    e->curPage = uint16_t(p);
    if (f.traits & kTraitDecodedPages) sizes->dataBytes = sizes->rawBytes;
    e->pageDataSize = sizes->dataBytes;
    e->pageRawSize = sizes->rawBytes;
    return 0;
}
