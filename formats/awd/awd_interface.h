// What the library and the two AWD libraries it loads at run time exchange:
// the viewer (libawview32.so), which decodes the pages of a document stream
// band by band, and the encoder (libawdenc32.so), which writes pages into an
// image file and makes new AWD files. The records are plain C structs and
// every entry point uses the C calling convention, so nothing here depends
// on a C++ compiler's object model.
#pragma once

#include <cstdint>

#include "storage/stg_api.h"

constexpr char kAwdViewerLibrary[] = "libawview32.so";
constexpr char kAwdEncoderLibrary[] = "libawdenc32.so";

extern "C" {

// One band of rows (the platform's bitmap record): bmWidth pixels per row,
// bmHeight rows (0: the page has no more rows), bmWidthBytes bytes per row,
// the rows one after the other at bmBits. Bilevel: bit 1 is black, the
// first pixel in the high bit.
struct AwdBand {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
    void* bmBits;
};

// What the viewer tells of a document: its page count, and the resolution
// in dots per inch and the line count of the selected page. ViewerOpen
// fills the record for the first page and keeps it until ViewerClose: every
// ViewerSetPage brings it up to date for the page selected, so the record
// must live as long as the viewer. A page is delivered with its own lines,
// the last band padded with white rows.
struct ViewerDocInfo {
    uint16_t docPages;
    uint16_t docXRes;
    uint16_t docYRes;
    uint16_t docLines;
};

// The page parameters of ImageCreate: two fixed words, then the page's
// resolution in dots per inch.
struct ImageParams {
    uint32_t kind;
    uint32_t lineUnit;
    uint16_t imgXRes;
    uint16_t imgYRes;
};
constexpr uint32_t kImageParamsKind = 16;
constexpr uint32_t kImageParamsLineUnit = 1024;
// The second argument of ViewerOpen.
constexpr uint32_t kViewerOpenKind = 16;

// Viewer. A handle is nonzero; the functions returning int32_t give nonzero
// for success. ViewerOpen settles the band size: *bandBytes comes back as
// the whole rows that fit it (one row at least).
using ViewerOpenFn = void* (*)(StgStream* stream, uint32_t kind, uint32_t* unused,
                               uint16_t* bandBytes, ViewerDocInfo* info);
using ViewerSetPageFn = int32_t (*)(void* viewer, uint32_t page);
using ViewerGetBandFn = int32_t (*)(void* viewer, AwdBand* band);
using ViewerCloseFn = int32_t (*)(void* viewer);

// Encoder. ImageCreate makes the image file at path (it must not exist);
// ImageSetBand adds rows to the page under way, and a band of 0 rows ends
// that page (the next band starts a new one); ImageClose finishes the file.
// AWDCreate makes a new, empty AWD file (the path must not exist),
// AWDAddImage adds an image file to it as a new document, AWDClose ends it.
using ImageCreateFn = void* (*)(const char* path, const ImageParams* params);
using ImageSetBandFn = int32_t (*)(void* image, const AwdBand* band);
using ImageCloseFn = int32_t (*)(void* image);
using AwdCreateFn = void* (*)(const char* path, uint32_t flags);
using AwdAddImageFn = int32_t (*)(void* awd, const char* imagePath);
using AwdCloseFn = int32_t (*)(void* awd);

}  // extern "C"
