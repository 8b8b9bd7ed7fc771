// XIFF files: TIFF files in the extended form, decoded by the outside XIFF
// reader (libxiffr3_0.so). The library hands the reader a byte-stream object
// over the handle's descriptor and delivers what the reader decodes: whole
// pages of plain rows (compression none), each row padded to 32 bits, at no
// more than 150 dots per inch.
//
// Behaviour:
//  - The reader's output set-up belongs to one page: selecting a page undoes
//    it (slot 16), and the first data or palette request of the page makes it
//    again, so every page is delivered at its own geometry.
//  - A reader resolution of 0 refuses the page (TAV_E_SIZE): the page's geometry is
//    scaled by it.
//  - The reader fills the handle's copy of the page information, which the
//    page call then hands to the caller whole.
//  - A page is delivered whole, in one read: a read that starts inside the
//    page or asks for fewer bytes than the page holds is refused (TAV_E_COUNT). The
//    read returns 0 and sets the remaining count to 0.
//  - Abort releases the reader as close does.
//  - More than 65535 pages count as 65535.
//  - A palette request for a page without a palette delivers nothing; a
//    colour-map buffer smaller than the page's palette is refused (TAV_E_COUNT).
#include "formats/xiff/xiff_format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "formats/common/format_io.h"
#include "formats/common/tiff_head.h"
#include "formats/xiff/xiff_interface.h"
#include "formats/xiff/xiff_stream.h"
#include "frame/fct.h"
#include "frame/page_values.h"
#include "platform/plat_loader.h"

std::atomic<void*> g_xiffLib{nullptr};

