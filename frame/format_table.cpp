// The format table: the row of each file type, the one place that names
// every format; the order in which detection asks them; and the operations
// shared by formats that accept a call and have nothing to do.
#include "frame/format.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "formats/awd/awd_format.h"
#include "formats/block/block_format.h"
#include "formats/bmp/bmp_format.h"
#include "formats/dcx/dcx_format.h"
#include "formats/gif/gif_format.h"
#include "formats/jpeg/jpeg_format.h"
#include "formats/pcx/pcx_format.h"
#include "formats/raw/raw_format.h"
#include "formats/reserved/reserved_format.h"
#include "formats/tga/tga_format.h"
#include "formats/tiff/tiff_format.h"
#include "formats/xiff/xiff_format.h"
#include "frame/fct.h"

namespace {

// One row per file type code, in code order (row i has code i + 1).
const FormatOps* const kFormats[] = {
    &kRawFormat,   &kBlockFormat, &kTiffFormat, &kReserved4Format, &kReserved5Format,
    &kGifFormat,   &kPcxFormat,   &kBmpFormat,  &kDcxFormat,       &kTgaFormat,
    &kJpegFormat,  &kAwdFormat,   &kXiffFormat,
};

// The row of an entry without a file (a failed open or create whose error
// has not been fetched): it supports nothing.
constexpr FormatOps kNoFormat = {.fileType = 0};

constexpr size_t kFormatCount = std::size(kFormats);

// The rows with a probe of the first bytes, by detection order.
struct DetectionOrder {
    std::array<const FormatOps*, kFormatCount> rows{};
    size_t count = 0;

    DetectionOrder() {
        for (const FormatOps* f : kFormats)
            if (f->probe) rows[count++] = f;
        auto earlier = [](const FormatOps* a, const FormatOps* b) { return a->detectOrder < b->detectOrder; };
        std::stable_sort(rows.begin(), rows.begin() + count, earlier);
    }
};

}  // namespace

const FormatOps& fct_format(const FctEntry* e) { return e->format ? *e->format : kNoFormat; }

const FormatOps* format_of(uint32_t fileType) {
    if (fileType < 1 || fileType > std::size(kFormats)) return nullptr;
    return kFormats[fileType - 1];
}

void format_unload_all() {
    for (const FormatOps* f : kFormats)
        if (f->unload) f->unload();
}

std::span<const FormatOps* const> format_rows() { return kFormats; }

std::span<const FormatOps* const> format_detection_order() {
    static const DetectionOrder order;
    return {order.rows.data(), order.count};
}

const FormatOps* format_plain_bytes() {
    for (const FormatOps* f : kFormats)
        if (f->traits & kTraitByteStream) return f;
    return nullptr;
}

const FormatOps* format_announced(uint32_t fileType) {
    const FormatOps* f = format_of(fileType);
    return f && f->data_strips && f->data_chunks ? f : nullptr;
}

int format_data_as_given(PageInfo*, const PutOptions&) { return 0; }

int format_data_as_given(PageInfo*, const PutOptions&, uint32_t) { return 0; }

int format_nothing_info(FctEntry*, uint32_t, PageInfo&, const PageInfo&, PageSizes*) { return 0; }

int format_nothing_read(FctEntry*, uint8_t*, uint32_t, uint32_t, uint32_t* remaining, uint32_t) {
    *remaining = 0;
    return 0;
}

int format_nothing_data(FctEntry*, PageInfo*) { return 0; }

int format_nothing_put(FctEntry*, uint16_t, PageInfo*, const PutOptions*) { return 0; }

int32_t format_nothing_write(FctEntry*, const void*, uint32_t, uint16_t, uint8_t) { return 0; }

int format_single_page(FctEntry* e, const FormatRequest&) {
    e->pageCount = 1;
    return 0;
}

bool format_creatable(bool) { return true; }
