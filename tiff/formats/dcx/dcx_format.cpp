// DCX files: the page table behind the mark is read at open and written
// (empty) at create. Reading and writing the PCX pages is not built yet
// (293).
#include "tiff/formats/dcx/dcx_format.h"

#include <cerrno>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"

namespace {

constexpr uint32_t kDcxMagic = 0x3ADE68B1u;  // 987654321
constexpr uint32_t kDcxMaxPages = 1024;
constexpr uint32_t kDcxTableOffset = 4;
constexpr uint32_t kDcxTableSize = 4 * kDcxMaxPages;
constexpr uint32_t kDcxHeaderSize = kDcxTableOffset + kDcxTableSize;

// A DCX handle's own state: the file offset of each page.
struct DcxState {
    uint32_t* pageOffsets;  // pageCount entries, from the memory table
};

// The page offsets up to the first 0, at most 1024 of them.
int dcx_open(FctEntry* e, const FormatRequest&) {
    MemBlock<uint8_t> table(kDcxTableSize, 1);
    if (!format_new_state<DcxState>(e) || !table) return -1;
    // The buffer is zero-filled past what the file holds, so the count never
    // exceeds the file.
    if (fio_read_full_at(int(e->fd), kDcxTableOffset, table.get(), kDcxTableSize) < 0) return -1;
    uint32_t pages = 0;
    while (pages < kDcxMaxPages && get_le32(table.get() + 4 * pages) != 0) ++pages;
    e->pageCount = uint16_t(pages);
    if (pages == 0) return 0;
    auto* offsets = static_cast<uint32_t*>(mem_calloc(pages, 4));
    if (!offsets) return -1;
    for (uint32_t i = 0; i < pages; ++i) offsets[i] = get_le32(table.get() + 4 * i);
    format_state<DcxState>(e).pageOffsets = offsets;
    return 0;
}

// A new file: the mark and an empty page table.
int dcx_create(FctEntry* e, const FormatRequest&) {
    MemBlock<uint8_t> header(kDcxHeaderSize, 1);
    if (!format_new_state<DcxState>(e) || !header) return -1;
    put_le32(header.get(), kDcxMagic);
    return fio_write_at(int(e->fd), 0, header.get(), kDcxHeaderSize);
}

void dcx_release(FctEntry* e) {
    if (!e->formatState) return;
    mem_free_field(format_state<DcxState>(e).pageOffsets);
    format_end_state<DcxState>(e);
}

}  // namespace

Probe dcx_probe(const FileHead& head) {
    return head.u32(0) == kDcxMagic && head.fileBytes > kDcxTableOffset ? kProbeYes : kProbeNo;
}

const FormatOps kDcxFormat = {
    .fileType = FILETYPE_DCX, .name = "DCX", .traits = 0, .can_create = format_creatable,
    .open = dcx_open, .create = dcx_create, .release = dcx_release,
};
