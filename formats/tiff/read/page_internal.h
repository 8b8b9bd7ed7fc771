// Helpers shared by the page information, page data and strip code
// (decoding, page information, page data): bounded reads, the text-tag slot table, strip lists
// and the JpegInfo block.
#pragma once

#include <cstdint>

#include "formats/tiff/tiff.h"
#include "frame/fct.h"
#include "qvtav.h"

// ---- the text-tag table held in FctEntry::textTagOffsets ----
//
// The decoder keeps 9 file offsets there. A text of four bytes or fewer stands
// inside its directory entry (TIFF 6.0) and has no file position, so the
// table is allocated with room for those texts too:
//   [0..8]   file offsets of the nine text tags (0: absent or inline)
//   [9..17]  the bytes of an inline text, in the file's order
//   [18]     bit k set: text tag k is inline
constexpr uint32_t kTextTagCount = 9;
constexpr uint32_t kTextInlineBase = 9;
constexpr uint32_t kTextInlineMask = 18;

// ---- the further tables of a page, held in FctEntry::extraOffsets ----
constexpr uint32_t kExtraCurve = 0;       // grey response curve, or transfer function
constexpr uint32_t kExtraColorMap = 1;
constexpr uint32_t kExtraWhitePoint = 2;
constexpr uint32_t kExtraPrimaries = 3;

// PageInfo.privateTagFlags bits: the annotation areas the page has.
constexpr uint8_t kAnnotation1Present = 0x01;  // tag 32932
constexpr uint8_t kAnnotation2Present = 0x02;  // tag 32931

// The offset added to every offset read from the directory (page index
// scheme), else 0.
inline uint32_t tiff_base(const FctEntry* e) { return tiff_of(e).hasPrivateIndex ? tiff_of(e).tiffBase : 0; }


// Reads exactly n bytes at the file offset pos (no base added) into buf.
// Refuses (-1) when [pos, pos + n) does not lie below fileEnd, and when the
// file delivers fewer bytes; errno is then the read's code, or `code` when
// the read set none.
int page_read_exact(FctEntry* e, uint32_t pos, void* buf, uint32_t n, int64_t fileEnd, int code);

// Sets one element of a strip list; a SHORT list whose new value does not
// fit 16 bits is widened to LONG first. 0, or -1 with errno TAV_ENOMEM.
int strip_list_set(StripList* list, uint32_t i, uint32_t v);
// Makes *dst a copy of src, reusing its blocks; 0, or -1 with errno TAV_ENOMEM.
int strip_list_copy_into(StripList** dst, const StripList* src);


// The number of strips the reader works with for the current TIFF page:
// stripCount of the page information, at least 1, at most the number of
// offsets and of byte counts held.
uint32_t tiff_strip_total(const FctEntry* e);

// Uncompressed size of strip i of n; -1 with errno TAV_E_ROWS_PER_STRIP when
// RowsPerStrip is 0 and there are several strips.
int64_t strip_size_estimate(const FctEntry* e, uint32_t i, uint32_t n);

// The TIFF case of page_read; page is 0-based, or the strip in
// by-strip mode. Bytes delivered, or -1 with errno.
int tiff_read_strips(FctEntry* e, void* buffer, uint32_t start, uint32_t length,
                     uint32_t* remaining, uint32_t page);
