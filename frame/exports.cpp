// The export frames: each fixes the calling convention, clears the caller's
// error cell, forwards to one internal operation and turns a failure into an
// error code for the caller. No exception ever crosses this boundary: one
// that escapes an internal operation is reported as TAV_ENOMEM.
#include <cerrno>
#include <cstring>
#include <new>

#include "fileio/fio.h"
#include "frame/fct.h"
#include "frame/ops.h"
#include "qvtav.h"

namespace {

// Frame of the operations that take a handle cell.
template <typename Op>
int32_t handle_frame(int32_t* handleCell, uint32_t* error, Op op) {
    if (error) *error = 0;
    int handle = handleCell ? *handleCell : 0;
    int result;
    try {
        result = op(handle);
    } catch (...) {
        errno = TAV_ENOMEM;
        if (FctEntry* e = fct_lookup(handle)) e->lastError = TAV_ENOMEM;
        errno = TAV_ENOMEM;
        result = -1;
    }
    if (result < 0) {
        uint32_t code = 0;
        fct_fetch_error(handle, &code);
        if (error) *error = code;
    }
    return result;
}

// Closes a remote handle that a failed open or create may have left at the
// server.
void close_failed_remote(FileLocation* loc, int32_t result);

// Frame of xtavopen and xtavcreat.
template <typename Op>
int32_t open_frame(FileLocation* loc, uint32_t* error, Op op) {
    if (error) *error = 0;
    bool noEntry = false;
    int result;
    try {
        result = op(&noEntry);
    } catch (...) {
        errno = TAV_ENOMEM;
        noEntry = true;
        result = -1;
    }
    if (result < 0) {
        if (noEntry) {
            if (error) *error = uint32_t(errno);
        } else {
            uint32_t code = 0;
            fct_fetch_error(result, &code);
            if (error) *error = code;
        }
        close_failed_remote(loc, result);
    }
    if (loc) loc->result = result;
    return result;
}

// Frame of the operations that leave the error cell at 0.
template <typename Op>
int32_t plain_frame(uint32_t* error, Op op) {
    if (error) *error = 0;
    try {
        return op();
    } catch (...) {
        errno = TAV_ENOMEM;
        return -1;
    }
}

}  // namespace

namespace {
void close_failed_remote(FileLocation* loc, int32_t result) {
    if (loc && loc->isRemote) fio_remote_close_result(loc, result);
}
}  // namespace

extern "C" {

QVTAV_EXPORT int32_t QVTAV_CALL xtavclose(int32_t* handle, uint32_t* error) {
    return plain_frame(error, [&] { return tav_close(handle ? *handle : 0, 1); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavabort(int32_t* handle, uint32_t* error) {
    return plain_frame(error, [&] { return tav_close(handle ? *handle : 0, 0); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavcreat(FileLocation* location, char* path, uint32_t* fileType,
                                          uint32_t* error) {
    errno = 0;
    return open_frame(location, error,
                      [&](bool* noEntry) { return tav_create(location, path, fileType, noEntry); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavopen(FileLocation* location, char* path, uint32_t flags,
                                         uint32_t* fileType, uint32_t* pageCount, uint32_t* error) {
    errno = 0;
    return open_frame(location, error, [&](bool* noEntry) {
        return tav_open(location, path, flags, fileType, pageCount, noEntry);
    });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavgeti(int32_t* handle, uint16_t page, PageInfo* info,
                                         PageSizes* sizes, uint32_t* error) {
    errno = 0;
    return handle_frame(handle, error,
                        [&](int h) { return page_get_info(h, page, info, sizes); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavopts(int32_t* handle, uint32_t action, uint32_t option,
                                         uint32_t* value, uint32_t* error) {
    // The options call keeps errno for its own error fetch (option 0).
    return handle_frame(handle, error,
                        [&](int h) { return tav_options(h, action, option, value); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavputi(int32_t* handle, uint16_t page, PageInfo* info,
                                         PutOptions* options, uint32_t* error) {
    errno = 0;
    return handle_frame(handle, error,
                        [&](int h) { return page_put_info(h, page, info, options); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavread(int32_t* handle, void* buffer, uint32_t start,
                                         uint32_t count, uint32_t* remaining, uint16_t page,
                                         uint32_t* error) {
    errno = 0;
    return handle_frame(handle, error, [&](int h) {
        return page_read(h, buffer, start, count, remaining, page);
    });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavwrite(int32_t* handle, void* buffer, uint32_t count,
                                          uint16_t page, uint8_t flag, uint32_t* error) {
    errno = 0;
    return handle_frame(handle, error,
                        [&](int h) { return page_write(h, buffer, count, page, flag); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavgtdata(int32_t* handle, PageInfo* info, uint32_t* error) {
    errno = 0;
    return handle_frame(handle, error, [&](int h) { return page_get_data(h, info); });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavdelpgs(FileLocation* location, char* path, int32_t first,
                                           uint32_t last, uint32_t* error) {
    errno = 0;
    return plain_frame(error, [&] {
        return edit_document(location, path, first, int32_t(last), nullptr);
    });
}

QVTAV_EXPORT int32_t QVTAV_CALL xtavputprops(FileLocation* location, char* path,
                                             PageInfo* properties, uint32_t* error) {
    errno = 0;
    return plain_frame(error, [&] {
        if (!properties) {
            errno = TAV_EINVAL;
            return -1;
        }
        return edit_document(location, path, -1, -1, properties);
    });
}

QVTAV_EXPORT int32_t QVTAV_CALL xifsduplicate(FileLocation* location, char* source,
                                              char* destination, uint32_t* error) {
    errno = 0;
    return plain_frame(error, [&] {
        if (!source || !destination) {
            errno = TAV_EINVAL;
            return -1;
        }
        size_t n = std::strlen(source);
        if (n >= TAV_PATH_SIZE) {
            errno = TAV_EINVAL;
            return -1;
        }
        std::memmove(destination, source, n + 1);
        // The name part begins after the last separator; it becomes the
        // unique-name request "*", resolved in the source's directory.
        char* name = destination + (path_name_part(destination) - destination);
        name[0] = '*';
        name[1] = 0;
        return fio_copy(location, source, location, destination, 0);
    });
}

QVTAV_EXPORT int32_t QVTAV_CALL xifsreplace(FileLocation* targetLocation, char* target,
                                            FileLocation* sourceLocation, char* source,
                                            uint32_t* error) {
    errno = 0;
    return plain_frame(error, [&] {
        if (!target || !source) {
            errno = TAV_EINVAL;
            return -1;
        }
        return fio_replace(targetLocation, target, sourceLocation, source);
    });
}

}  // extern "C"