namespace {

std::mutex g_xiffLoadMutex;  // the first loads

constexpr uint32_t kMarkOffset = 8;
constexpr char kXeroxMark[] = "XEROX DIFF";  // followed by a version byte and a zero
constexpr char kExtendedMark[] = " eXtended";
constexpr uint32_t kXeroxMarkLength = sizeof kXeroxMark - 1;
constexpr uint32_t kExtendedMarkLength = sizeof kExtendedMark - 1;

// Pages are described at no more than this resolution (dots per inch).
constexpr uint32_t kMaxResolution = 150;
constexpr uint32_t kMaxPages = 0xFFFF;
constexpr int kFailure = int(TAV_E_FAIL);

struct XiffState {
    XiffReader* reader = nullptr;
    XiffStreamObject* stream = nullptr;
};

// How a page is delivered in each output form.
struct FormLayout {
    uint32_t bitsPerSample;
    uint32_t samplesPerPixel;
    uint32_t photometric;
    uint32_t paletteBytes;
};

FormLayout layout_of(uint32_t form) {
    switch (form) {
    case kXiffRgb: return {8, 3, TAV_PHOTO_RGB, 0};
    case kXiffPalette8: return {8, 1, TAV_PHOTO_PALETTE, kXiffPalette8Bytes};
    case kXiffGrey8: return {8, 1, TAV_PHOTO_GRAY_BLACK, 0};
    case kXiffPalette4: return {4, 1, TAV_PHOTO_PALETTE, kXiffPalette4Bytes};
    case kXiffGrey4: return {4, 1, TAV_PHOTO_GRAY_BLACK, 0};
    default: return {1, 1, TAV_PHOTO_BILEVEL_BLACK, 0};
    }
}

const XiffReaderOps& ops_of(const XiffState& s) { return *s.reader->ops; }

int fail(int code) {
    errno = code;
    return -1;
}

// The reader library's entry point; the library is loaded the first time
// and stays loaded (a load that failed is tried again next time).
CreateXiffReaderFn reader_entry() {
    void* lib = g_xiffLib.load(std::memory_order_acquire);
    if (!lib) {
        std::lock_guard<std::mutex> lock(g_xiffLoadMutex);
        lib = g_xiffLib.load(std::memory_order_relaxed);
        if (!lib) {
            lib = plat_load_library(kXiffLibraryName);
            g_xiffLib.store(lib, std::memory_order_release);
        }
    }
    if (!lib) return nullptr;
    return reinterpret_cast<CreateXiffReaderFn>(plat_symbol(lib, kXiffCreateName));
}

int xiff_open(FctEntry* e, const FormatRequest&) {
    CreateXiffReaderFn create = reader_entry();
    if (!create) return fail(TAV_EPERM);
    XiffState* s = format_new_state<XiffState>(e);
    if (!s) return -1;
    XiffReader* reader = nullptr;
    if (create(&reader) == 0 || !reader) return fail(kFailure);
    s->reader = reader;
    s->stream = xiff_stream_new(int(e->fd));
    if (!s->stream) return -1;
    const XiffReaderOps& o = ops_of(*s);
    o.start(reader);
    uint32_t pages = 0, unused = 0;
    if (o.open(reader, s->stream, &pages, &unused) != 0) return fail(kFailure);
    s->stream->pageCount = uint16_t(std::min(pages, kMaxPages));
    e->pageCount = s->stream->pageCount;
    return 0;
}

// Bytes of one delivered row: the bits of a pixel's samples, padded to 32.
uint64_t row_bytes(const PageInfo& c) {
    uint64_t bits = uint64_t(c.imageWidth) *
                    (c.bitsPerSample[0] + c.bitsPerSample[1] + c.bitsPerSample[2]);
    return (bits + 31) / 32 * 4;
}

// Undoes the reader's output set-up, which was made for the page before.
void undo_output(XiffState& s) {
    if (!s.stream->outputReady) return;
    ops_of(s).undo_setup(s.reader);
    s.stream->outputReady = 0;
}

// The reader's output set-up for the current page, once per page.
int ensure_output(const FctEntry* e, XiffState& s) {
    if (s.stream->outputReady) return 0;
    const PageInfo& c = e->pageInfo;
    const XiffReaderOps& o = ops_of(s);
    XiffReader* r = s.reader;
    bool ok = o.set_geometry(r, c.imageLength, c.imageWidth, c.xResNum, c.yResNum, 0) == 0;
    if (ok && o.setup_choices(r, kXiffStepOrder) == 1) ok = o.setup_choose(r, kXiffStepOrder, 0) == 0;
    if (ok && o.setup_choices(r, kXiffStepScaling) != 0)
        ok = o.setup_choose(r, kXiffStepScaling, kXiffReaderChoice) == 0;
    if (ok && o.setup_choices(r, kXiffStepBits) == 1) ok = o.setup_choose(r, kXiffStepBits, 0) == 0;
    if (ok) {
        int32_t channels = o.setup_choices(r, kXiffStepChannels);
        for (int32_t i = 0; ok && i < channels; ++i) ok = o.setup_choose(r, kXiffStepChannels, i) == 0;
    }
    if (!ok || o.setup_incomplete(r, kXiffRequiredSteps) != 0) return fail(kFailure);
    s.stream->outputReady = 1;
    return 0;
}

// The output form: the richest the reader offers for the page.
uint32_t choose_form(const XiffState& s) {
    bool can[kXiffRgb + 1] = {};
    for (uint32_t form : {kXiffRgb, kXiffPalette8, kXiffPalette4, kXiffGrey8, kXiffGrey4})
        can[form] = ops_of(s).can_deliver(s.reader, form) != 0;
    if (can[kXiffRgb]) return kXiffRgb;
    if (can[kXiffPalette8] || (can[kXiffGrey8] && can[kXiffPalette4])) return kXiffPalette8;
    if (can[kXiffGrey8]) return kXiffGrey8;
    if (can[kXiffPalette4]) return kXiffPalette4;
    if (can[kXiffGrey4]) return kXiffGrey4;
    return kXiffBilevel;
}

// One axis at no more than the highest resolution: the resolution kept, and
// the pixel count scaled with it (at least 1).
void cap_axis(uint32_t readerRes, uint32_t pixels, uint32_t& res, uint32_t& scaled) {
    res = std::min(readerRes, kMaxResolution);
    scaled = uint32_t(std::max<uint64_t>(uint64_t(pixels) * res / readerRes, 1));
}

// The sample layout of the chosen form. The page's only colour table is
// the palette of the palette forms.
void describe_form(PageInfo& c, uint32_t form) {
    FormLayout f = layout_of(form);
    for (uint32_t i = 0; i < f.samplesPerPixel; ++i) c.bitsPerSample[i] = f.bitsPerSample;
    c.samplesPerPixel = f.samplesPerPixel;
    c.photometric = f.photometric;
    if (f.photometric == TAV_PHOTO_PALETTE) {
        TavPaletteArea& p = c.area.palette;
        p.colorMapSize = f.paletteBytes;
        p.transferSize = p.whitePointSize = p.primariesSize = 0;
        p.planarConfig = kPlanarContiguous;
    } else if (f.photometric == TAV_PHOTO_RGB) {
        TavRgbArea& p = c.area.rgb;
        p.whitePointSize = p.primariesSize = 0;
        p.planarConfig = kPlanarContiguous;
    }
}

int xiff_page_info(FctEntry* e, uint32_t page, PageInfo& c, const PageInfo&, PageSizes*) {
    XiffState& s = format_state<XiffState>(e);
    const XiffReaderOps& o = ops_of(s);
    format_decoded_settings(c);
    undo_output(s);
    uint32_t length = 0, width = 0, xRes = 0, yRes = 0;
    if (o.select_page(s.reader, page) != 0 || o.page_geometry(s.reader, &length, &width, &xRes, &yRes) != 0)
        return fail(kFailure);
    if (xRes == 0 || yRes == 0) return fail(TAV_E_SIZE);
    cap_axis(xRes, width, c.xResNum, c.imageWidth);
    cap_axis(yRes, length, c.yResNum, c.imageLength);
    uint32_t form = choose_form(s);
    o.set_form(s.reader, form);
    describe_form(c, form);
    return 0;
}

int xiff_page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                   uint32_t* remaining, uint32_t) {
    if (start != 0 || length < e->pageDataSize) return fail(TAV_E_COUNT);
    XiffState& s = format_state<XiffState>(e);
    if (ensure_output(e, s) < 0) return -1;
    const PageInfo& c = e->pageInfo;
    uint64_t stride = row_bytes(c);
    if (stride * c.imageLength > length) return fail(TAV_E_COUNT);
    const XiffReaderOps& o = ops_of(s);
    if (o.begin_rows(s.reader, uint32_t(stride)) != 0 || o.read_rows(s.reader, buffer, 0, c.imageLength) != 0 ||
        o.end_rows(s.reader) != 0)
        return fail(kFailure);
    *remaining = 0;
    return 0;
}

