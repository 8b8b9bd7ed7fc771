// Format detection: the file type of a document from its path (a document
// in storage of its own) or from its first 1024 bytes. Detection asks the
// rows of the format table in their detection order; the first probe that
// knows the file decides, and a file none knows is plain bytes.
#include "frame/detect.h"

#include <cerrno>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/lifecycle.h"
#include "qvtav.h"

namespace {

const FormatOps* detect_head(const FileHead& head) {
    for (const FormatOps* f : format_detection_order()) {
        switch (f->probe(head)) {
        case kProbeYes:
            return f;
        case kProbeRefused:
            errno = TAV_E_NOT_SUPPORTED;
            return nullptr;
        case kProbeNo:
            break;
        }
    }
    return format_plain_bytes();
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
        e->format = format_plain_bytes();
        return 0;
    }
    // Bytes past the end of a short file read as zeros: the probes see the
    // whole buffer, and the number of bytes the file gave.
    const FileHead head{{buf.get(), kDetectSize}, uint32_t(got)};
    e->detectWord = head.u16(0);
    e->format = detect_head(head);
    return e->format ? 0 : -1;
}

const FormatOps* tav_detect_storage(const char* path, uint32_t* status) {
    *status = 0;
    for (const FormatOps* f : format_rows()) {
        if (!f->probe_path) continue;
        uint32_t found = 0;
        *status = f->probe_path(path, &found);
        if (*status != 0) return nullptr;
        if (found) return f;
    }
    return nullptr;
}
