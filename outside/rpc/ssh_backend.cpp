// The SSH back end: files of an SSH server, over its SFTP channel.
//
// Sequential reads are pipelined: once two reads follow each other, read
// requests for the bytes ahead go out before they are asked for (two at
// first, doubling up to 32 of 32 KB), as OpenSSH's own client does, so the
// round trip no longer bounds the throughput. Writes are gathered and sent
// in requests as large as the server takes; their replies are all checked
// before a read, a position change or the close returns. Paths go to the
// server as given (absolute, or relative to the login directory), with
// backslashes as separators too.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "outside/rpc/ssh_session.h"

namespace qvrpc {
namespace {

constexpr uint32_t kReadChunk = 32768;  // one read request
constexpr uint32_t kMaxAhead = 32;      // read requests outstanding ahead, at most
constexpr uint64_t kNoRead = UINT64_MAX;
constexpr uint32_t kCopyPiece = 256 * 1024;

std::string server_path(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

class SshFile : public RemoteFile, public ReadAhead {
public:
    SshFile(std::shared_ptr<SshConnection> c, std::shared_ptr<SshSession> s, sftp_file f,
            uint64_t size)
        : conn_(std::move(c)), session_(std::move(s)), file_(f), size_(size), chunk_(kReadChunk) {}
    ~SshFile() override {
        std::lock_guard<std::mutex> g(conn_->lock);
        release();
    }

    Outcome read(void* buf, uint32_t count, uint32_t* got) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        *got = 0;
        if (Outcome o = usable(); o.failed()) return o;
        session_->settle_others(this);
        if (Outcome o = flush(); o.failed()) return o;
        bool sequential = pos_ == lastReadEnd_;
        atEnd_ = kNoRead;
        depth_ = sequential ? std::min(kMaxAhead, std::max(2u, depth_ * 2)) : 0;
        uint64_t want = pos_ + count;
        uint64_t until = sequential ? std::max(want, std::min(size_, want + uint64_t(depth_) * kReadChunk)) : want;
        uint8_t* out = static_cast<uint8_t*>(buf);
        uint32_t done = 0;
        while (done < count) {
            uint64_t at = pos_ + done;
            if (chunkLen_ > 0 && at >= chunkAt_ && at < chunkAt_ + chunkLen_) {
                uint32_t k = uint32_t(std::min<uint64_t>(count - done, chunkAt_ + chunkLen_ - at));
                std::memcpy(out + done, chunk_.data() + (at - chunkAt_), k);
                done += k;
                continue;
            }
            if (atEnd_ == at) break;
            chunkLen_ = 0;
            if (!ahead_.empty() && ahead_.front().at != at) {
                if (Outcome o = drain(); o.failed()) return o;
            }
            chunkLen_ = 0;
            if (Outcome o = fill(at, until); o.failed()) return o;
            if (Outcome o = receive(); o.failed()) return o;
        }
        pos_ += done;
        lastReadEnd_ = pos_;
        *got = done;
        return {};
    }

    Outcome write(const void* buf, uint32_t count) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        if (Outcome o = usable(); o.failed()) return o;
        session_->settle_others(this);
        // Bytes read ahead may be older than this write.
        if (Outcome o = forget_reads(); o.failed()) return o;
        const uint8_t* src = static_cast<const uint8_t*>(buf);
        if (!batch_.empty() &&
            (batchAt_ + batch_.size() != pos_ || batch_.size() + count > session_->writeLimit)) {
            if (Outcome o = flush(); o.failed()) return o;
        }
        if (batch_.empty()) batchAt_ = pos_;
        batch_.insert(batch_.end(), src, src + count);
        // A write larger than one request goes out at once.
        if (batch_.size() >= session_->writeLimit) {
            if (Outcome o = flush(); o.failed()) return o;
        }
        pos_ += count;
        size_ = std::max(size_, pos_);
        return {};
    }

    Outcome setpos(int64_t offset, uint32_t origin) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        if (Outcome o = usable(); o.failed()) return o;
        session_->settle_others(this);
        if (Outcome o = flush(); o.failed()) return o;
        int64_t base = 0;
        if (origin == 1) {
            base = int64_t(pos_);
        } else if (origin == 2) {
            sftp_attributes a = sftp_fstat(file_);
            if (!a) return conn_->failure(*session_, kRpcIoError);
            base = int64_t(a->size);
            sftp_attributes_free(a);
        } else if (origin != 0) {
            return Outcome::server(kRpcBadPath);
        }
        pos_ = uint64_t(std::max<int64_t>(0, base + offset));
        return {};
    }

