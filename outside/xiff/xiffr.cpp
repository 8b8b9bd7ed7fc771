// libxiffr3_0.so: the XIFF reader the library loads at run time.
//
// CreateXiffReader makes a reader object. The reader opens the file through
// the byte-stream object it is given, with libtiff's client I/O over it: the
// stream offers reads, absolute seeks and its size, so the reader keeps the
// position itself for libtiff's relative and end seeks and seeks before
// every read. Pages are decoded with libtiff and delivered row by row in the
// one output form their layout has (RGB, 8- or 4-bit palette, 8- or 4-bit
// grey with 0 black, bilevel with 0 black), resampled to the output geometry
// by nearest neighbour.
//
// The output set-up: a form (slot 7) and a geometry (slot 8), then one
// choice for each of the steps order, scaling and bit order, and one for
// each output channel (slots 4 and 6); slot 9 checks them all before rows
// can be delivered.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "formats/xiff/xiff_interface.h"
#include "outside/xiff/xiffr_page.h"

#define XIFF_EXPORT extern "C" __attribute__((visibility("default")))

namespace xiffr {
namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;
// The largest block libtiff may take at once for one file.
constexpr tmsize_t kMaxLibtiffBlock = tmsize_t(64) << 20;
// The widest output row, in pixels.
constexpr uint32_t kMaxColumns = 1u << 20;
// Stream positions stay below 2^31.
constexpr int64_t kMaxPosition = 0x7FFFFFFF;

struct Reader : XiffReader {
    XiffStream* stream = nullptr;
    TIFF* tif = nullptr;
    int64_t position = 0;  // libtiff's position in the stream
    bool selected = false;
    SourcePage page;
    uint32_t form = 0;  // told by slot 7, 0 when it does not fit the page
    // The output set-up.
    bool geometry = false;
    uint32_t outLength = 0;
    std::vector<uint32_t> columns;  // the source column of each output column
    uint32_t steps = 0;             // steps taken, one bit per step
    uint32_t channels = 0;          // channel steps taken, one bit per channel
    bool ready = false;             // checked complete by slot 9
    // Row delivery.
    bool delivering = false;
    uint32_t stride = 0;
    uint32_t nextRow = 0;
    std::vector<uint8_t> scanline;
    int64_t scanlineRow = -1;
};

Reader* self_of(XiffReader* r) { return static_cast<Reader*>(r); }

// Runs a slot's body; an allocation failure inside it fails the slot.
template <typename Body>
int32_t guarded(Body&& body) {
    try {
        return body();
    } catch (...) {
        return kFailed;
    }
}

// ---- libtiff's client I/O over the byte stream ----

tmsize_t io_read(thandle_t h, void* buffer, tmsize_t size) {
    Reader* r = static_cast<Reader*>(h);
    XiffStream* s = r->stream;
    if (size < 0 || s->ops->seek(s, int32_t(r->position)) != r->position) return -1;
    auto* out = static_cast<uint8_t*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        auto want = uint32_t(std::min<tmsize_t>(size - done, kMaxPosition));
        int32_t got = s->ops->read(s, out + done, want);
        if (got < 0) return -1;
        if (got == 0) break;
        done += got;
    }
    r->position += done;
    return done;
}

tmsize_t io_write(thandle_t, void*, tmsize_t) { return -1; }

toff_t io_seek(thandle_t h, toff_t offset, int whence) {
    Reader* r = static_cast<Reader*>(h);
    auto delta = int64_t(offset);  // relative seeks come as two's complement
    if (delta > kMaxPosition || delta < -kMaxPosition) return toff_t(-1);
    int64_t from = 0;
    if (whence == SEEK_CUR) {
        from = r->position;
    } else if (whence == SEEK_END) {
        from = r->stream->ops->size(r->stream);
        if (from < 0) return toff_t(-1);
    }
    int64_t target = from + delta;
    if (target < 0 || target > kMaxPosition) return toff_t(-1);
    r->position = target;
    return toff_t(target);
}

toff_t io_size(thandle_t h) {
    Reader* r = static_cast<Reader*>(h);
    int32_t n = r->stream->ops->size(r->stream);
    return n < 0 ? 0 : toff_t(n);
}

int io_close(thandle_t) { return 0; }
int io_map(thandle_t, void**, toff_t*) { return 0; }
void io_unmap(thandle_t, void*, toff_t) {}

