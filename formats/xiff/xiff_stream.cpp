// The byte-stream object over a descriptor of the file layer.
#include "formats/xiff/xiff_stream.h"

#include "fileio/fio.h"
#include "fileio/mem.h"

namespace {

XiffStreamObject* self_of(XiffStream* s) { return static_cast<XiffStreamObject*>(s); }

int32_t stream_read(XiffStream* s, void* buffer, uint32_t count) {
    return fio_read(self_of(s)->fd, buffer, count);
}

int32_t stream_write(XiffStream*, const void*, uint32_t) { return -1; }

int32_t stream_seek(XiffStream* s, int32_t offset) {
    return fio_lseek(self_of(s)->fd, offset, kFioSeekSet);
}

// The length, found by seeking to the start and then to the end; the
// position is put back.
int32_t stream_size(XiffStream* s) {
    int fd = self_of(s)->fd;
    int32_t here = fio_lseek(fd, 0, kFioSeekCur);
    if (here < 0 || fio_lseek(fd, 0, kFioSeekSet) < 0) return -1;
    int32_t end = fio_length(fd);
    if (fio_lseek(fd, here, kFioSeekSet) < 0) return -1;
    return end;
}

void stream_destroy(XiffStream* s, uint32_t flags) {
    if (flags & kXiffFreeObject) mem_delete(self_of(s));
}

constexpr XiffStreamOps kStreamOps = {
    .read = stream_read,
    .write = stream_write,
    .seek = stream_seek,
    .size = stream_size,
    .destroy = stream_destroy,
};

}  // namespace

XiffStreamObject* xiff_stream_new(int fd) {
    auto* s = mem_new<XiffStreamObject>();
    if (!s) return nullptr;
    s->ops = &kStreamOps;
    s->fd = fd;
    return s;
}

void xiff_stream_end(XiffStreamObject* stream) {
    if (stream) stream->ops->destroy(stream, kXiffFreeObject);
}