    Outcome getpos(uint64_t* pos) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        if (Outcome o = usable(); o.failed()) return o;
        session_->settle_others(this);
        *pos = pos_;
        return {};
    }

    Outcome close() override {
        std::lock_guard<std::mutex> g(conn_->lock);
        Outcome result = usable();
        if (!result.failed()) session_->settle_others(this);
        if (!result.failed()) result = flush();
        if (!result.failed()) result = drain();
        if (!result.failed()) {
            int closed = sftp_close(file_);  // frees the file, closed or not
            file_ = nullptr;
            if (closed != SSH_OK) result = conn_->failure(*session_, kRpcIoError);
        }
        release();  // frees a file the failure above left open
        return result;
    }

    void settle() override {
        drain();
        depth_ = 0;
    }

private:
    struct Request {
        uint64_t at;
        uint32_t len;
        int id;
    };

    // The file's session must still be the connection's and whole: after a
    // reconnect the server knows the file no more.
    Outcome usable() {
        if (!file_ || session_->broken || session_->inherited()) return Outcome::dropped();
        return {};
    }

    // Sends the pending bytes in requests the server takes, each waiting
    // for its reply.
    Outcome flush() {
        std::vector<uint8_t> pending;
        pending.swap(batch_);
        for (size_t done = 0; done < pending.size();) {
            size_t n = std::min<size_t>(pending.size() - done, session_->writeLimit);
            sftp_seek64(file_, batchAt_ + done);
            if (sftp_write(file_, pending.data() + done, n) != ssize_t(n))
                return conn_->failure(*session_, kRpcIoError);
            done += n;
        }
        pending.clear();
        batch_.swap(pending);  // keeps the buffer's capacity
        return {};
    }

    // Read requests from the end of those outstanding (or from `at`) up to
    // `until`.
    Outcome fill(uint64_t at, uint64_t until) {
        uint64_t next = ahead_.empty() ? at : ahead_.back().at + ahead_.back().len;
        while (next < until && ahead_.size() < kMaxAhead + 1) {
            uint32_t len = uint32_t(std::min<uint64_t>(kReadChunk, until - next));
            sftp_seek64(file_, next);
            int id = sftp_async_read_begin(file_, len);
            if (id < 0) return conn_->failure(*session_, kRpcIoError);
            ahead_.push_back({next, len, id});
            session_->reading.insert(this);
            next += len;
        }
        return {};
    }

    // Waits for the first outstanding request; its bytes become the chunk.
    // A short reply is the end of the file: what was asked beyond it goes.
    Outcome receive() {
        Request r = ahead_.front();
        ahead_.pop_front();
        if (ahead_.empty()) session_->reading.erase(this);
        sftp_seek64(file_, r.at);  // clears the end mark an earlier reply left
        int n = sftp_async_read(file_, chunk_.data(), r.len, uint32_t(r.id));
        if (n < 0) {
            Outcome o = conn_->failure(*session_, kRpcIoError);
            if (!o.transport) drain();
            return o;
        }
        chunkAt_ = r.at;
        chunkLen_ = uint32_t(n);
        if (uint32_t(n) < r.len) {
            atEnd_ = r.at + uint32_t(n);
            return drain();
        }
        return {};
    }

    // Collects every outstanding reply (the SFTP client keeps each until it
    // is asked for) and drops them.
    Outcome drain() {
        Outcome result;
        if (!ahead_.empty() && scratch_.empty()) scratch_.resize(kReadChunk);
        while (!ahead_.empty()) {
            Request r = ahead_.front();
            ahead_.pop_front();
            sftp_seek64(file_, r.at);
            if (sftp_async_read(file_, scratch_.data(), r.len, uint32_t(r.id)) < 0) {
                Outcome o = conn_->failure(*session_, kRpcIoError);
                if (o.transport) {
                    ahead_.clear();
                    result = o;
                }
            }
        }
        session_->reading.erase(this);
        return result;
    }

    Outcome forget_reads() {
        lastReadEnd_ = kNoRead;
        atEnd_ = kNoRead;
        depth_ = 0;
        chunkLen_ = 0;
        return drain();
    }

    // Frees the SFTP file (closing it on the server when it still can be)
    // and lets go of the session. The caller holds the lock.
    void release() {
        if (!session_) return;
        session_->reading.erase(this);
        if (file_ && !session_->inherited()) {
            if (!session_->broken) {
                batch_.clear();
                drain();
            }
            sftp_close(file_);
            file_ = nullptr;
        }
        session_.reset();
    }

    std::shared_ptr<SshConnection> conn_;
    std::shared_ptr<SshSession> session_;
    sftp_file file_;
    uint64_t pos_ = 0;
    uint64_t size_;  // the size at open, raised by writes through this file
    std::deque<Request> ahead_;
    std::vector<uint8_t> chunk_;  // received bytes of [chunkAt_, chunkAt_ + chunkLen_)
    std::vector<uint8_t> scratch_;  // replies that are dropped
    uint64_t chunkAt_ = 0;
    uint32_t chunkLen_ = 0;
    uint64_t atEnd_ = kNoRead;  // where a reply found the end of the file
    uint64_t lastReadEnd_ = kNoRead;
    uint32_t depth_ = 0;
    std::vector<uint8_t> batch_;  // written bytes not sent yet, belonging at batchAt_
    uint64_t batchAt_ = 0;
};

