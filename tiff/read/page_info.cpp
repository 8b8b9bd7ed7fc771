// The page information call: xtavgeti for every file type.
//
// Choices where the page information rules leave the matter open:
//  - "Opened write-only" means the access bits of the open flags are 1
//    (flags 9: write with update); flags 1 alone are refused at open.
//  - A null PageInfo or PageSizes is refused with 22.
//  - The JpegInfo of a JPEG page belongs to the handle: passing the PageInfo
//    that holds it back to xtavgeti recycles it (one block for any number of
//    pages); otherwise it stays valid until the handle's next xtavgeti or
//    close, which release it. A caller's compressionInfo that is not the
//    handle's current JpegInfo is never dereferenced.
//  - TextTagBuf lengths of the nine texts are set on every call: the count
//    of the tag, 0 when the page lacks it. A call without a textTags array
//    forgets the previous page's text offsets, so xtavgtdata never delivers
//    another page's texts.
//  - After a failed call the handle's page data size is 0: the strip tables
//    no longer describe the page that was current, so xtavread refuses
//    (291) until the next successful xtavgeti.
//  - File types whose readers come with later work (block file, GIF, PCX,
//    DCX, BMP, Targa, JPEG, AWD, XIFF) fail with 293; each gets its reader
//    in the dispatch table below.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/ops.h"
#include "tiff/read/page_internal.h"
#include "tiff/tiff.h"

namespace {

// The JpegInfo each handle's reader handed out last (by handle number).
// Only a block recorded here is ever freed or recycled through a caller's
// record: a writer may have put a caller-owned block in the handle's copy.
JpegInfo* g_readerJpeg[kFctSize];

JpegInfo*& reader_jpeg(int handle) { return g_readerJpeg[handle - 1]; }

// Property text: five NUL-terminated strings, each with its label.
void parse_properties(FctEntry* e, PageInfo& c) {
    if (!e->hdrBlock || e->hdrBlockLen == 0) return;
    static const char* const kLabels[5] = {"Title:", "Author:", "Subject:", "Keywords:",
                                           "Comments:"};
    char* text[5];
    char* p = reinterpret_cast<char*>(e->hdrBlock);
    uint32_t n = e->hdrBlockLen;
    for (int i = 0; i < 5; ++i) {
        uint32_t ll = uint32_t(std::strlen(kLabels[i]));
        if (n < ll || std::memcmp(p, kLabels[i], ll) != 0) return;
        const char* nul = static_cast<const char*>(std::memchr(p, 0, n));
        if (!nul) return;
        text[i] = p + ll;
        uint32_t used = uint32_t(nul - p) + 1;
        p += used;
        n -= used;
    }
    c.title = text[0];
    c.author = text[1];
    c.subject = text[2];
    c.keywords = text[3];
    c.comments = text[4];
    c.propertiesLength = e->hdrBlockLen;
}

// JPEG options marker: the first comment segment of length 8.
void jpeg_options(PageInfo& c) {
    JpegInfo* j = c.compressionInfo.jpeg;
    if (!j) return;
    uint32_t q = 0, s = 0;
    const uint8_t* h = j->header;
    uint32_t len = h ? j->headerLength : 0;
    for (uint32_t i = 0; i + 3 < len; ++i) {
        if (h[i] != 0xFF || h[i + 1] != 0xFE) continue;
        if ((uint32_t(h[i + 2]) << 8 | h[i + 3]) != 8) continue;
        if (i + 10 <= len && std::memcmp(h + i + 4, "TEXO", 4) == 0) {
            q = h[i + 8] & 0x7F;
            s = h[i + 9] & 0x07;
            if (s == 1) s = 2;
            else if (s == 2) s = 1;
            else if (s == 4) s = 0;
        }
        break;
    }
    j->jpegOptions = q + q * 128 + s * 16384;
}

// TIFF strip sizes into the caller's PageSizes.
int strip_sizes(FctEntry* e, const PageInfo& c, PageSizes* sizes) {
    if (sizes->sizeCapacity == 0) return 0;
    StripList* l = e->stripCounts;
    if (!l || (l->type != kTiffShort && l->type != kTiffLong && l->type != 0)) {
        errno = TAV_E_FIELD_TYPE;
        return -1;
    }
    sizes->sizeCount = c.stripCount;
    if (!sizes->sizes) return 0;
    uint32_t n = sizes->sizeCapacity < c.stripCount ? sizes->sizeCapacity : c.stripCount;
    for (uint32_t i = 0; i < n; ++i) sizes->sizes[i] = strip_list_get(l, i);
    return 0;
}

int tiff_page_info(FctEntry* e, uint32_t page, PageInfo& c, PageSizes* sizes) {
    TiffDir dir;
    std::memset(&dir, 0, sizeof dir);
    if (tiff_page_dir(e, page, &dir) < 0) return -1;
    if (tiff_decode_dir(e, tiff_read_order(e), &dir, &c, sizes) < 0) return -1;
    parse_properties(e, c);
    if (c.compression == TAV_COMP_JPEG_INFO) jpeg_options(c);
    return strip_sizes(e, c, sizes);
}

uint64_t row_bytes(const PageInfo& c) {
    uint64_t bits = uint64_t(c.imageWidth) * c.bitsPerSample[0] * c.samplesPerPixel;
    if (c.fileType == FILETYPE_XIFF) return (bits + 31) / 32 * 4;
    return (bits + 7) / 8;
}

int fail_page(FctEntry* e, PageSizes* sizes, int code) {
    sizes->dataBytes = 0;
    sizes->rawBytes = 0;
    return fct_fail(e, code);
}

}  // namespace

