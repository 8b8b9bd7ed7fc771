// The byte-stream object the library hands to the XIFF reader: reads,
// absolute seeks and the length of the handle's file, through the file
// layer, so local and remote files read alike.
#pragma once

#include <cstdint>

#include "formats/xiff/xiff_interface.h"

// The reader sees only the XiffStream part, its table of operations.
struct XiffStreamObject : XiffStream {
    int fd;
    uint16_t pageCount;     // as the reader reported it
    uint32_t outputReady;   // the reader's output set-up is done
};

// A stream over descriptor fd in a memory-table block; null with errno.
XiffStreamObject* xiff_stream_new(int fd);
// Destroys the object through its own slot, releasing its memory.
void xiff_stream_end(XiffStreamObject* stream);