// libtiff's complaints about a damaged file are answered by a failed slot.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// ---- the reader object's slots ----

void reset_output(Reader& r) {
    r.geometry = false;
    r.columns.clear();
    r.steps = r.channels = 0;
    r.ready = r.delivering = false;
}

void close_file(Reader& r) {
    if (r.tif) TIFFClose(r.tif);
    r.tif = nullptr;
    r.stream = nullptr;
    r.selected = false;
    r.form = 0;
    reset_output(r);
}

int32_t slot_start(XiffReader*) { return kOk; }

int32_t slot_open(XiffReader* x, XiffStream* stream, uint32_t* pages, uint32_t* unused) {
    Reader* r = self_of(x);
    if (r->tif || !stream || !pages) return kFailed;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return kFailed;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffBlock);
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    r->stream = stream;
    r->position = 0;
    // "m": read through the stream, never map the file.
    r->tif = TIFFClientOpenExt("xiff", "rm", r, io_read, io_write, io_seek, io_close, io_size, io_map,
                               io_unmap, options);
    TIFFOpenOptionsFree(options);
    if (!r->tif) {
        r->stream = nullptr;
        return kFailed;
    }
    *pages = TIFFNumberOfDirectories(r->tif);
    if (unused) *unused = 0;
    return *pages ? kOk : kFailed;
}

int32_t slot_select_page(XiffReader* x, uint32_t page) {
    Reader* r = self_of(x);
    return guarded([&] {
        reset_output(*r);
        r->selected = false;
        r->form = 0;
        r->scanlineRow = -1;
        if (!r->tif || TIFFSetDirectory(r->tif, tdir_t(page)) != 1) return kFailed;
        if (!describe_page(r->tif, r->page)) return kFailed;
        r->selected = true;
        return kOk;
    });
}

int32_t slot_page_geometry(XiffReader* x, uint32_t* length, uint32_t* width, uint32_t* xRes,
                           uint32_t* yRes) {
    Reader* r = self_of(x);
    if (!r->selected || !length || !width || !xRes || !yRes) return kFailed;
    *length = r->page.length;
    *width = r->page.width;
    *xRes = r->page.xDpi;
    *yRes = r->page.yDpi;
    return kOk;
}

int32_t slot_setup_choices(XiffReader* x, uint32_t step) {
    Reader* r = self_of(x);
    if (!r->selected || !r->form) return 0;
    switch (step) {
    case kXiffStepOrder:
    case kXiffStepScaling:
    case kXiffStepBits: return 1;
    case kXiffStepChannels: return int32_t(form_channels(r->form));
    default: return 0;
    }
}

int32_t slot_can_deliver(XiffReader* x, uint32_t form) {
    Reader* r = self_of(x);
    return r->selected && form == r->page.form ? 1 : 0;
}

// Order: 0, top row first. Scaling: 0 or the reader's own, both nearest
// neighbour. Bit order: 0, the first pixel in the high bits.
int32_t slot_setup_choose(XiffReader* x, uint32_t step, int32_t choice) {
    Reader* r = self_of(x);
    if (!r->selected || !r->form) return kFailed;
    switch (step) {
    case kXiffStepOrder:
    case kXiffStepBits:
        if (choice != 0) return kFailed;
        break;
    case kXiffStepScaling:
        if (choice != 0 && choice != kXiffReaderChoice) return kFailed;
        break;
    case kXiffStepChannels:
        if (choice < 0 || uint32_t(choice) >= form_channels(r->form)) return kFailed;
        r->channels |= 1u << choice;
        return kOk;
    default: return kFailed;
    }
    r->steps |= 1u << step;
    return kOk;
}

int32_t slot_set_form(XiffReader* x, uint32_t form) {
    Reader* r = self_of(x);
    reset_output(*r);
    r->form = r->selected && form == r->page.form ? form : 0;
    return r->form ? kOk : kFailed;
}

int32_t slot_set_geometry(XiffReader* x, uint32_t length, uint32_t width, uint32_t, uint32_t, uint32_t) {
    Reader* r = self_of(x);
    return guarded([&] {
        r->geometry = r->ready = r->delivering = false;
        if (!r->selected || length == 0 || width == 0 || width > kMaxColumns) return kFailed;
        r->columns.resize(width);
        for (uint32_t i = 0; i < width; ++i) r->columns[i] = nearest_source(i, width, r->page.width);
        r->outLength = length;
        r->geometry = true;
        return kOk;
    });
}

