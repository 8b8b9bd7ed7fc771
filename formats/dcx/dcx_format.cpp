// DCX files: the page table behind the mark is read at open and written
// (empty) at create; each page is a PCX image, read by the PCX reader
// between its table entry and the next one (the file's end for the last
// page). A page written is appended at the end of the file, a PCX image,
// and its table entry set; a file opened for update takes more pages the
// same way (an abort puts the entries back, with the file's length).
//
// Behaviour:
//  - A page whose table entry lies beyond the file or inside the mark and
//    the entries the table lists (up to its closing 0), or whose next entry
//    comes before the end of its 128-byte header (entries out of order), is
//    refused with TAV_E_TRUNCATED; the other pages stay readable. Files of other
//    programs may keep the table short and start page 1 right behind its 0.
//  - An append writes its table slot (the entry and the 0 behind it) only
//    when no listed page's bytes lie there, as a hostile file's page inside
//    the table could (TAV_E_TRUNCATED before anything is written); its header goes to
//    the end of the file, or behind the table when the file ends before it.
//  - Pages are written in order, each once: a page that has its entry
//    already is refused (TAV_E_WRITTEN), one beyond the next (TAV_E_PAGE), and one beyond
//    the table's 1024 entries (TAV_E_SIZE).
//  - The page's header is written before its table entry, so that a
//    failure leaves no entry pointing beyond the file; the entry after the
//    new one is written 0 with it.
//  - A page whose data did not all reach the file (a write failed, or was
//    refused at the length limit) blocks further pages with its code; close
//    drops it: its entry becomes 0 again and the file ends where the page
//    began.
#include "formats/dcx/dcx_format.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/common/format_io.h"
#include "formats/common/pcx_image.h"
#include "formats/common/pcx_image_write.h"
#include "frame/fct.h"

