// xtavputi: taking a page's information for writing. For TIFF this finishes
// the previous directory, places the new page's directory slot at the
// aligned end of the file and builds the new directory.
#include <cerrno>
#include <cstring>

#include "fileio/mem.h"
#include "frame/ops.h"
#include "tiff/write/tiff_writer.h"

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

// The summary-property block built from the record's five texts, with room
// left so the texts can later be rewritten in place. Null when the
// allocation fails (the properties are then left as they were).
uint8_t* build_property_block(const PageInfo* info, uint32_t* length) {
    static constexpr const char* kLabels[5] = {"Title:", "Author:", "Subject:", "Keywords:",
                                               "Comments:"};
    const char* texts[5] = {text_or_empty(info->title), text_or_empty(info->author),
                            text_or_empty(info->subject), text_or_empty(info->keywords),
                            text_or_empty(info->comments)};
    size_t lens[5];
    uint64_t s = 5;
    for (int i = 0; i < 5; ++i) {
        lens[i] = strnlen(texts[i], 0x10000);
        s += lens[i];
    }
    uint64_t r = (info->propertiesLength != 0 && info->propertiesLength >= s)
                     ? info->propertiesLength
                     : (s * 5) / 4;
    uint64_t l = ((r + 59) & ~uint64_t(3)) - 16;
    // Labels, texts, their zero bytes and the final zero must fit.
    uint64_t needed = 1;
    for (int i = 0; i < 5; ++i) needed += std::strlen(kLabels[i]) + lens[i] + 1;
    if (l < needed || l > 0x1000000) return nullptr;
    uint8_t* block = static_cast<uint8_t*>(mem_calloc(uint32_t(l), 1));
    if (!block) return nullptr;
    uint8_t* p = block;
    for (int i = 0; i < 5; ++i) {
        size_t n = std::strlen(kLabels[i]);
        std::memcpy(p, kLabels[i], n);
        p += n;
        std::memcpy(p, texts[i], lens[i]);
        p += lens[i] + 1;
    }
    *length = uint32_t(l);
    return block;
}

int put_tiff(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options) {
    MemBlock<uint8_t> props;
    uint32_t propsLen = 0;
    if (info->title) props.reset(build_property_block(info, &propsLen));

    if (options) {
        switch (info->fileType) {
        case 2:
            info->samplesPerPixel = 1;
            info->bitsPerSample[0] = 1;
            if (options->strips) {
                info->stripCount = options->strips;
                info->rowsPerStrip = options->rows;
            } else {
                info->stripCount = 1;
                info->rowsPerStrip = info->imageLength;
            }
            break;
        case 1: case 3: case 4: case 5:
            break;
        default:
            return fct_fail(e, TAV_E_NOT_SUPPORTED);
        }
    }

    // Directories of the page being written may follow one another (reduced
    // resolution images, masks); any other page must be the next one, so a
    // page already in the file is never replaced.
    bool active = e->dirPending || (e->editFlags & kEditPageUnderWay);
    bool samePage = active && page == e->curPage;
    if (!samePage) {
        uint32_t expected = e->pageCount + ((e->dirPending && !(e->editFlags & kEditPageUnderWay)) ? 1 : 0);
        if (page != expected) return fct_fail(e, TAV_E_PAGE);
    }
    // A pending directory whose page got data is complete once new page
    // information arrives.
    if (e->dirPending) e->editFlags |= kEditPageComplete;

    if (e->editFlags & kEditPageComplete) {
        if (samePage && e->pageInfo.subfileType == 0 && info->subfileType == 0)
            return fct_fail(e, TAV_E_WRITTEN);
        bool newPage = !samePage;
        if (e->closeFlags & 1)
            e->closeFlags &= uint8_t(~1);
        if (e->dirPending && tiff_finish_dir(e, newPage ? 1 : 0) < 0) return fct_fail_errno(e);
        e->editFlags &= uint8_t(~kEditPageComplete);
        if (newPage) e->editFlags &= uint8_t(~kEditPageUnderWay);
    }
    if (e->pageCount > 0) {
        // Every new directory slot goes to the aligned end of the file.
        int32_t slot = tiff_align_end(int(e->fd), 0);
        if (slot < 0) return fct_fail_errno(e);
        e->firstIfdOffset = uint32_t(slot);
        e->tiffWritePos = uint32_t(slot) + kTiffSlotSize;
    }
    if (props) {
        mem_free_field(e->hdrBlock);
        e->hdrBlockLen = propsLen;
        e->hdrBlock = props.release();
    }

    if (!e->optionFlags[kOptStripWrite]) info->stripCount = 1;
    tiff_free_strip_lists(e);
    e->stripCounts = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    e->stripOffsets = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    if (!e->stripCounts || !e->stripOffsets) {
        tiff_free_strip_lists(e);
        return fct_fail(e, TAV_ENOMEM);
    }
    e->curPage = page;
    if (tiff_build_dir(info, e) < 0) return fct_fail_errno(e);
    return 0;
}

}  // namespace

int page_put_info(int handle, uint16_t page, PageInfo* info, PutOptions* options) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (e->fileType == FILETYPE_RAW) return fct_fail(e, TAV_E_RAW_FILE);
    if (page == 0) return fct_fail(e, TAV_EINVAL);
    --page;
    // A handle without write access never finishes its pages at close.
    if ((e->openFlags & 3) == 0) return fct_fail(e, TAV_EACCES);
    if (!info) return fct_fail(e, TAV_EINVAL);
    uint8_t& state = e->pageState();
    if ((state & 1) && !(state & 2)) return fct_fail(e, TAV_E_SEQUENCE);
    if (options && options->typeGiven == 0) info->fileType = e->fileType;

    switch (e->fileType) {
    case FILETYPE_RESERVED4:
    case FILETYPE_RESERVED5:
        if (options && (info->fileType < 1 || info->fileType > 5))
            return fct_fail(e, TAV_E_NOT_SUPPORTED);
        break;
    case FILETYPE_TIFF:
        if (put_tiff(e, page, info, options) < 0) return -1;
        break;
    case FILETYPE_GIF:
        break;
    default:
        return fct_fail(e, TAV_E_NOT_SUPPORTED);
    }
    std::memcpy(&e->pageInfo, info, sizeof(PageInfo));
    state = 1;
    return 0;
}