class SshListing : public RemoteDir {
public:
    SshListing(std::shared_ptr<SshConnection> c, std::shared_ptr<SshSession> s, sftp_dir d)
        : conn_(std::move(c)), session_(std::move(s)), dir_(d) {}
    ~SshListing() override {
        std::lock_guard<std::mutex> g(conn_->lock);
        if (!session_->inherited()) {
            session_->settle_others(nullptr);
            sftp_closedir(dir_);
        }
        session_.reset();
    }
    Outcome next(std::string* name) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        if (session_->broken || session_->inherited()) return Outcome::dropped();
        session_->settle_others(nullptr);
        sftp_attributes a = sftp_readdir(session_->sftp, dir_);
        if (!a) {
            if (sftp_dir_eof(dir_)) return Outcome::server(kRpcNotFound);
            return conn_->failure(*session_, kRpcIoError);
        }
        *name = a->name ? a->name : "";
        sftp_attributes_free(a);
        return {};
    }

private:
    std::shared_ptr<SshConnection> conn_;
    std::shared_ptr<SshSession> session_;
    sftp_dir dir_;
};

// Whether a path exists on the server (after a refusal that did not say why).
bool exists(SshSession& s, const std::string& path) {
    sftp_attributes a = sftp_lstat(s.sftp, path.c_str());
    if (!a) return false;
    sftp_attributes_free(a);
    return true;
}

class SshBackend : public Backend {
public:
    explicit SshBackend(std::shared_ptr<SshConnection> c) : conn_(std::move(c)) {}

    Outcome access(const std::string& path, uint32_t mode) override {
        return with_session([&](SshSession& s) -> Outcome {
            std::string p = server_path(path);
            sftp_attributes a = sftp_stat(s.sftp, p.c_str());
            if (!a) return conn_->failure(s, kRpcNotFound);
            sftp_attributes_free(a);
            if ((mode & 3) == 0) return {};
            // Writable is what the server lets us open for writing.
            sftp_file f = sftp_open(s.sftp, p.c_str(), O_WRONLY, 0);
            if (!f) {
                Outcome o = conn_->failure(s, kRpcAccessDenied);
                return o.transport ? o : Outcome::server(kRpcAccessDenied);
            }
            sftp_close(f);
            return {};
        });
    }

    Outcome stat(const std::string& path, ObjectStatus* out) override {
        return with_session([&](SshSession& s) -> Outcome {
            sftp_attributes a = sftp_stat(s.sftp, server_path(path).c_str());
            if (!a) return conn_->failure(s, kRpcNotFound);
            out->size = a->size;
            out->mtime = uint32_t(a->mtime64 ? a->mtime64 : a->mtime);
            // SFTP tells the time of change in whole seconds only; the
            // owner and the permissions go into the second value too.
            out->value2 = out->mtime;
            out->value3 = uint32_t(a->mtime64 >> 32) ^ a->permissions ^ (a->uid << 16) ^ a->gid;
            sftp_attributes_free(a);
            return {};
        });
    }

    Outcome open(const std::string& path, uint32_t mode, std::unique_ptr<RemoteFile>* file) override {
        int flags = (mode & 3) == 0 ? O_RDONLY : (mode & 3) == 1 ? O_WRONLY : O_RDWR;
        return open_file(path, flags, file);
    }

    Outcome create(const std::string& path, std::unique_ptr<RemoteFile>* file) override {
        return open_file(path, O_RDWR | O_CREAT | O_EXCL, file);
    }

    // Streamed through this process: neither libssh nor the SFTP protocol
    // version it speaks has a server-side copy.
    Outcome copy(const std::string& from, const std::string& to) override {
        std::unique_ptr<RemoteFile> in, out;
        if (Outcome o = open(from, 0, &in); o.failed()) return o;
        if (Outcome o = create(to, &out); o.failed()) {
            in->close();
            return o;
        }
        std::vector<uint8_t> buf(kCopyPiece);
        Outcome result;
        for (;;) {
            uint32_t got = 0;
            result = in->read(buf.data(), kCopyPiece, &got);
            if (result.failed() || got == 0) break;
            result = out->write(buf.data(), got);
            if (result.failed()) break;
        }
        Outcome closedOut = out->close();
        in->close();
        if (!result.failed()) result = closedOut;
        if (result.failed() && !result.transport) remove(to);
        return result;
    }

