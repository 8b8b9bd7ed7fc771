// Remote descriptors: the call pattern of the remote-access library and the
// buffering that lets field-by-field parsing of a remote file cost almost no
// server requests.
//
// Each remote descriptor keeps a logical position (pos) apart from the
// server's (serverPos), a read-ahead buffer and a write-behind buffer. The
// pending write bytes always belong at serverPos; the read buffer always
// holds the file's current bytes, including bytes written since through this
// descriptor.
//
// A read that continues the previous one fetches a whole buffer ahead; any
// other read fetches a small window, and large reads go straight into the
// caller's buffer in whole-buffer pieces.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "fileio/fio_internal.h"
#include "platform/plat_memory.h"

namespace {

// The entry point, or null with errno TAV_E_NO_REMOTE.
template <typename Fn>
Fn need(Fn fn) {
    if (!fn) errno = TAV_E_NO_REMOTE;
    return fn;
}

// send: writes n bytes at serverPos.
int32_t send(FileLocation* r, const void* buf, uint32_t n) {
    const RpcEntries* e = fio_rpc();
    if (!e || !need(e->write)) return -1;
    uint32_t flag = 0;
    int32_t res = e->write(r->connection, &r->remoteId, r->result, buf, n, &flag);
    if (fio_rpc_result(res, flag) != 0) return -1;
    r->serverPos += n;
    r->size = std::max(r->size, r->serverPos);
    return int32_t(n);
}

// fetch: reads up to n bytes at serverPos.
int32_t fetch(FileLocation* r, void* buf, uint32_t n) {
    const RpcEntries* e = fio_rpc();
    if (!e || !need(e->read)) return -1;
    uint32_t flag = 0;
    uint32_t got = 0;
    int32_t res = e->read(r->connection, &r->remoteId, r->result, n, buf, &got, &flag);
    if (fio_rpc_result(res, flag) != 0) return -1;
    got = std::min(got, n);
    r->serverPos += got;
    return int32_t(got);
}

// move: sets the server's position.
int move(FileLocation* r, int32_t offset, uint32_t origin) {
    const RpcEntries* e = fio_rpc();
    if (!e || !need(e->setpos)) return -1;
    uint32_t flag = 0;
    int32_t res = e->setpos(r->connection, &r->remoteId, r->result, offset, origin, &flag);
    if (fio_rpc_result(res, flag) != 0) return -1;
    int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(r->serverPos) : int64_t(r->size);
    int64_t np = std::max<int64_t>(0, base + offset);
    r->serverPos = uint32_t(std::min<int64_t>(np, UINT32_MAX));
    r->size = std::max(r->size, r->serverPos);
    return 0;
}

}  // namespace

const RpcEntries* fio_rpc() { return plat_remote_bind(); }

int fio_rpc_result(int32_t result, uint32_t flag, int (*translate)(int32_t)) {
    if (result > 0) {
        errno = translate ? translate(result) : int(result);
        return -1;
    }
    if (flag || result < 0) {
        errno = TAV_E_TRANSPORT;
        return -1;
    }
    return 0;
}

int fio_rpc_stat(const FileLocation* loc, const char* path, uint32_t out[3]) {
    const RpcEntries* e = fio_rpc();
    if (!e || !need(e->statobject)) return -1;
    uint32_t flag = 0;
    out[0] = out[1] = out[2] = 0;
    int32_t res =
        e->statobject(loc->connection, loc->server, path, 0, &out[0], &out[1], &out[2], &flag);
    return fio_rpc_result(res, flag);
}

bool remote_setup_buffers(FileLocation* rec) {
    rec->readBuf = static_cast<uint8_t*>(plat_alloc(kRemoteBufSize));
    rec->writeBuf = static_cast<uint8_t*>(plat_alloc(kRemoteBufSize));
    if (!rec->readBuf || !rec->writeBuf) {
        remote_free_buffers(rec);
        errno = TAV_ENOMEM;
        return false;
    }
    rec->serverPos = 0;
    rec->pos = 0;
    rec->readBufStart = -1;
    rec->readBufLen = 0;
    rec->writeBufLen = 0;
    return true;
}

void remote_free_buffers(FileLocation* rec) {
    plat_free(rec->readBuf);
    plat_free(rec->writeBuf);
    rec->readBuf = nullptr;
    rec->writeBuf = nullptr;
    rec->readBufLen = 0;
    rec->writeBufLen = 0;
}

int32_t remote_flush(FileLocation* r) {
    if (r->writeBufLen == 0) return 0;
    int32_t n = send(r, r->writeBuf, r->writeBufLen);
    if (n < 0) return n;  // the bytes stay pending
    r->writeBufLen = 0;
    return n;
}

int32_t remote_lseek(FileLocation* r, int32_t offset, int origin) {
    int64_t np;
    switch (origin) {
    case kFioSeekSet: np = offset; break;
    case kFioSeekCur: np = int64_t(r->pos) + offset; break;
    case kFioSeekEnd:
        np = std::max<int64_t>(int64_t(r->serverPos) + r->writeBufLen, r->size) + offset;
        break;
    default: errno = TAV_EINVAL; return -1;
    }
    np = std::max<int64_t>(0, np);
    if (np > INT32_MAX) {
        errno = TAV_E_SEEK;
        return -1;
    }
    r->pos = uint32_t(np);
    return int32_t(np);
}

