// The state of one directory's decoding, shared by the decoder's parts:
// the tag handlers (tiff_decode.cpp), the strip rules
// (tiff_decode_strips.cpp) and the old-style JPEG repair
// (tiff_decode_jpeg.cpp).
#pragma once

#include <cerrno>
#include <cstdint>

#include "formats/tiff/tiff.h"

// Mask bits of the required tags still missing.
constexpr uint32_t kNeedWidth = 1, kNeedLength = 2, kNeedOffsets = 4, kNeedCounts = 8;

// JPEG refusals without a code of their own.
constexpr int kErrJpeg = TAV_E_COMPRESSION;

struct Decode {
    FctEntry* e;
    TiffState* ts;
    uint16_t order;
    const TiffDir* dir;
    PageInfo* info;
    PageSizes* sizes;
    int64_t fileEnd;
    uint32_t base;
    uint32_t need = kNeedWidth | kNeedLength | kNeedOffsets | kNeedCounts;
    uint32_t offsetsCount = 0;
    uint32_t countsCount = 0;
    bool offsetsSeen = false;
    bool countsSeen = false;
    bool interchangeSeen = false;
    bool stripsComputed = false;
    bool sawProc = false;          // JPEGProc met
    JpegInfo* jpeg = nullptr;      // the page's JpegInfo while decoding
    JpegInfo* recycled = nullptr;  // the block handed over by page_get_info
};

inline int fail(int code) {
    errno = code;
    return -1;
}

// errno after a failed read, or the given code when the read set none.
inline int fail_read(int code) {
    if (errno == 0) errno = code;
    return -1;
}

// True when `bytes` bytes at file offset `pos` lie inside the file.
inline bool in_file(const Decode& d, uint64_t pos, uint64_t bytes) {
    return d.fileEnd >= 0 && pos <= uint64_t(d.fileEnd) && bytes <= uint64_t(d.fileEnd) - pos;
}

// ---- strip rules (tiff_decode_strips.cpp) ----
int sum_strips(Decode& d);
int compute_strips(Decode& d);
int single_strip(Decode& d);
int move_first_strip(Decode& d, uint32_t s);
int load_offsets(Decode& d, const TiffDirEntry& t);
int load_counts(Decode& d, const TiffDirEntry& t);
int synthesise_counts(Decode& d);

// ---- old-style JPEG (tiff_decode_jpeg.cpp) ----
// The page's JpegInfo, made on first use; null with errno TAV_ENOMEM.
JpegInfo* jpeg_get(Decode& d);
// The marker scan from the interchange offset (tag 513).
int marker_scan(Decode& d);
// The header read of n bytes (tag 513 without 514, or tag 514).
int header_read(Decode& d, uint32_t n);

// ---- strip lists (tiff_strip_lists.cpp) ----
// Makes *list a list of `count` elements of `type`, reusing its blocks.
int list_prepare(StripList** list, uint16_t type, uint32_t count);
// tiff_load_strip_list with the file's end already known.
int load_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase, int64_t end);