namespace {

constexpr uint32_t kDcxMagic = 0x3ADE68B1u;  // 987654321
constexpr uint32_t kDcxMaxPages = 1024;
constexpr uint32_t kDcxTableOffset = 4;
constexpr uint32_t kDcxTableSize = 4 * kDcxMaxPages;
constexpr uint32_t kDcxHeaderSize = kDcxTableOffset + kDcxTableSize;

// A DCX handle's own state: the file offset of each page, and the writer
// of the page being written.
struct DcxState {
    uint32_t* pageOffsets;  // pageCount entries, from the memory table
    PcxWriter writer;
};

constexpr uint32_t table_entry_at(uint32_t page) { return kDcxTableOffset + 4 * page; }
// Where the listed table ends: behind the 0 that closes a table of `pages`
// entries (a full table has no closing 0).
constexpr uint32_t listed_table_end(uint32_t pages) {
    return table_entry_at(pages < kDcxMaxPages ? pages + 1 : kDcxMaxPages);
}

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

// The DCX format view: the page's data offset; u16 palette bytes; palette
// offset; u16 0 and u16 planes; u16 row bytes of all planes.
void put_view(PageInfo& c, const PcxPage& p) {
    c.compressionInfo.value = p.dataOffset;
    c.maxStripSize = view_halves(p.paletteBytes, 0);
    c.stripCount = p.paletteOffset;
    c.rowsPerStrip = view_halves(0, p.planes);
    view_set_flag_bytes(c, {uint8_t(p.lineBytes), uint8_t(p.lineBytes >> 8), 0, 0});
}

PcxPage view_of(const PageInfo& c) {
    PcxPage p;
    p.dataOffset = c.compressionInfo.value;
    p.paletteBytes = view_low(c.maxStripSize);
    p.paletteOffset = c.stripCount;
    p.planes = view_high(c.rowsPerStrip);
    auto b = view_flag_bytes(c);
    p.lineBytes = uint32_t(b[0]) | uint32_t(b[1]) << 8;
    return p;
}

int dcx_page_info(FctEntry* e, uint32_t page, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    const uint32_t* offsets = format_state<DcxState>(e).pageOffsets;
    const uint32_t start = offsets[page];
    const uint32_t end = page + 1 < e->pageCount ? offsets[page + 1] : uint32_t(length);
    if (start < listed_table_end(e->pageCount) || end > length || uint64_t(start) + kPcxHeaderSize > end)
        return format_fail(TAV_E_TRUNCATED);
    PcxPage p;
    if (pcx_image_read(e, {start, end}, c, &p, sizes) < 0) return -1;
    put_view(c, p);
    return 0;
}

uint32_t dcx_data_offset(const PageInfo& view) { return view_of(view).dataOffset; }

int dcx_page_data(FctEntry* e, PageInfo* info) { return pcx_image_palette(e, info, view_of(e->pageInfo)); }

// Whether the file bytes [from, to) hold part of a listed page: its header,
// or its data up to the next entry (the file's end for the last page).
bool bytes_of_a_page(const FctEntry* e, uint32_t from, uint32_t to, uint32_t length) {
    const uint32_t* offsets = format_state<DcxState>(e).pageOffsets;
    for (uint32_t i = 0; i < e->pageCount; ++i) {
        const uint32_t start = offsets[i];
        const uint32_t next = i + 1u < e->pageCount ? offsets[i + 1] : length;
        const uint64_t end = std::max<uint64_t>(next, uint64_t(start) + kPcxHeaderSize);
        if (start < to && end > from) return true;
    }
    return false;
}

// A new page at the end of the file: its PCX header, then its table entry.
int dcx_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions*) {
    DcxState& s = format_state<DcxState>(e);
    if (s.writer.broken) return format_fail(s.writer.broken);
    if (page >= kDcxMaxPages) return format_fail(TAV_E_SIZE);
    if (page < e->pageCount) return format_fail(TAV_E_WRITTEN);
    if (page > e->pageCount) return format_fail(TAV_E_PAGE);
    auto* offsets = static_cast<uint32_t*>(s.pageOffsets ? mem_realloc(s.pageOffsets, (page + 1u) * 4)
                                                         : mem_calloc(page + 1u, 4));
    if (!offsets) return -1;
    s.pageOffsets = offsets;
    const int64_t end = fio_length(int(e->fd));
    if (end < 0) return -1;
    // The entry, and a 0 behind it: the table ends there already in a file
    // this library made, but an entry behind a file's first 0 must not
    // become a page.
    const uint32_t n = page + 1u < kDcxMaxPages ? 8 : 4;
    if (bytes_of_a_page(e, table_entry_at(page), table_entry_at(page) + n, uint32_t(end)))
        return format_fail(TAV_E_TRUNCATED);
    const uint32_t at = std::max(uint32_t(end), kDcxHeaderSize);
    if (pcx_image_put_header(e, info, at, s.writer) < 0) return -1;
    std::array<uint8_t, 8> entries{};
    put_le32(entries.data(), at);
    errno = 0;
    if (fio_write_at(int(e->fd), table_entry_at(page), entries.data(), n) < 0) return -1;
    offsets[page] = at;
    e->pageCount = uint16_t(page + 1);
    e->curPage = page;
    info->compressionInfo.value = at + kPcxHeaderSize;
    return 0;
}

int32_t dcx_page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    return pcx_image_write_rows(e, page, {static_cast<const uint8_t*>(buffer), count}, flag,
                          format_state<DcxState>(e).writer);
}

// A broken page (always the last one listed: it blocks further pages)
// leaves the table as it was before it, and the file ends where its header
// began.
int dcx_finish(FctEntry* e) {
    if (!e->formatState) return 0;
    const PcxWriter& w = format_state<DcxState>(e).writer;
    if (!w.broken || e->pageCount == 0) return 0;
    const uint8_t none[4] = {0, 0, 0, 0};
    errno = 0;
    if (fio_write_at(int(e->fd), table_entry_at(e->pageCount - 1u), none, 4) < 0) return -1;
    return pcx_image_drop_broken(e, w, w.headerAt);
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
    .fileType = FILETYPE_DCX, .traits = 0,
    .detectOrder = 40, .probe = dcx_probe, .can_create = format_creatable,
    .open = dcx_open, .create = dcx_create, .finish = dcx_finish, .release = dcx_release,
    .page_info = dcx_page_info, .page_read = format_read_view_data,
    .data_offset = dcx_data_offset, .page_data = dcx_page_data,
    .put_info = dcx_put_info, .page_write = dcx_page_write,
};
