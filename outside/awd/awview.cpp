// libawview32.so: the AWD viewer the library loads at run time.
//
// A document stream holds the document's pages as a multi-page bilevel TIFF
// (libawdenc32.so writes them CCITT T.6 compressed). The viewer reads it
// with libtiff through the stream object it is given (client I/O over the
// stream's Seek and Read) and delivers a page in bands of whole rows:
//  - every page of a document is delivered with the document's line count,
//    that of its tallest page; a shorter page is padded with white rows, and
//    so is the last band of every page;
//  - a row has ceil(width / 8) bytes, the first pixel in the high bit, 1 for
//    black;
//  - ViewerOpen settles the band size on whole rows of the widest page (one
//    row at least); a page's bands hold as many of its own rows as fit;
//  - after the last band a band of 0 rows says the page is finished.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "formats/awd/awd_interface.h"
#include "outside/awd/stub_fault.h"

#define AWV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kOk = 1;
constexpr int32_t kFailed = 0;
// The largest block libtiff may take at once for one document.
constexpr tmsize_t kMaxLibtiffBlock = tmsize_t(64) << 20;
// Counts and sizes the viewer's records carry in 16 bits.
constexpr uint32_t kMaxU16 = 0xFFFF;
constexpr double kCmPerInch = 2.54;

struct Viewer {
    StgStream* stream = nullptr;
    int64_t position = 0;  // libtiff's position in the stream
    TIFF* tif = nullptr;
    uint32_t pages = 0;
    uint32_t bandBytes = 0;  // as settled at open
    ViewerDocInfo* info = nullptr;  // the caller's record, kept up to date
    // The selected page.
    bool selected = false;
    uint32_t width = 0;
    uint32_t rowBytes = 0;
    uint32_t pageRows = 0;  // rows the page itself has
    uint32_t bandRows = 0;
    uint32_t totalRows = 0;  // rows delivered: the page's rows in whole bands
    uint32_t nextRow = 0;
    bool invert = false;  // the page stores 0 as black
    std::vector<uint8_t> row;
};

// ---- libtiff's client I/O over the stream ----

tmsize_t io_read(thandle_t h, void* buffer, tmsize_t size) {
    Viewer* v = static_cast<Viewer*>(h);
    StgStream* s = v->stream;
    uint64_t at = 0;
    if (size < 0 || s->ops->Seek(s, v->position, kStgSeekSet, &at) != 0) return -1;
    auto* out = static_cast<uint8_t*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        auto want = uint32_t(std::min<tmsize_t>(size - done, 1 << 30));
        uint32_t got = 0;
        if (s->ops->Read(s, out + done, want, &got) != 0) return -1;
        if (got == 0) break;
        done += got;
    }
    v->position += done;
    return done;
}

tmsize_t io_write(thandle_t, void*, tmsize_t) { return -1; }

uint64_t stream_size(StgStream* s) {
    StatStg st{};
    if (s->ops->Stat(s, &st, kStatNoName) != 0) return 0;
    return st.size;
}

toff_t io_seek(thandle_t h, toff_t offset, int whence) {
    Viewer* v = static_cast<Viewer*>(h);
    auto delta = int64_t(offset);  // relative seeks come as two's complement
    int64_t from = 0;
    if (whence == SEEK_CUR) from = v->position;
    if (whence == SEEK_END) from = int64_t(stream_size(v->stream));
    int64_t target = from + delta;
    if (target < 0) return toff_t(-1);
    v->position = target;
    return toff_t(target);
}

toff_t io_size(thandle_t h) { return stream_size(static_cast<Viewer*>(h)->stream); }
int io_close(thandle_t) { return 0; }
int io_map(thandle_t, void**, toff_t*) { return 0; }
void io_unmap(thandle_t, void*, toff_t) {}

// libtiff's complaints about a damaged document end in a failed call.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// ---- pages ----

struct PageLayout {
    uint32_t width = 0;
    uint32_t length = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
};

// The current directory's layout, when it is a bilevel page the viewer can
// deliver.
bool read_layout(TIFF* tif, PageLayout* out) {
    uint16_t bits = 1, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits != 1 || samples != 1 || TIFFIsTiled(tif)) return false;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &out->width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &out->length))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &out->photometric);
    if (out->photometric != PHOTOMETRIC_MINISWHITE && out->photometric != PHOTOMETRIC_MINISBLACK)
        return false;
    // A row's bytes and the rows of a page fit the viewer's 16-bit fields.
    return out->width > 0 && (out->width + 7) / 8 <= kMaxU16 && out->length <= kMaxU16;
}

uint16_t dots_per_inch(TIFF* tif, uint32_t tag) {
    float value = 0;
    uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, tag, &value) || !(value > 0)) return 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double dpi = unit == RESUNIT_CENTIMETER ? value * kCmPerInch : value;
    return uint16_t(std::min<double>(dpi + 0.5, kMaxU16));
}

