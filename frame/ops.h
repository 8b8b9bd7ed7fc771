// Internal operations behind the export frames. Each returns a non-negative
// value on success and -1 (open and create: the negated handle) on failure,
// with errno set and, for operations on a handle, the entry's lastError.
#pragma once

#include <cstdint>

#include "frame/fct.h"
#include "qvtav.h"

// Open with format detection (frame/open.cpp). *noEntry is set when no
// table entry could be taken (the result is then -1 with errno TAV_ENFILE).
int tav_open(FileLocation* loc, char* path, uint32_t flags, uint32_t* fileType,
             uint32_t* pageCount, bool* noEntry);
// Create (frame/create.cpp).
int tav_create(FileLocation* loc, char* path, uint32_t* fileType, bool* noEntry);
// Close with flush 1, abort with flush 0 (frame/close.cpp). Always releases.
int tav_close(int handle, int flush);
// Options (frame/options.cpp).
int tav_options(int handle, uint32_t action, uint32_t option, uint32_t* value);

// Page information and data (frame/page_*.cpp).
int page_get_info(int handle, uint16_t page, PageInfo* info, PageSizes* sizes);
int page_read(int handle, void* buffer, uint32_t start, uint32_t length, uint32_t* remaining,
              uint16_t page);
int page_get_data(int handle, PageInfo* info);
int page_put_info(int handle, uint16_t page, PageInfo* info, PutOptions* options);
int page_write(int handle, void* buffer, uint32_t count, uint16_t page, uint8_t flag);

// Whole-document edits (frame/edit_document.cpp): xtavdelpgs passes its
// range and no properties; xtavputprops first = last = -1 and the record.
int edit_document(FileLocation* loc, const char* path, int32_t first, int32_t last,
                  const PageInfo* props);
