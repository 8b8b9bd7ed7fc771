// Bounded reads of a page's structures: exact reads that never go beyond
// the file's end.
#include <cerrno>

#include "fileio/fio.h"
#include "formats/tiff/read/page_internal.h"

int page_read_exact(FctEntry* e, uint32_t pos, void* buf, uint32_t n, int64_t fileEnd, int code) {
    if (n == 0) return 0;
    if (fileEnd < 0 || uint64_t(pos) > uint64_t(fileEnd) || n > uint64_t(fileEnd) - pos) {
        errno = code;
        return -1;
    }
    return fio_read_exact_at(int(e->fd), pos, buf, n, code);
}
