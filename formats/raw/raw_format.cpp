// Raw data: the file's bytes as they stand, with no pages. The page calls
// skip their page checks and come straight here: page information is
// refused (TAV_E_RAW_FILE), reads and writes work on the file's bytes.
#include <cerrno>

#include "fileio/fio.h"
#include "formats/raw/raw_format.h"
#include "frame/fct.h"
#include "frame/format.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

// No page information: the file is rewound, the stored size is the raw size,
// and the call fails with TAV_E_RAW_FILE.
int raw_page_info(FctEntry* e, uint32_t, PageInfo& copy, const PageInfo&, PageSizes* sizes) {
    int32_t r = fio_seek_to(int(e->fd), 0);
    if (r < 0) {
        sizes->dataBytes = sizes->rawBytes = uint32_t(r);
        return fail(errno_or(TAV_EIO));
    }
    sizes->rawBytes = sizes->dataBytes;
    copy.fileType = e->fileType;
    return fail(TAV_E_RAW_FILE);
}

int raw_put_info(FctEntry*, uint16_t, PageInfo*, const PutOptions*) {
    return fail(TAV_E_RAW_FILE);
}

// length bytes at start, and how many bytes the file holds behind them.
int raw_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
             uint32_t* remaining, uint32_t) {
    const int fd = int(e->fd);
    const int32_t end = fio_length(fd);
    if (end < 0) return -1;
    errno = 0;
    if (fio_seek_to(fd, start) != int32_t(start)) {
        if (errno == 0 || start > kFioMaxOffset) errno = TAV_E_OFFSET;
        return -1;
    }
    uint32_t got = 0;
    while (got < length) {
        int32_t r = fio_read(fd, buffer + got, length - got);
        if (r < 0) return fail(errno_or(TAV_E_COUNT));
        if (r == 0) break;
        got += uint32_t(r);
    }
    if (got < length) return fail(TAV_E_COUNT);
    uint64_t used = uint64_t(start) + got;
    *remaining = used >= uint64_t(end) ? 0 : uint32_t(uint64_t(end) - used);
    return int(got);
}

// The bytes at the current position, all of them or a failure.
int32_t raw_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t, uint8_t) {
    int32_t w = fio_write(int(e->fd), buffer, count);
    if (w < 0 || uint32_t(w) != count) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    return w;
}

}  // namespace

const FormatOps kRawFormat = {
    .fileType = FILETYPE_RAW, .traits = kTraitByteStream,
    .can_create = format_creatable, .page_info = raw_page_info, .page_read = raw_read,
    .page_data = format_nothing_data, .put_info = raw_put_info, .page_write = raw_write,
    .data_strips = format_data_as_given, .data_chunks = format_data_as_given,
};
