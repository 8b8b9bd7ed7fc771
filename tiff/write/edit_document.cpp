// Whole-document edits behind xtavdelpgs and xtavputprops: deleting a range
// of pages and replacing the summary properties of a TIFF file given by path.
//
// A TIFF file is never changed piecemeal. Either the new property block fits
// the block already in the file and is written over it in place, or the file
// is copied page by page into an owner-only work file in its own directory
// (tiff_rewrite) and the copy replaces the original in one step
// (fio_replace, which makes the copy durable and gives it the original's
// permission bits). Until that step the original is untouched; any failure
// deletes the work file.
//
// While a local file is edited it is held open for writing, which takes the
// file layer's advisory write lock: a file that another open file
// description holds for writing is refused with 13, and no other writer can
// start on it until the edit is over.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/ops.h"
#include "platform/plat_file.h"  // plat_temp_path
#include "tiff/tiff.h"

namespace {

constexpr uint32_t kPropertyTextOffset = 24;  // header 8, "TEXO TIFF " 10, version 2, length 4

// Keeps errno across clean-up calls that may change it.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

private:
    int saved_;
};

// The read handle of the edited document; closed when it goes out of scope
// unless closed on purpose.
class DocHandle {
public:
    explicit DocHandle(int h) : h_(h) {}
    ~DocHandle() {
        if (h_ > 0) {
            ErrnoKeeper keep;
            tav_close(h_, 1);
        }
    }
    DocHandle(const DocHandle&) = delete;
    DocHandle& operator=(const DocHandle&) = delete;
    int get() const { return h_; }
    int close() {
        int h = h_;
        h_ = 0;
        return tav_close(h, 1);
    }

private:
    int h_;
};

