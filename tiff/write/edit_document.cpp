// Whole-document edits: not built yet (293 in errno).
#include <cerrno>

#include "frame/ops.h"

int edit_document(FileLocation*, const char*, int32_t, int32_t, const PageInfo*) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}