// Walks every page once: the page count and the widest row. False when a
// page cannot be delivered.
bool survey(Viewer& v, uint32_t* widestRow) {
    uint32_t pages = 0, widest = 0;
    do {
        PageLayout p;
        if (!read_layout(v.tif, &p) || ++pages > kMaxU16) return false;
        widest = std::max(widest, (p.width + 7) / 8);
    } while (TIFFReadDirectory(v.tif) == 1);
    v.pages = pages;
    *widestRow = widest;
    return TIFFSetDirectory(v.tif, 0) == 1;
}

void close_viewer(Viewer* v) {
    if (v->tif) TIFFClose(v->tif);
    delete v;
}

int32_t select_page(Viewer* v, uint32_t page) {
    v->selected = false;
    PageLayout p;
    if (page >= v->pages || TIFFSetDirectory(v->tif, tdir_t(page)) != 1 || !read_layout(v->tif, &p))
        return kFailed;
    v->width = p.width;
    v->rowBytes = (p.width + 7) / 8;
    v->pageRows = p.length;
    v->invert = p.photometric == PHOTOMETRIC_MINISBLACK;
    v->bandRows = std::max<uint32_t>(1, v->bandBytes / v->rowBytes);
    v->totalRows = (p.length + v->bandRows - 1) / v->bandRows * v->bandRows;
    v->nextRow = 0;
    v->row.assign(std::max<tmsize_t>(TIFFScanlineSize(v->tif), v->rowBytes), 0);
    v->selected = true;
    v->info->docPages = uint16_t(v->pages);
    v->info->docXRes = dots_per_inch(v->tif, TIFFTAG_XRESOLUTION);
    v->info->docYRes = dots_per_inch(v->tif, TIFFTAG_YRESOLUTION);
    v->info->docLines = uint16_t(p.length);
    return kOk;
}

// Row r of the selected page into out (rowBytes bytes): decoded, or white
// below the page's own rows.
bool deliver_row(Viewer* v, uint32_t r, uint8_t* out) {
    if (r >= v->pageRows) {
        std::memset(out, 0, v->rowBytes);
        return true;
    }
    if (TIFFReadScanline(v->tif, v->row.data(), r, 0) != 1) return false;
    std::memcpy(out, v->row.data(), v->rowBytes);
    if (v->invert)
        for (uint32_t i = 0; i < v->rowBytes; ++i) out[i] = uint8_t(~out[i]);
    return true;
}

}  // namespace

AWV_EXPORT void* ViewerOpen(StgStream* stream, uint32_t, uint32_t* unused, uint16_t* bandBytes,
                            ViewerDocInfo* info) {
    if (!stream || !bandBytes || !info || fault_hit("ViewerOpen")) return nullptr;
    auto* v = new (std::nothrow) Viewer;
    if (!v) return nullptr;
    v->stream = stream;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffBlock);
        TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
        // "m": read through the stream, never map it.
        v->tif = TIFFClientOpenExt("awd", "rm", v, io_read, io_write, io_seek, io_close, io_size,
                                   io_map, io_unmap, options);
        TIFFOpenOptionsFree(options);
    }
    v->info = info;
    uint32_t widestRow = 0;
    bool ok = v->tif && survey(*v, &widestRow);
    if (ok) {
        // Whole rows of the widest page, one row at least.
        uint32_t rows = std::max<uint32_t>(1, *bandBytes / widestRow);
        v->bandBytes = rows * widestRow;
        ok = select_page(v, 0) == kOk;
    }
    if (!ok) {
        close_viewer(v);
        return nullptr;
    }
    *bandBytes = uint16_t(v->bandBytes);
    if (unused) *unused = 0;
    return v;
}

AWV_EXPORT int32_t ViewerSetPage(void* viewer, uint32_t page) {
    if (!viewer || fault_hit("ViewerSetPage")) return kFailed;
    try {
        return select_page(static_cast<Viewer*>(viewer), page);
    } catch (const std::bad_alloc&) {
        return kFailed;
    }
}

AWV_EXPORT int32_t ViewerGetBand(void* viewer, AwdBand* band) {
    auto* v = static_cast<Viewer*>(viewer);
    if (!v || !band || !v->selected || fault_hit("ViewerGetBand")) return kFailed;
    band->bmType = 0;
    band->bmWidth = int32_t(v->width);
    band->bmWidthBytes = int32_t(v->rowBytes);
    band->bmPlanes = 1;
    band->bmBitsPixel = 1;
    uint32_t rows = std::min(v->bandRows, v->totalRows - v->nextRow);
    band->bmHeight = int32_t(rows);
    if (rows == 0) return kOk;
    if (!band->bmBits) return kFailed;
    auto* out = static_cast<uint8_t*>(band->bmBits);
    for (uint32_t i = 0; i < rows; ++i, ++v->nextRow)
        if (!deliver_row(v, v->nextRow, out + size_t(i) * v->rowBytes)) return kFailed;
    return kOk;
}

AWV_EXPORT int32_t ViewerClose(void* viewer) {
    if (!viewer) return kFailed;
    close_viewer(static_cast<Viewer*>(viewer));
    return kOk;
}

// Test control: the call of entryPoint that comes after afterCalls further
// calls fails. An empty name disarms.
AWV_EXPORT void AWVSTUBfail(const char* entryPoint, uint32_t afterCalls) {
    stub_fault_arm(entryPoint, afterCalls);
}
