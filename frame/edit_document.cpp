// Whole-document edits behind xtavdelpgs and xtavputprops: deleting a range
// of pages and replacing the summary properties of a file given by path.
//
// A document is never changed piecemeal. Either the format writes the new
// properties over the block already in the file (when they fit), or it
// copies the document page by page into an owner-only work file in the
// document's own directory (its rewrite operation) and the copy replaces the
// original in one step (fio_replace, which makes the copy durable and gives
// it the original's permission bits). Until that step the original is
// untouched; any failure deletes the work file.
//
// While a local document is edited it is held open for writing, which
// takes the file layer's advisory write lock: a file that another open file
// description holds for writing is refused with TAV_EACCES, and no other writer can
// start on it until the edit is over.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "fileio/mem.h"
#include "frame/format.h"
#include "frame/handle_guard.h"
#include "frame/lifecycle.h"
#include "frame/ops.h"

namespace {

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
        KeepErrno keep;
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
        KeepErrno keep;
        fd_.close();
        if (live_) fio_remove(nullptr, path_);
        live_ = false;
    }

private:
    char path_[TAV_PATH_SIZE];
    FioDesc fd_;
    bool live_ = false;
};

bool is_remote(const FileLocation* loc) { return loc && loc->isRemote; }

// Deletes the whole document: 0, or -1 with error 0 when the delete fails.
int delete_document(FileLocation* loc, const char* path) {
    if (fio_remove(loc, path) == 0) return 0;
    errno = 0;
    return -1;
}

// Writes a property patch through a descriptor open for writing and makes
// it durable.
int write_in_place(int fd, const PropertyPatch& patch) {
    if (fio_write_at(fd, patch.offset, patch.bytes, patch.length) < 0) return -1;
    return fio_sync(fd);
}

// The "*" pattern of the work file: beside the document, or in the local
// temporary directory for a remote document.
int work_pattern(const FileLocation* loc, const char* path, char* out) {
    if (!is_remote(loc)) return fio_star_beside(path, out) ? 0 : -1;
    if (!fio_star_in_tempdir(out)) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    return 0;
}

// The property step: 1 when the new properties were written in place (the
// handle is then closed), 0 when the handle holds them for the rewrite, -1
// on failure.
int put_properties(FileLocation* loc, const char* path, HandleGuard& doc, FctEntry* e,
                   FioDesc& writer, const PageInfo* props) {
    PropertyPatch patch;
    int r = e->format->set_properties(e, props, &patch);
    if (r <= 0) return r;
    MemBlock<uint8_t> bytes(patch.bytes);
    if (doc.close() < 0) return -1;
    if (!writer.valid()) {
        int fd = fio_open(loc, path, kFioModeWrite);
        if (fd < 0) return -1;
        writer.reset(fd);
    }
    if (write_in_place(writer.get(), patch) < 0) return -1;
    if (writer.close() < 0) return -1;
    return 1;
}

// Copies the document without the pages first..last (from 0; -1 for none)
// into a work file and puts the copy in the document's place. The replace
// takes the document's writer lock itself (and gives the copy the
// document's permission bits and makes it durable), so the edit's own hold
// on the document ends just before it.
int rewrite_document(FileLocation* loc, const char* path, HandleGuard& doc, FctEntry* e,
                     FioDesc& writer, WorkFile& work, int32_t first, int32_t last) {
    if (e->format->rewrite(e, work.fd(), first, last) < 0) return -1;
    if (work.close() < 0) return -1;
    if (doc.close() < 0) return -1;
    if (writer.close() < 0) return -1;
    if (fio_replace(loc, path, nullptr, work.path()) < 0) {
        // The document's path is empty: the work file is the only complete
        // copy of the edited document and stays.
        if (errno == TAV_E_TARGET_ASIDE) work.handed_over();
        return -1;
    }
    // A local replace renames the work file into the document's place; a
    // remote one copies it to the server, and the work file is deleted.
    if (!is_remote(loc)) work.handed_over();
    return 0;
}

// Opens the document for reading, learning its type and page count.
int open_document(FileLocation* loc, char* path, uint32_t* pageCount) {
    uint32_t fileType = 0;
    bool noEntry = false;
    int h = tav_open(loc, path, TAV_OPEN_READ, &fileType, pageCount, &noEntry);
    if (h < 0 && !noEntry) {
        uint32_t code = 0;
        fct_fetch_error(-h, &code);
        errno = int(code);
    }
    return h < 0 ? -1 : h;
}

// What remains once the document is open and the work file made: deleting
// the whole document, or the format's copy without the pages.
int delete_or_rewrite(FileLocation* loc, const char* path, HandleGuard& doc, FctEntry* e,
                      FioDesc& writer, WorkFile& work, int32_t first, int32_t last,
                      bool withProps) {
    const FormatOps& f = *e->format;
    if (f.traits & kTraitByteStream) {
        errno = TAV_E_UNSUPPORTED;  // plain bytes have no pages to delete
        return -1;
    }
    bool wholeDocument = !withProps && first == 1 && last >= 1 && uint32_t(last) == e->pageCount;
    if (wholeDocument) {
        work.discard();
        if (doc.close() < 0) return -1;
        return delete_document(loc, path);
    }
    if (!f.rewrite) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    if (withProps) {
        first = last = -1;
    } else if (first <= 0 || last < first || uint32_t(last) > e->pageCount) {
        errno = TAV_E_PAGE;
        return -1;
    } else {
        --first;
        --last;
    }
    return rewrite_document(loc, path, doc, e, writer, work, first, last);
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

    // Documents in storage of their own are edited by their format, by path.
    if (!is_remote(loc)) {
        uint32_t status = 0;
        const FormatOps* storage = tav_detect_storage(path, &status);
        if (status != 0) {
            errno = int(status);
            return -1;
        }
        if (storage) {
            if (!storage->edit_by_path) {
                errno = TAV_E_NOT_SUPPORTED;
                return -1;
            }
            return storage->edit_by_path(loc, path, first, last, props);
        }
    }

    uint32_t pageCount = 0;
    int h = open_document(loc, pathBuf, &pageCount);
    if (h < 0) return -1;
    HandleGuard doc(h);
    FctEntry* e = fct_lookup(h);
    if (!e) return -1;

    // A local document that the format can copy is held open for writing
    // during the edit.
    FioDesc writer;
    if (e->format->rewrite && !is_remote(loc)) {
        int fd = fio_open(loc, path, kFioModeReadWrite);
        if (fd < 0) return -1;
        writer.reset(fd);
    }
    if (props && e->format->set_properties) {
        int r = put_properties(loc, path, doc, e, writer, props);
        if (r != 0) return r > 0 ? 0 : -1;
    }
    WorkFile work;
    if (work_pattern(loc, path, work.path()) < 0 || work.create() < 0) return -1;
    return delete_or_rewrite(loc, path, doc, e, writer, work, first, last, props != nullptr);
}
