// Create: not built yet; every create fails with 293.
#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"

int tav_create(FileLocation*, char*, uint32_t*, bool* noEntry) {
    FctEntry t{};
    t.fd = -1;
    int h = fct_alloc(t);
    if (h < 0) {
        *noEntry = true;
        return -1;
    }
    fct_fail(fct_lookup(h), TAV_E_NOT_SUPPORTED);
    return -h;
}