int32_t remote_read(FileLocation* r, void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) {
        errno = TAV_EINVAL;
        return -1;
    }
    uint8_t* out = static_cast<uint8_t*>(buf);
    int32_t delivered = 0;
    for (;;) {
        // Pending writes go out first, so the size and the server's bytes
        // are current.
        if (r->writeBufLen > 0 && remote_flush(r) < 0) return -1;
        int64_t avail = int64_t(r->size) - int64_t(r->pos);
        uint32_t n = avail <= 0 ? 0 : uint32_t(std::min<int64_t>(count, avail));
        if (n == 0) return delivered;

        if (r->readBufLen > 0) {
            int64_t bs = r->readBufStart;
            int64_t be = bs + r->readBufLen;
            if (int64_t(r->pos) >= bs && int64_t(r->pos) < be) {
                uint32_t k = uint32_t(std::min<int64_t>(n, be - r->pos));
                std::memcpy(out, r->readBuf + (r->pos - bs), k);
                out += k;
                r->pos += k;
                delivered += int32_t(k);
                count = n - k;
                continue;
            }
            // Outside the buffer: it is emptied; its end is remembered, so a
            // read that continues it still counts as sequential.
            r->readBufStart += int32_t(r->readBufLen);
            r->readBufLen = 0;
            continue;
        }

        // Empty buffer: a read that continues the previous one reads ahead a
        // whole buffer, any other a small window.
        bool sequential = int64_t(r->readBufStart) == int64_t(r->pos);
        uint32_t readSize = std::max(n, sequential ? kRemoteBufSize : kRemoteSmallRead);
        readSize = uint32_t(std::min<int64_t>(readSize, avail));

        if (r->pos != r->serverPos &&
            move(r, int32_t(int64_t(r->pos) - int64_t(r->serverPos)), 1) != 0)
            return -1;

        uint32_t rest = n;
        // Large requests bypass the buffer in whole-buffer pieces.
        while (readSize > kRemoteBufSize) {
            int32_t got = fetch(r, out, kRemoteBufSize);
            if (got < 0) return -1;
            out += got;
            r->pos += uint32_t(got);
            rest -= uint32_t(got);
            readSize -= uint32_t(got);
            delivered += got;
            if (got == 0) return delivered;  // the server has no more bytes
        }
        if (rest == 0) return delivered;
        if (readSize <= rest) {
            int32_t got = fetch(r, out, rest);
            if (got < 0) return -1;
            r->readBufStart = int32_t(r->serverPos);
            r->readBufLen = 0;
            r->pos += uint32_t(got);
            delivered += got;
        } else {
            int32_t got = fetch(r, r->readBuf, readSize);
            if (got < 0) return -1;
            r->readBufStart = int32_t(r->serverPos - uint32_t(got));
            r->readBufLen = uint32_t(got);
            uint32_t c = std::min(rest, uint32_t(got));
            std::memcpy(out, r->readBuf, c);
            r->pos += c;
            delivered += int32_t(c);
        }
        return delivered;
    }
}

int32_t remote_write(FileLocation* r, const void* buf, uint32_t count) {
    if (count > uint32_t(INT32_MAX)) {
        errno = TAV_EINVAL;
        return -1;
    }
    if (count == 0) return 0;
    const uint8_t* src = static_cast<const uint8_t*>(buf);

    // Pending bytes that this write does not continue go out first.
    if (r->writeBufLen > 0 && int64_t(r->pos) != int64_t(r->serverPos) + r->writeBufLen &&
        remote_flush(r) < 0)
        return -1;

    // Keep the read buffer equal to the file where the ranges overlap.
    if (r->readBufLen > 0) {
        int64_t bs = r->readBufStart;
        int64_t be = bs + r->readBufLen;
        int64_t ws = r->pos;
        int64_t we = ws + count;
        if (ws <= bs && we > bs) {
            int64_t end = std::min(we, be);
            std::memcpy(r->readBuf, src + (bs - ws), size_t(end - bs));
        } else if (ws > bs && ws < be) {
            int64_t end = std::min(we, be);
            std::memcpy(r->readBuf + (ws - bs), src, size_t(end - ws));
        }
    }

    if (r->writeBufLen == 0 && r->pos != r->serverPos && move(r, int32_t(r->pos), 0) != 0)
        return -1;

    uint32_t rem = count;
    while (rem > 0) {
        uint32_t k = std::min(rem, kRemoteBufSize - r->writeBufLen);
        if (r->writeBufLen + k < kRemoteBufSize) {
            std::memcpy(r->writeBuf + r->writeBufLen, src, k);
            r->writeBufLen += k;
        } else if (r->writeBufLen > 0) {
            uint32_t before = r->writeBufLen;
            std::memcpy(r->writeBuf + before, src, k);
            if (send(r, r->writeBuf, kRemoteBufSize) < 0) {
                r->writeBufLen = before;  // this write's bytes are not pending
                return -1;
            }
            r->writeBufLen = 0;
        } else {
            if (send(r, src, kRemoteBufSize) < 0) return -1;
        }
        src += k;
        rem -= k;
    }
    r->pos += count;
    return int32_t(count);
}

int remote_close(FileLocation* r) {
    int32_t flushed = remote_flush(r);
    int flushErr = errno;
    int closed = -1;
    const RpcEntries* e = fio_rpc();
    if (e && need(e->close)) {
        uint32_t flag = 0;
        int32_t res = e->close(r->connection, &r->remoteId, r->result, &flag);
        closed = fio_rpc_result(res, flag);
    }
    int closeErr = errno;
    remote_free_buffers(r);
    if (closed != 0) {
        errno = closeErr;
        return -1;
    }
    if (flushed < 0) {
        errno = flushErr;
        return -1;
    }
    return 0;
}
