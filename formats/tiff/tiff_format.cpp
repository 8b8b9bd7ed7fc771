// The TIFF format: set-up at open and create, the end of a handle, and the
// row that ties the TIFF reader and writer to the frame.
#include "formats/tiff/tiff_format.h"

#include <cerrno>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "formats/common/tiff_head.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

int tiff_open(FctEntry* e, const FormatRequest&) {
    // The file's byte order is the mark detection read.
    e->byteOrder = e->detectWord;
    if (!format_new_state<TiffState>(e)) return -1;
    if (tiff_read_property_block(e) < 0) return -1;
    if (e->openFlags & TAV_OPEN_UPDATE) tiff_of(e).updateMode = kUpdateAppend;
    return tiff_setup_pages(e);
}

int tiff_create(FctEntry* e, const FormatRequest&) {
    if (!format_new_state<TiffState>(e)) return -1;
    return tiff_create_setup(e);
}

void tiff_release(FctEntry* e) {
    if (!e->formatState) return;
    KeepErrno keep;
    TiffState& ts = tiff_of(e);
    tiff_release_writer(e);
    tiff_release_reader(e);
    mem_free_field(ts.hdrBlock);
    ts.hdrBlockLen = 0;
    strip_list_free(ts.stripCounts);
    strip_list_free(ts.stripOffsets);
    strip_list_free(ts.storedCounts);
    format_end_state<TiffState>(e);
}

}  // namespace

Probe tiff_probe(const FileHead& head) { return tiff_head_matches(head) ? kProbeYes : kProbeNo; }

const FormatOps kTiffFormat = {
    .fileType = FILETYPE_TIFF, .traits = 0,
    .detectOrder = 30, .probe = tiff_probe, .can_create = format_creatable,
    .open = tiff_open, .create = tiff_create, .finish = tiff_close_finish,
    .release = tiff_release,
    .page_info = tiff_page_info, .page_read = tiff_read_strips, .page_data = tiff_page_data,
    .put_info = tiff_put_info, .page_write = tiff_write_strip,
    .strip_counts = tiff_strip_counts, .image_length = tiff_image_length,
    .index_window = tiff_index_window, .annotation_area = tiff_annotation_area,
    .move_page = tiff_move_page, .set_properties = tiff_set_properties, .rewrite = tiff_rewrite,
    .data_strips = format_data_as_given, .data_chunks = tiff_data_chunks,
};
