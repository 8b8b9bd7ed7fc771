// libawdenc32.so: the AWD encoder the library loads at run time.
//
// ImageCreate makes an image file: a multi-page bilevel TIFF, each page
// CCITT T.6 compressed and stored 0 as white, written with libtiff. Bands
// add rows to the page under way; a band of 0 rows ends it and the next band
// starts a new page, so one image takes any number of pages. The file is
// created owner-only and never over an existing path or through a link.
//
// AWDCreate makes a new AWD file with the tree an empty one needs, through
// a compound-file engine of its own; AWDAddImage adds an image file to it
// as a new document at the end of the display order.
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "formats/awd/awd_interface.h"
#include "outside/awd/awd_skeleton.h"
#include "outside/awd/stub_fault.h"

#define AWE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kOk = 1;
constexpr int32_t kFailed = 0;
// Rows of a page, and bytes of a row, fit the viewer's 16-bit fields.
constexpr uint32_t kMaxRows = 0xFFFF;
constexpr uint32_t kMaxRowBytes = 0xFFFF;
constexpr mode_t kOwnerOnly = 0600;

struct Image {
    TIFF* tif = nullptr;
    uint16_t xRes = 0;
    uint16_t yRes = 0;
    bool pageOpen = false;
    uint32_t width = 0;
    uint32_t rowBytes = 0;
    uint32_t rows = 0;   // rows of the page under way
    uint32_t pages = 0;  // pages finished
    bool failed = false;
    std::vector<uint8_t> row;
};

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

bool start_page(Image& im, const AwdBand& band) {
    uint32_t width = uint32_t(band.bmWidth);
    TIFF* t = im.tif;
    bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, float(im.xRes)) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, float(im.yRes)) &&
              // One strip: the page's length is known when it ends.
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(0xFFFFFFFF));
    if (!ok) return false;
    im.width = width;
    im.rowBytes = (width + 7) / 8;
    im.row.assign(im.rowBytes, 0);
    im.rows = 0;
    im.pageOpen = true;
    return true;
}

bool end_page(Image& im) {
    im.pageOpen = false;
    if (im.rows == 0 || TIFFWriteDirectory(im.tif) != 1) return false;
    ++im.pages;
    return true;
}

bool band_valid(const Image& im, const AwdBand& b) {
    if (b.bmHeight < 0 || b.bmPlanes != 1 || b.bmBitsPixel != 1 || b.bmWidth <= 0) return false;
    uint32_t rowBytes = (uint32_t(b.bmWidth) + 7) / 8;
    if (rowBytes > kMaxRowBytes || uint32_t(b.bmWidthBytes) < rowBytes || b.bmWidthBytes <= 0) return false;
    if (im.pageOpen && uint32_t(b.bmWidth) != im.width) return false;
    return b.bmHeight == 0 || b.bmBits != nullptr;
}

int32_t add_rows(Image& im, const AwdBand& band) {
    if (!im.pageOpen && !start_page(im, band)) return kFailed;
    if (uint32_t(band.bmHeight) > kMaxRows - im.rows) return kFailed;
    const auto* bits = static_cast<const uint8_t*>(band.bmBits);
    for (int32_t r = 0; r < band.bmHeight; ++r) {
        // libtiff may change the row it is given; the caller's stays as it is.
        std::memcpy(im.row.data(), bits + size_t(r) * uint32_t(band.bmWidthBytes), im.rowBytes);
        if (TIFFWriteScanline(im.tif, im.row.data(), im.rows, 0) != 1) return kFailed;
        ++im.rows;
    }
    return kOk;
}

}  // namespace

AWE_EXPORT void* ImageCreate(const char* path, const ImageParams* params) {
    if (!path || !params || fault_hit("ImageCreate")) return nullptr;
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (fd < 0) return nullptr;
    auto* im = new (std::nothrow) Image;
    TIFFOpenOptions* options = im ? TIFFOpenOptionsAlloc() : nullptr;
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
        // libtiff owns the descriptor from here and closes it with the file.
        im->tif = TIFFFdOpenExt(fd, path, "w", options);
        TIFFOpenOptionsFree(options);
    }
    if (!im || !im->tif) {
        close(fd);
        unlink(path);
        delete im;
        return nullptr;
    }
    im->xRes = params->imgXRes;
    im->yRes = params->imgYRes;
    return im;
}

AWE_EXPORT int32_t ImageSetBand(void* image, const AwdBand* band) {
    auto* im = static_cast<Image*>(image);
    if (!im || !band || im->failed || !band_valid(*im, *band) || fault_hit("ImageSetBand")) return kFailed;
    try {
        if (band->bmHeight == 0) {
            // The end of a page: it must have rows.
            if (!im->pageOpen || !end_page(*im)) return kFailed;
            return kOk;
        }
        if (add_rows(*im, *band) == kOk) return kOk;
    } catch (const std::bad_alloc&) {
    }
    // libtiff's file is in an unknown state: nothing more goes into it.
    im->failed = true;
    return kFailed;
}

AWE_EXPORT int32_t ImageClose(void* image) {
    auto* im = static_cast<Image*>(image);
    if (!im) return kFailed;
    bool ok = !im->failed && !fault_hit("ImageClose");
    if (ok && im->pageOpen) ok = end_page(*im);
    ok = ok && im->pages > 0;
    TIFFClose(im->tif);
    delete im;
    return ok ? kOk : kFailed;
}

AWE_EXPORT void* AWDCreate(const char* path, uint32_t) {
    if (!path || fault_hit("AWDCreate")) return nullptr;
    return awd_skeleton_create(path);
}

AWE_EXPORT int32_t AWDAddImage(void* awd, const char* imagePath) {
    if (!awd || !imagePath || fault_hit("AWDAddImage")) return kFailed;
    return awd_skeleton_add_image(awd, imagePath) ? kOk : kFailed;
}

AWE_EXPORT int32_t AWDClose(void* awd) {
    if (!awd) return kFailed;
    awd_skeleton_close(awd);
    return kOk;
}

// Test control: the call of entryPoint that comes after afterCalls further
// calls fails. An empty name disarms.
AWE_EXPORT void AWDSTUBfail(const char* entryPoint, uint32_t afterCalls) {
    stub_fault_arm(entryPoint, afterCalls);
}
