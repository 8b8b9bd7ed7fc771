// What the BMP reader's modules share: the format view and the delivery of
// 16- and 32-bit pages as 24-bit rows.
#pragma once

#include <array>
#include <cstdint>

#include "frame/fct.h"
#include "frame/format.h"
#include "qvtav.h"

// The file header, little-endian.
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kFileSizeAt = 2;
constexpr uint32_t kDataOffsetAt = 10;
// Information header sizes, and the offsets inside it (from its start).
constexpr uint32_t kInfoSize = 40;
constexpr uint32_t kV5Size = 124;
constexpr uint32_t kWidthAt = 4, kHeightAt = 8, kPlanesAt = 12, kBitCountAt = 14, kCompressionAt = 16;
constexpr uint32_t kImageSizeAt = 20, kXPixelsPerMetreAt = 24, kYPixelsPerMetreAt = 28, kColoursUsedAt = 32;
constexpr uint32_t kRedMaskAt = 40, kGreenMaskAt = 44, kBlueMaskAt = 48, kAlphaMaskAt = 52;
constexpr uint32_t kColourSpaceAt = 56, kEndpointsAt = 60, kEndpointWords = 9;
constexpr uint32_t kGammaRedAt = 96, kGammaGreenAt = 100, kGammaBlueAt = 104;
constexpr uint32_t kIntentAt = 108, kProfileDataAt = 112, kProfileSizeAt = 116, kProfileReservedAt = 120;

// Compression codes.
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3;

// Colour-space types.
constexpr uint32_t kColourSpacePlain = 1;
constexpr uint32_t kColourSpaceSrgb = 0x73524742;  // 'sRGB'

// Kinds of information header.
enum BmpHeaderKind : uint8_t {
    kBmpInfoHeader = 0,  // 40 bytes (and the 52- and 56-byte extensions)
    kBmpCoreHeader = 1,  // 12 bytes
    kBmpV4Header = 2,    // 108 bytes
    kBmpV5Header = 3,    // 124 bytes
};

// The BMP format view: u16 palette bytes and u16 palette offset; u16 data
// offset; u16 row bytes, u8 header kind and u8 run-length coding.
struct BmpView {
    uint32_t paletteBytes = 0;
    uint32_t paletteOffset = 0;
    uint32_t dataOffset = 0;
    uint32_t rowBytes = 0;  // delivered row: 24-bit rows for 16- and 32-bit pages
    uint8_t headerKind = 0;
    uint8_t rle = 0;        // 1 RLE8, 2 RLE4, 0 none
};

void bmp_put_view(PageInfo& c, const BmpView& v);
BmpView bmp_view_of(const PageInfo& c);

// Bytes of a stored row of `bits`-bit pixels: rows are padded to 4 bytes.
constexpr uint64_t bmp_stored_row(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// Whether the 24-bit rows of a 16- or 32-bit page of this width need no
// padding: the stored and the delivered streams are then plain runs of
// pixels.
constexpr bool bmp_rows_unpadded(uint32_t width) { return width * 3 % 4 == 0; }

// The current 16- or 32-bit page delivered as 24-bit rows (bytes blue,
// green, red; each row padded with zeros to rowBytes): bytes start to
// start + length of that stream, never beyond the page's delivered bytes.
// Bytes placed, or -1 with errno.
int bmp_read_converted(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                       uint32_t* remaining);

// Writing (bmp_write.cpp): the operations of the format's row.
int bmp_create(FctEntry* e, const FormatRequest& request);
int bmp_finish(FctEntry* e);
void bmp_release(FctEntry* e);
int bmp_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions* options);
int32_t bmp_page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t flag);
