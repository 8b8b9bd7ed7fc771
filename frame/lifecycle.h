// Steps shared by open, create, close and abort.
#pragma once

#include <cstdint>

#include "frame/fct.h"

// Format detection (frame/detect.cpp): on an entry whose fd is open and
// positioned at 0, sets fileType (and detectWord for TIFF, pageCount and
// dcxOffsets for DCX). 0, or -1 with errno.
int tav_detect(FctEntry* e);

// The XIFF marks in the first bytes of a file with a TIFF header:
// 0 with *isXiff set, or 293 for an unsupported "XEROX DIFF" version.
int xiff_test(const uint8_t* buf, uint32_t len, int* isXiff);

// Frees every block the entry holds (close step 3), and for TIFF the reader
// and writer state. Keeps errno. Safe to call more than once.
void fct_free_blocks(FctEntry* e);

// Takes a table entry for an open or create: a zero-filled entry with fd -1,
// which counts as in use at once. The handle, or -1 with *noEntry set (and
// errno 23) when the table is full.
inline int fct_take_entry(bool* noEntry) {
    FctEntry templ{};
    templ.fd = -1;
    int h = fct_alloc(templ);
    if (h < 0) *noEntry = true;
    return h;
}