int xiff_page_data(FctEntry* e, PageInfo* info) {
    const TavPaletteArea& want = info->area.palette;
    if (info->photometric != TAV_PHOTO_PALETTE || want.colorMapSize == 0 || !want.colorMapBuffer) return 0;
    const PageInfo& c = e->pageInfo;
    uint32_t bytes = c.photometric == TAV_PHOTO_PALETTE ? c.area.palette.colorMapSize : 0;
    if (bytes == 0) return 0;
    if (want.colorMapSize < bytes) return fail(TAV_E_COUNT);
    XiffState& s = format_state<XiffState>(e);
    if (ensure_output(e, s) < 0) return -1;
    if (ops_of(s).read_palette(s.reader, want.colorMapBuffer) != 0) return fail(kFailure);
    return 0;
}

// Close and abort alike: the output set-up undone, the reader closed, the
// stream destroyed and the reader released.
void xiff_release(FctEntry* e) {
    auto* s = static_cast<XiffState*>(e->formatState);
    if (!s) return;
    if (s->reader) {
        if (s->stream) undo_output(*s);
        ops_of(*s).close(s->reader);
    }
    const void* streamAddress = static_cast<XiffStream*>(s->stream);
    xiff_stream_end(s->stream);
    if (s->reader) ops_of(*s).release(s->reader, streamAddress);
    format_end_state<XiffState>(e);
}

}  // namespace

Probe xiff_probe(const FileHead& head) {
    if (!tiff_head_matches(head)) return kProbeNo;
    std::span<const uint8_t> b = head.bytes;
    if (std::memcmp(b.data() + kMarkOffset, kXeroxMark, kXeroxMarkLength) == 0) {
        uint8_t version = b[kMarkOffset + kXeroxMarkLength];
        uint8_t after = b[kMarkOffset + kXeroxMarkLength + 1];
        if (version == 0 || version == 1 || (version == 2 && after == 0)) return kProbeYes;
        return kProbeRefused;
    }
    if (std::memcmp(b.data() + kMarkOffset, kExtendedMark, kExtendedMarkLength) == 0)
        return kProbeYes;
    return kProbeNo;
}

const FormatOps kXiffFormat = {
    .fileType = FILETYPE_XIFF,
    .traits = kTraitDecodedPages | kTraitRowsOf32Bits,
    .detectOrder = 20,
    .probe = xiff_probe,
    .open = xiff_open,
    .release = xiff_release,
    .page_info = xiff_page_info,
    .page_read = xiff_page_read,
    .page_data = xiff_page_data,
};
