// PCX images, as PCX files hold one and DCX files several: the 128-byte
// header, where an image lies in its file, and what its page's format view
// holds. Reading: pcx_image_read.cpp; writing: pcx_image_write.h.
#pragma once

#include <cstdint>

#include "frame/fct.h"
#include "qvtav.h"

// The header every PCX image starts with, little-endian.
constexpr uint32_t kPcxHeaderSize = 128;
constexpr uint8_t kPcxMarker = 0x0A;     // byte 0
constexpr uint8_t kPcxRunLength = 1;     // byte 2: the coding
constexpr uint32_t kPcxVersionAt = 1;
constexpr uint32_t kPcxCodingAt = 2;
constexpr uint32_t kPcxBitsAt = 3;       // bits per pixel of one plane
constexpr uint32_t kPcxXMinAt = 4;
constexpr uint32_t kPcxYMinAt = 6;
constexpr uint32_t kPcxXMaxAt = 8;
constexpr uint32_t kPcxYMaxAt = 10;
constexpr uint32_t kPcxHorizontalDpiAt = 12;
constexpr uint32_t kPcxVerticalDpiAt = 14;
constexpr uint32_t kPcxPaletteAt = 16;   // 16 colours, red, green, blue
constexpr uint32_t kPcxHeaderPaletteBytes = 48;
constexpr uint32_t kPcxPlanesAt = 65;
constexpr uint32_t kPcxLineBytesAt = 66; // bytes of one row of one plane
constexpr uint32_t kPcxPaletteInfoAt = 68;

// Where a PCX image lies in its file: its 128-byte header at `start`, its
// data (run-length rows, then a 256-colour palette when it has one) up to
// `end`.
struct PcxSpan {
    uint32_t start;
    uint32_t end;
};

// What a PCX page's format view holds, beside the page information.
struct PcxPage {
    uint32_t paletteBytes = 0;
    uint32_t paletteOffset = 0;  // 0: no palette in the file (a built-in one is delivered)
    uint32_t dataOffset = 0;
    uint32_t planes = 0;
    uint32_t lineBytes = 0;      // bytes of one row, all planes
};

// Reads the PCX image at span into the handle's copy (everything but the
// format view, which the caller puts) and *page; sizes->dataBytes = the
// bytes from its data offset to span.end. 0, or -1 with errno.
int pcx_image_read(FctEntry* e, PcxSpan span, PageInfo& c, PcxPage* page, PageSizes* sizes);

// The palette of the current PCX page into the caller's colour-map buffer:
// the file's palette, or the first bytes of a built-in 16-colour palette
// when the page carries none. 0, or -1 with errno.
int pcx_image_palette(FctEntry* e, PageInfo* info, const PcxPage& page);
