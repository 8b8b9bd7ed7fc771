// Steps shared by open, create, close and abort.
#pragma once

#include <cstdint>

#include "frame/fct.h"

struct FormatOps;

// Format detection (frame/detect.cpp): on an entry whose fd is open and
// positioned at 0, sets format (and detectWord). 0, or -1 with errno.
int tav_detect(FctEntry* e);

// The detection that needs no descriptor: a document kept in storage of its
// own, recognised by path by its row's probe_path. Its format, or null;
// *status is a storage status the test could not interpret (0 when it
// could).
const FormatOps* tav_detect_storage(const char* path, uint32_t* status);

// Frees every block the entry holds, with the format's own state (its
// release). Keeps errno. Safe to call more than once.
void fct_free_blocks(FctEntry* e);

// Takes a table entry for an open or create: a zero-filled entry with fd -1,
// which counts as in use at once. The handle, or -1 with *noEntry set (and
// errno TAV_ENFILE) when the table is full.
inline int fct_take_entry(bool* noEntry) {
    FctEntry templ{};
    templ.fd = -1;
    int h = fct_alloc(templ);
    if (h < 0) *noEntry = true;
    return h;
}