// A descriptor of the file layer, closed at the end of the scope.
class FioDesc {
public:
    FioDesc() = default;
    explicit FioDesc(int fd) : fd_(fd) {}
    ~FioDesc() { close(); }
    FioDesc(const FioDesc&) = delete;
    FioDesc& operator=(const FioDesc&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ > 0; }
    int close() {
        if (fd_ <= 0) return 0;
        ErrnoKeeper keep;
        int r = fio_close(fd_);
        fd_ = -1;
        return r;
    }
    void reset(int fd) {
        close();
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The work file: created from a "*" pattern, deleted at the end of the scope
// unless it has been handed over.
class WorkFile {
public:
    WorkFile() { path_[0] = 0; }
    ~WorkFile() { discard(); }
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    char* path() { return path_; }
    int fd() const { return fd_.get(); }
    int create() {
        int fd = fio_creat(nullptr, path_, kFioPrivate);
        if (fd < 0) return -1;
        fd_.reset(fd);
        live_ = true;
        return 0;
    }
    int close() { return fd_.close(); }
    // After the replace the work file's name no longer exists.
    void handed_over() { live_ = false; }
    void discard() {
        ErrnoKeeper keep;
        fd_.close();
        if (live_) fio_remove(nullptr, path_);
        live_ = false;
    }

private:
    char path_[TAV_PATH_SIZE];
    FioDesc fd_;
    bool live_ = false;
};

size_t text_length(const char* s) { return s ? std::strlen(s) : 0; }

// Fills a property block: "Title:" and the title, "Author:" and the author,
// "Subject:", "Keywords:", "Comments:" and their texts, each item closed by a
// zero byte, then one more zero byte. The block is zero-filled beforehand.
void fill_property_block(uint8_t* block, const PageInfo* p) {
    const char* labels[5] = {"Title:", "Author:", "Subject:", "Keywords:", "Comments:"};
    const char* texts[5] = {p->title, p->author, p->subject, p->keywords, p->comments};
    uint8_t* at = block;
    for (int i = 0; i < 5; ++i) {
        size_t l = std::strlen(labels[i]);
        std::memcpy(at, labels[i], l);
        at += l;
        size_t t = text_length(texts[i]);
        if (t) std::memcpy(at, texts[i], t);
        at += t + 1;
    }
}

// Raises n so that n + 16 is a multiple of 4.
uint32_t block_length(uint32_t n) { return ((n + 19) & ~3u) - 16; }

bool is_remote(const FileLocation* loc) { return loc && loc->isRemote; }

// Deletes the whole document: 0, or -1 with error 0 when the delete fails.
int delete_document(FileLocation* loc, const char* path) {
    if (fio_remove(loc, path) == 0) return 0;
    errno = 0;
    return -1;
}

// Writes the new property text over the old one, for the old one's full
// length, through a descriptor open for writing.
int write_in_place(int fd, const uint8_t* block, uint32_t length) {
    if (fio_seek_to(fd, kPropertyTextOffset) < 0) return -1;
    int32_t w = fio_write(fd, block, length);
    if (w < 0) return -1;
    if (uint32_t(w) != length) {
        if (errno == 0) errno = TAV_EIO;
        return -1;
    }
    return fio_sync(fd);
}

// The "*" pattern of the work file: in the document's directory, or in the
// local temporary directory for a remote document. A bare file name means
// the current directory.
int work_pattern(const FileLocation* loc, const char* path, char* out) {
    char dir[TAV_PATH_SIZE];
    if (is_remote(loc)) {
        if (plat_temp_path(dir, sizeof dir) == 0) {
            errno = TAV_E_WORKFILE;
            return -1;
        }
    } else if (dir_of_path(dir, sizeof dir, path) < 0) {
        bool bare = !std::strchr(path, '/') && !std::strchr(path, '\\');
        if (!bare) return -1;
        dir[0] = 0;
    }
    size_t n = std::strlen(dir);
    const char* tail = (n == 0 || dir[n - 1] == '/' || dir[n - 1] == '\\') ? "*" : "/*";
    if (n + std::strlen(tail) + 1 > TAV_PATH_SIZE) {
        errno = TAV_EINVAL;
        return -1;
    }
    std::memcpy(out, dir, n);
    std::strcpy(out + n, tail);
    return 0;
}

// Property step: builds the new block. Returns 1 when the update was done in
// place (the handle is then closed), 0 when the new block now sits in the
// handle for the rewrite, -1 on failure.
int put_properties(FileLocation* loc, const char* path, DocHandle& doc, FctEntry* e,
                   FioDesc& writer, const PageInfo* props) {
    uint64_t sum = text_length(props->title) + text_length(props->author) +
                   text_length(props->subject) + text_length(props->keywords) +
                   text_length(props->comments) + 5;
    if (sum > 0x10000000u) {
        errno = TAV_EINVAL;
        return -1;
    }
    uint32_t s = uint32_t(sum);
    uint32_t r = (props->propertiesLength && props->propertiesLength >= s)
                     ? props->propertiesLength
                     : (s * 5) / 4;
    if (r > 0x10000000u) {
        errno = TAV_EINVAL;
        return -1;
    }
    uint32_t rBlock = block_length(r + 40);
    uint32_t sBlock = block_length(s + 40);
    uint32_t size = rBlock > e->hdrBlockLen ? rBlock : e->hdrBlockLen;
    MemBlock<uint8_t> block(size, 1);
    // Without memory for the block the call fails: going on would rewrite
    // the document with its old properties and report success.
    if (!block) return -1;
    fill_property_block(block.get(), props);

    if (e->hdrBlock && e->hdrBlockLen >= sBlock) {
        uint32_t oldLength = e->hdrBlockLen;
        if (doc.close() < 0) return -1;
        if (!writer.valid()) {
            int fd = fio_open(loc, path, 2);
            if (fd < 0) return -1;
            writer.reset(fd);
        }
        if (write_in_place(writer.get(), block.get(), oldLength) < 0) return -1;
        if (writer.close() < 0) return -1;
        return 1;
    }
    mem_free_field(e->hdrBlock);
    e->hdrBlock = block.release();
    e->hdrBlockLen = rBlock;
    return 0;
}

// Copies the TIFF document without the pages first..last (from 0; -1 for
// none) into a work file and puts the copy in the document's place. The
// replace takes the document's writer lock itself (and gives the copy the
// document's permission bits and makes it durable), so the edit's own hold
// on the document ends just before it.
int rewrite_document(FileLocation* loc, const char* path, DocHandle& doc, FctEntry* e,
                     FioDesc& writer, WorkFile& work, int32_t first, int32_t last) {
    if (tiff_rewrite(e, work.fd(), first, last) < 0) return -1;
    if (work.close() < 0) return -1;
    if (doc.close() < 0) return -1;
    if (writer.close() < 0) return -1;
    if (fio_replace(loc, path, nullptr, work.path()) < 0) {
        // The document's path is empty: the work file is the only complete
        // copy of the edited document and stays.
        if (errno == TAV_E_TARGET_ASIDE) work.handed_over();
        return -1;
    }
    work.handed_over();
    return 0;
}

}  // namespace

int edit_document(FileLocation* loc, const char* path, int32_t first, int32_t last,
                  const PageInfo* props) {
    if (!path) {
        errno = TAV_EINVAL;
        return -1;
    }
    char pathBuf[TAV_PATH_SIZE];
    size_t pathLength = std::strlen(path);
    if (pathLength >= sizeof pathBuf) {
        errno = TAV_EINVAL;
        return -1;
    }
    std::memcpy(pathBuf, path, pathLength + 1);

    // 1. AWD documents have their own page deletion (not available yet).
    if (!is_remote(loc)) {
        uint32_t isAwd = 0;
        uint32_t status = awd_is_awd_file(path, &isAwd);
        if (status != 0) {
            errno = int(status);
            return -1;
        }
        if (isAwd) {
            errno = TAV_E_NOT_SUPPORTED;
            return -1;
        }
    }

    // 2. Open for reading, learning the type and page count.
    uint32_t fileType = 0, pageCount = 0;
    bool noEntry = false;
    int h = tav_open(loc, pathBuf, 0, &fileType, &pageCount, &noEntry);
    if (h < 0) {
        if (!noEntry) {
            uint32_t code = 0;
            fct_fetch_error(-h, &code);
            errno = int(code);
        }
        return -1;
    }
    DocHandle doc(h);
    FctEntry* e = fct_lookup(h);
    if (!e) return -1;

    // A local TIFF document is held open for writing during the edit.
    FioDesc writer;
    if (fileType == FILETYPE_TIFF && !is_remote(loc)) {
        int fd = fio_open(loc, path, kFioModeReadWrite);
        if (fd < 0) return -1;
        writer.reset(fd);
    }

    // 3. Properties.
    if (props && fileType == FILETYPE_TIFF) {
        int r = put_properties(loc, path, doc, e, writer, props);
        if (r != 0) return r > 0 ? 0 : -1;
    }

    // 4. The work file.
    WorkFile work;
    if (work_pattern(loc, path, work.path()) < 0 || work.create() < 0) return -1;

    // 5. By file type.
    bool wholeDocument = !props && first == 1 && last >= 1 && uint32_t(last) == pageCount;
    if (fileType == FILETYPE_RAW) {
        errno = TAV_E_UNSUPPORTED;
        return -1;
    }
    if (fileType != FILETYPE_TIFF) {
        if (!wholeDocument) {
            errno = TAV_E_NOT_SUPPORTED;
            return -1;
        }
        work.discard();
        if (doc.close() < 0) return -1;
        return delete_document(loc, path);
    }
    if (wholeDocument) {
        work.discard();
        if (doc.close() < 0) return -1;
        return delete_document(loc, path);
    }
    if (!props) {
        if (first <= 0 || last < first || uint32_t(last) > pageCount) {
            errno = TAV_E_PAGE;
            return -1;
        }
        --first;
        --last;
    } else {
        first = last = -1;
    }
    return rewrite_document(loc, path, doc, e, writer, work, first, last);
}
