// PCX files: one PCX image from offset 0, whose run-length data is
// delivered as stored from offset 128; writing puts the header at offset 0
// and codes the caller's rows behind it.
#include "formats/pcx/pcx_format.h"

#include <algorithm>
#include <array>

#include "fileio/fio.h"
#include "formats/common/format_io.h"
#include "formats/common/pcx_image.h"
#include "formats/common/pcx_image_write.h"

namespace {

constexpr std::array<uint8_t, 4> kPcxVersions = {0, 2, 3, 5};

// The PCX format view: u16 palette bytes; palette offset; u16 data offset
// and u16 planes; u16 row bytes of all planes.
void put_view(PageInfo& c, const PcxPage& p) {
    c.compressionInfo.value = 0;
    c.maxStripSize = view_halves(p.paletteBytes, 0);
    c.stripCount = p.paletteOffset;
    c.rowsPerStrip = view_halves(p.dataOffset, p.planes);
    view_set_flag_bytes(c, {uint8_t(p.lineBytes), uint8_t(p.lineBytes >> 8), 0, 0});
}

PcxPage view_of(const PageInfo& c) {
    PcxPage p;
    p.paletteBytes = view_low(c.maxStripSize);
    p.paletteOffset = c.stripCount;
    p.dataOffset = view_low(c.rowsPerStrip);
    p.planes = view_high(c.rowsPerStrip);
    auto b = view_flag_bytes(c);
    p.lineBytes = uint32_t(b[0]) | uint32_t(b[1]) << 8;
    return p;
}

int pcx_page_info(FctEntry* e, uint32_t, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    PcxPage p;
    if (pcx_image_read(e, {0, uint32_t(length)}, c, &p, sizes) < 0) return -1;
    put_view(c, p);
    return 0;
}

uint32_t pcx_data_offset(const PageInfo& view) { return view_of(view).dataOffset; }

int pcx_page_data(FctEntry* e, PageInfo* info) { return pcx_image_palette(e, info, view_of(e->pageInfo)); }

// A PCX handle that writes: its writer.
struct PcxState {
    PcxWriter writer;
};

int pcx_create(FctEntry* e, const FormatRequest&) { return format_new_state<PcxState>(e) ? 0 : -1; }

void pcx_release(FctEntry* e) {
    if (e->formatState) format_end_state<PcxState>(e);
}

// A page that broke leaves nothing: the file's one page is gone.
int pcx_finish(FctEntry* e) {
    if (!e->formatState) return 0;
    return pcx_image_drop_broken(e, format_state<PcxState>(e).writer, 0);
}

// The file's one page: its header at offset 0, its data from offset 128.
// A file opened for update already holds its page (TAV_E_WRITTEN).
int pcx_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions*) {
    if (e->pageCount > 0 || !e->formatState) return format_fail(TAV_E_WRITTEN);
    if (page != 0) return format_fail(TAV_E_PAGE);
    if (pcx_image_put_header(e, info, 0, format_state<PcxState>(e).writer) < 0) return -1;
    info->rowsPerStrip = view_halves(kPcxHeaderSize, view_high(info->rowsPerStrip));
    e->pageCount = 1;
    e->curPage = page;
    return 0;
}

int32_t pcx_page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag) {
    return pcx_image_write_rows(e, page, {static_cast<const uint8_t*>(buffer), count}, flag,
                          format_state<PcxState>(e).writer);
}

}  // namespace

Probe pcx_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    bool known = std::find(kPcxVersions.begin(), kPcxVersions.end(), b[kPcxVersionAt]) != kPcxVersions.end();
    return b[0] == kPcxMarker && known && b[kPcxCodingAt] == kPcxRunLength ? kProbeYes : kProbeNo;
}

const FormatOps kPcxFormat = {
    .fileType = FILETYPE_PCX, .traits = 0,
    .detectOrder = 50, .probe = pcx_probe, .can_create = format_creatable,
    .open = format_single_page, .create = pcx_create, .finish = pcx_finish, .release = pcx_release,
    .page_info = pcx_page_info, .page_read = format_read_view_data,
    .data_offset = pcx_data_offset, .page_data = pcx_page_data,
    .put_info = pcx_put_info, .page_write = pcx_page_write,
};