int32_t slot_setup_incomplete(XiffReader* x, uint32_t steps) {
    Reader* r = self_of(x);
    const uint32_t allChannels = (1u << form_channels(r->form)) - 1;
    r->ready = r->selected && r->form && r->geometry && (r->steps & steps) == steps &&
               r->channels == allChannels;
    return r->ready ? 0 : 1;
}

int32_t slot_begin_rows(XiffReader* x, uint32_t rowBytes) {
    Reader* r = self_of(x);
    return guarded([&] {
        r->delivering = false;
        if (!r->ready) return kFailed;
        uint64_t needed = (uint64_t(r->columns.size()) * form_pixel_bits(r->form) + 7) / 8;
        if (rowBytes < needed) return kFailed;
        r->scanline.resize(size_t(TIFFScanlineSize64(r->tif)));
        r->stride = rowBytes;
        r->nextRow = 0;
        r->delivering = true;
        return kOk;
    });
}

// Decodes source row `row`. Codings such as CCITT cannot skip rows, so
// every row of a strip is decoded in turn: from the row after the last one
// when that lies before `row` in the same strip, else from the strip's
// first row.
bool load_scanline(Reader& r, uint32_t row) {
    if (r.scanlineRow == int64_t(row)) return true;
    uint32_t from = row - row % r.page.rowsPerStrip;
    if (r.scanlineRow >= int64_t(from) && r.scanlineRow < int64_t(row)) from = uint32_t(r.scanlineRow) + 1;
    r.scanlineRow = -1;
    for (uint32_t y = from; y <= row; ++y)
        if (TIFFReadScanline(r.tif, r.scanline.data(), y, 0) != 1) return false;
    r.scanlineRow = row;
    return true;
}

int32_t slot_read_rows(XiffReader* x, void* buffer, uint32_t, uint32_t rows) {
    Reader* r = self_of(x);
    if (!r->delivering || !buffer || rows > r->outLength - r->nextRow) return kFailed;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t k = 0; k < rows; ++k, ++r->nextRow) {
        if (!load_scanline(*r, nearest_source(r->nextRow, r->outLength, r->page.length))) return kFailed;
        uint8_t* row = out + size_t(k) * r->stride;
        std::memset(row, 0, r->stride);
        resample_row(r->page, r->scanline.data(), r->columns, row);
    }
    return kOk;
}

int32_t slot_end_rows(XiffReader* x) {
    Reader* r = self_of(x);
    bool was = r->delivering;
    r->delivering = false;
    return was ? kOk : kFailed;
}

int32_t slot_read_palette(XiffReader* x, void* buffer) {
    Reader* r = self_of(x);
    if (!buffer || !r->selected || !r->form || r->page.palette.empty()) return kFailed;
    std::memcpy(buffer, r->page.palette.data(), r->page.palette.size());
    return kOk;
}

int32_t slot_close(XiffReader* x) {
    close_file(*self_of(x));
    return kOk;
}

int32_t slot_release(XiffReader* x, const void*) {
    Reader* r = self_of(x);
    close_file(*r);
    delete r;
    return kOk;
}

int32_t slot_undo_setup(XiffReader* x) {
    reset_output(*self_of(x));
    return kOk;
}

constexpr XiffReaderOps kReaderOps = {
    .start = slot_start,
    .open = slot_open,
    .select_page = slot_select_page,
    .page_geometry = slot_page_geometry,
    .setup_choices = slot_setup_choices,
    .can_deliver = slot_can_deliver,
    .setup_choose = slot_setup_choose,
    .set_form = slot_set_form,
    .set_geometry = slot_set_geometry,
    .setup_incomplete = slot_setup_incomplete,
    .begin_rows = slot_begin_rows,
    .read_rows = slot_read_rows,
    .end_rows = slot_end_rows,
    .read_palette = slot_read_palette,
    .close = slot_close,
    .release = slot_release,
    .undo_setup = slot_undo_setup,
};

}  // namespace
}  // namespace xiffr

XIFF_EXPORT int32_t CreateXiffReader(XiffReader** reader) {
    if (!reader) return 0;
    auto* r = new (std::nothrow) xiffr::Reader;
    if (!r) return 0;
    r->ops = &xiffr::kReaderOps;
    *reader = r;
    return 1;
}