    Outcome remove(const std::string& path) override {
        return with_session([&](SshSession& s) -> Outcome {
            if (sftp_unlink(s.sftp, server_path(path).c_str()) == SSH_OK) return {};
            return conn_->failure(s, kRpcIoError);
        });
    }

    Outcome rename(const std::string& from, const std::string& to) override {
        return with_session([&](SshSession& s) -> Outcome {
            std::string dest = server_path(to);
            // The protocol's rename refuses an existing destination.
            if (sftp_rename(s.sftp, server_path(from).c_str(), dest.c_str()) == SSH_OK) return {};
            Outcome o = conn_->failure(s, kRpcIoError);
            if (!o.transport && o.code == kRpcIoError && exists(s, dest)) return Outcome::server(kRpcExists);
            return o;
        });
    }

    Outcome mkdir(const std::string& path) override {
        return with_session([&](SshSession& s) -> Outcome {
            std::string p = server_path(path);
            if (sftp_mkdir(s.sftp, p.c_str(), 0777) == SSH_OK) return {};
            Outcome o = conn_->failure(s, kRpcCannotCreate);
            if (!o.transport && o.code == kRpcCannotCreate && exists(s, p)) return Outcome::server(kRpcExists);
            return o;
        });
    }

    Outcome rmdir(const std::string& path) override {
        return with_session([&](SshSession& s) -> Outcome {
            if (sftp_rmdir(s.sftp, server_path(path).c_str()) == SSH_OK) return {};
            return conn_->failure(s, kRpcIoError);
        });
    }

    Outcome opendir(const std::string& path, std::unique_ptr<RemoteDir>* dir) override {
        std::lock_guard<std::mutex> g(conn_->lock);
        std::shared_ptr<SshSession> s;
        if (Outcome o = conn_->session(&s); o.failed()) return o;
        s->settle_others(nullptr);
        std::string p = path.empty() || path == "\\" ? "." : server_path(path);
        sftp_dir d = sftp_opendir(s->sftp, p.c_str());
        if (!d) return conn_->failure(*s, kRpcNotFound);
        *dir = std::make_unique<SshListing>(conn_, s, d);
        return {};
    }

    Outcome statvolume(VolumeStatus* out) override {
        return with_session([&](SshSession& s) -> Outcome {
            sftp_statvfs_t vs = sftp_statvfs(s.sftp, ".");
            if (!vs) return conn_->failure(s, kRpcBadPath);
            out->blockSize = vs->f_frsize;
            out->freeBlocks = vs->f_bavail;
            out->totalBlocks = vs->f_blocks;
            sftp_statvfs_free(vs);
            return {};
        });
    }

private:
    template <typename Op>
    Outcome with_session(Op op) {
        std::lock_guard<std::mutex> g(conn_->lock);
        std::shared_ptr<SshSession> s;
        if (Outcome o = conn_->session(&s); o.failed()) return o;
        s->settle_others(nullptr);
        return op(*s);
    }

    Outcome open_file(const std::string& path, int flags, std::unique_ptr<RemoteFile>* file);

    std::shared_ptr<SshConnection> conn_;
};

// Opens a file and checks that it is not a directory. A refusal that does
// not say why is kRpcAccessDenied for an open, and for a create
// kRpcExists when the path exists, else kRpcCannotCreate.
Outcome SshBackend::open_file(const std::string& path, int flags, std::unique_ptr<RemoteFile>* file) {
    std::lock_guard<std::mutex> g(conn_->lock);
    std::shared_ptr<SshSession> s;
    if (Outcome o = conn_->session(&s); o.failed()) return o;
    s->settle_others(nullptr);
    std::string p = server_path(path);
    bool creating = (flags & O_CREAT) != 0;
    sftp_file f = sftp_open(s->sftp, p.c_str(), flags, 0666);
    if (!f) {
        Outcome o = conn_->failure(*s, creating ? kRpcCannotCreate : kRpcAccessDenied);
        if (o.transport || !creating) return o;
        if (exists(*s, p)) return Outcome::server(kRpcExists);
        return Outcome::server(o.code == kRpcBadPath ? kRpcBadPath : kRpcCannotCreate);
    }
    sftp_attributes a = sftp_fstat(f);
    if (!a) {
        Outcome o = conn_->failure(*s, kRpcIoError);
        sftp_close(f);
        return o;
    }
    bool directory = a->type == SSH_FILEXFER_TYPE_DIRECTORY || S_ISDIR(a->permissions);
    uint64_t size = a->size;
    sftp_attributes_free(a);
    if (directory) {
        sftp_close(f);
        return Outcome::server(kRpcAccessDenied);
    }
    *file = std::make_unique<SshFile>(conn_, s, f, size);
    return {};
}

}  // namespace

std::unique_ptr<Backend> ssh_backend(const std::string& server, uint32_t connection) {
    return std::make_unique<SshBackend>(ssh_connection(server, connection));
}

}  // namespace qvrpc
