// The AWD viewer and encoder libraries, bound on first use. Each wrapper
// binds its library (loading it and looking up all of its entry points)
// when it is not bound, and gives the failure result (0 or null) when that
// cannot be done; a failed binding is tried again at the next call. The
// libraries stay bound until the process unloads them.
#pragma once

#include <cstdint>

#include "formats/awd/awd_interface.h"

void* awd_viewer_open(StgStream* stream, uint16_t* bandBytes, ViewerDocInfo* info);
int32_t awd_viewer_set_page(void* viewer, uint32_t page);
int32_t awd_viewer_get_band(void* viewer, AwdBand* band);
void awd_viewer_close(void* viewer);

void* awd_image_create(const char* path, uint16_t xRes, uint16_t yRes);
int32_t awd_image_set_band(void* image, const AwdBand* band);
int32_t awd_image_close(void* image);
// AWDCreate then AWDClose: a new, empty AWD file at path. Nonzero for
// success.
int32_t awd_make_file(const char* path);

// Unloads both libraries (the AWD row's unload: process detach, and thread
// detach inside the system shell); the next call binds them afresh.
void awd_unload_libraries();
