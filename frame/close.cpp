// Close and abort: releases the handle (the format finishing steps come
// with the open and writer code).
#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"

int tav_close(int handle, int) {
    errno = 0;
    if (!fct_lookup(handle)) return -1;
    return fct_release(handle);
}
