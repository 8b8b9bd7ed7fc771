// Format detection: the file type from the first 1024 bytes. The rules are
// tried in this order, and the first that matches decides; each asks the
// probe of its format, which knows the format's marks.
#include "frame/detect.h"

#include <cerrno>

#include "formats/awd/awd_format.h"
#include "formats/block/block_format.h"
#include "formats/xiff/xiff_format.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"
#include "qvtav.h"
#include "formats/bmp/bmp_format.h"
#include "formats/dcx/dcx_format.h"
#include "formats/gif/gif_format.h"
#include "formats/jpeg/jpeg_format.h"
#include "formats/pcx/pcx_format.h"
#include "formats/tga/tga_format.h"
#include "formats/tiff/tiff_format.h"

namespace {

// The rules after the container marks: a PCX, GIF or BMP candidate whose
// further bytes do not match goes on with the JPEG rule.
uint32_t detect_image(const FileHead& head) {
    if (pcx_probe(head) == kProbeYes) return FILETYPE_PCX;
    if (gif_probe(head) == kProbeYes) return FILETYPE_GIF;
    if (bmp_probe(head) == kProbeYes) return FILETYPE_BMP;
    if (jpeg_probe(head) == kProbeYes) return FILETYPE_JPEG;
    if (tga_probe(head) == kProbeYes) return FILETYPE_TGA;
    return FILETYPE_RAW;
}

int detect_head(FctEntry* e, const FileHead& head) {
    if (blk_probe(head) == kProbeYes) {
        e->fileType = FILETYPE_BLOCK;
        return 0;
    }
    if (uint16_t mark = tiff_probe(head)) {
        Probe xiff = xiff_probe(head);
        if (xiff == kProbeRefused) {
            errno = TAV_E_NOT_SUPPORTED;
            return -1;
        }
        e->fileType = xiff == kProbeYes ? FILETYPE_XIFF : FILETYPE_TIFF;
        if (xiff != kProbeYes) e->detectWord = mark;
        return 0;
    }
    if (dcx_probe(head) == kProbeYes) {
        e->fileType = FILETYPE_DCX;
        return 0;
    }
    e->fileType = detect_image(head);
    return 0;
}

}  // namespace

int tav_detect(FctEntry* e) {
    MemBlock<uint8_t> buf(kDetectSize, 1);
    if (!buf) {
        errno = TAV_ENOMEM;
        return -1;
    }
    int32_t got = fio_read_full(int(e->fd), buf.get(), kDetectSize);
    if (got < 0) return -1;
    if (got == 0) {
        e->fileType = FILETYPE_RAW;
        return 0;
    }
    // Bytes past the end of a short file read as zeros: the probes see the
    // whole buffer, and the number of bytes the file gave.
    return detect_head(e, FileHead{{buf.get(), kDetectSize}, uint32_t(got)});
}

const FormatOps* tav_detect_storage(const char* path, uint32_t* status) {
    uint32_t isAwd = 0;
    *status = awd_is_awd_file(path, &isAwd);
    if (*status != 0 || !isAwd) return nullptr;
    return format_of(FILETYPE_AWD);
}