int page_get_info(int handle, uint16_t page, PageInfo* info, PageSizes* sizes) {
    errno = 0;
    FctEntry* e = fct_lookup(handle);
    if (!e) return -1;
    if (!info || !sizes) return fct_fail(e, TAV_EINVAL);
    info->infoKind = 4;

    if (e->fileType == FILETYPE_RAW) {
        int32_t r = fio_seek_to(int(e->fd), 0);
        if (r < 0) {
            sizes->dataBytes = sizes->rawBytes = uint32_t(r);
            return fct_fail(e, errno ? errno : TAV_EIO);
        }
        sizes->rawBytes = sizes->dataBytes;
        e->pageInfo.fileType = FILETYPE_RAW;
        return fct_fail(e, TAV_E_RAW_FILE);
    }
    if (page == 0) return fct_fail(e, TAV_E_PAGE);
    const uint32_t p = uint32_t(page) - 1;
    if ((e->openFlags & TAV_OPEN_ACCESS_MASK) == TAV_OPEN_WRITE)
        return fail_page(e, sizes, TAV_EACCES);
    if (p >= e->pageCount) return fail_page(e, sizes, TAV_E_PAGE_RANGE);

    // Step 7: the copy, with the JpegInfo recycled or released.
    PageInfo& c = e->pageInfo;
    JpegInfo*& mine = reader_jpeg(handle);
    JpegInfo* old = (c.compression == TAV_COMP_JPEG_INFO && c.compressionInfo.jpeg == mine)
                        ? mine
                        : nullptr;
    JpegInfo* recycle = nullptr;
    if (old && info->compression == TAV_COMP_JPEG_INFO && info->compressionInfo.jpeg == old)
        recycle = old;
    else if (old)
        jpeg_info_free(old);
    mine = nullptr;
    std::memset(&c, 0, sizeof c);
    if (recycle) {
        const size_t from = offsetof(PageInfo, compressionInfo);
        const size_t to = offsetof(PageInfo, area);
        std::memcpy(reinterpret_cast<uint8_t*>(&c) + from,
                    reinterpret_cast<const uint8_t*>(info) + from, to - from);
        mem_free_field(recycle->header);
        std::memset(recycle, 0, sizeof(JpegInfo));
        c.compressionInfo.jpeg = recycle;
    }
    e->pageDataSize = 0;
    e->pageRawSize = 0;

    // Steps 8 to 12.
    e->subfileWanted = info->subfileType;
    if (info->textTags) {
        c.textTags = info->textTags;
        if (!e->textTagOffsets) {
            e->textTagOffsets = static_cast<uint32_t*>(mem_calloc(kTextSlots, 4));
            if (!e->textTagOffsets) return fct_fail(e, TAV_ENOMEM);
        } else {
            std::memset(e->textTagOffsets, 0, kTextSlots * 4);
        }
        for (uint32_t k = 0; k < kTextTagCount; ++k) info->textTags[k].length = 0;
    } else if (e->textTagOffsets) {
        std::memset(e->textTagOffsets, 0, kTextSlots * 4);
    }
    c.area = info->area;
    if (!e->extraOffsets) {
        e->extraOffsets = static_cast<uint32_t*>(mem_calloc(kExtraSlots, 4));
        if (!e->extraOffsets) return fct_fail(e, TAV_ENOMEM);
    } else {
        std::memset(e->extraOffsets, 0, kExtraSlots * 4);
    }
    c.colorSpaceType = 1;

    // Step 13: the reader of the file type.
    int r = 0;
    switch (e->fileType) {
    case FILETYPE_RESERVED4:
    case FILETYPE_RESERVED5:
        break;
    case FILETYPE_TIFF:
        r = tiff_page_info(e, p, c, sizes);
        break;
    case FILETYPE_BLOCK:
    case FILETYPE_GIF:
    case FILETYPE_PCX:
    case FILETYPE_DCX:
    case FILETYPE_TGA:
    case FILETYPE_BMP:
    case FILETYPE_JPEG:
    case FILETYPE_AWD:
    case FILETYPE_XIFF:
    default:
        r = -1;
        errno = TAV_E_NOT_SUPPORTED;
        sizes->dataBytes = sizes->rawBytes = 0;
        break;
    }
    if (c.compression == TAV_COMP_JPEG_INFO) mine = c.compressionInfo.jpeg;
    if (r < 0) return fct_fail(e, errno ? errno : TAV_EIO);

    // Steps 14 to 16.
    c.fileType = e->fileType;
    *info = c;
    uint64_t raw = row_bytes(c) * c.imageLength;
    sizes->rawBytes = raw > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(raw);
    e->curPage = uint16_t(p);
    if (e->fileType == FILETYPE_AWD || e->fileType == FILETYPE_XIFF)
        sizes->dataBytes = sizes->rawBytes;
    e->pageDataSize = sizes->dataBytes;
    e->pageRawSize = sizes->rawBytes;
    return 0;
}
