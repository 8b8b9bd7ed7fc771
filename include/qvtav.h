/*
 * qvtav.h - the public interface of libqvtav400.so
 *
 * One flat C interface to multi-page raster image files: TIFF, PCX, DCX, BMP,
 * GIF, Targa, JPEG, AWD fax documents, XIFF, raw data and the block file
 * format, local or through the remote-access library.
 *
 * Usable from C99 and C++. Every record keeps the field order and widths of
 * the 32-bit layout; a field that carries a pointer is pointer-sized, so on
 * 64-bit targets the records grow (the sizes are checked at the end).
 *
 * Conventions of every export whose name begins with "x":
 *   - the last argument is the caller's error cell; it is set to 0 first;
 *   - failure is a negative result, with the error code in the error cell
 *     (xtavclose, xtavabort, xtavdelpgs, xtavputprops, xifsduplicate and
 *     xifsreplace leave the cell at 0; see their notes);
 *   - pages are counted from 1.
 *
 * Threads:
 *   - any number of threads may call the library at once, each on handles
 *     of its own; one handle is used by one thread at a time (calls on one
 *     handle from several threads must be serialised by the caller);
 *   - the whole-file calls (xtavdelpgs, xtavputprops, xifsduplicate,
 *     xifsreplace, IsAWDFile, IsStorage, CopyStorage) may run at once on
 *     different files, beside any handle calls;
 *   - a FileLocation record is written by the calls it is given to (result,
 *     size, the remote positions): calls running at once pass records of
 *     their own;
 *   - no lock is held across a file's read or write, so threads working on
 *     different files do not wait for each other; handle and memory-block
 *     allocation and unique names briefly take the named mutexes, which
 *     every process that loads the library shares;
 *   - one writer per file, among threads as among processes: while a
 *     handle writes a file (xtavcreat, xtavopen for update), a second
 *     handle for update and an edit by path of that file are refused with
 *     13 (TAV_EACCES); a compound file (AWD document) is open through one
 *     handle at a time in the process, and an open from any other thread
 *     meanwhile gets TAV_STG_E_SHAREVIOLATION;
 *   - the limits are the process's, shared by all its threads: 20 handles,
 *     20 file descriptors (a TIFF handle that writes takes two), 1024
 *     memory blocks;
 *   - errno, where the library leaves its code, is the calling thread's.
 */
#ifndef QVTAV_H
#define QVTAV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QVTAV_CALL __stdcall
#else
#define QVTAV_CALL
#endif

#if defined(__GNUC__)
#define QVTAV_EXPORT __attribute__((visibility("default")))
#else
#define QVTAV_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Version                                                             */
/* ------------------------------------------------------------------ */

/** Answered by option 18 of xtavopts. */
#define QVTAV_VERSION 0x00060200u

/* File types, error codes and format-view layouts, with their names and
 * meanings. */
#include "qvtav_tables.h"

/* ------------------------------------------------------------------ */
/* Open flags (third argument of xtavopen)                             */
/* ------------------------------------------------------------------ */

#define TAV_OPEN_READ 0x0u        /* access: read only */
#define TAV_OPEN_WRITE 0x1u       /* access: write (needs TAV_OPEN_UPDATE) */
#define TAV_OPEN_READWRITE 0x2u   /* access: read and write (needs TAV_OPEN_UPDATE) */
#define TAV_OPEN_ACCESS_MASK 0x3u /* the value 3 is invalid */
#define TAV_OPEN_UPDATE 0x8u      /* update; TIFF: append pages */
#define TAV_OPEN_RESERVED_MASK 0x700u
#define TAV_OPEN_RAW 0x80000000u  /* do not detect the format: open as type 1 */
/*
 * A file opened with write access may be changed by the open itself (a
 * TIFF page index file is converted in place into one directory chain with
 * a page offset table). An open that fails gives the file back byte for
 * byte, and so does xtavabort: the bytes the handle replaced, the open's
 * own changes included, are written back and the file is cut to its length
 * before the open. A handle closed with xtavclose keeps them.
 */

/* ------------------------------------------------------------------ */
/* Options (third argument of xtavopts); actions: 0 clear, 1 set/do    */
/* ------------------------------------------------------------------ */

#define TAV_OPT_ERROR 0u          /* u32 out: the handle's last error (error fetch) */
#define TAV_OPT_STRIP_READ 3u     /* xtavread's page argument names a strip */
#define TAV_OPT_STRIP_WRITE 4u    /* the caller delimits strips with xtavwrite's flag */
#define TAV_OPT_INDEX_WINDOW 9u   /* a number (not a pointer): page-index chunk size */
#define TAV_OPT_IMAGE_LENGTH 11u  /* u32 in: row count of the page being written */
#define TAV_OPT_COUNT_SIZE 12u    /* u16 out: bytes of one strip byte-count entry */
#define TAV_OPT_STRIP_COUNTS 13u  /* TavStripCounts: the current page's byte counts */
#define TAV_OPT_BYTE_ORDER 14u    /* u16 in: 0x4949 or 0x4D4D */
#define TAV_OPT_AREA1_INFO 15u    /* TavAreaInfo out: tag 32932 data */
#define TAV_OPT_AREA1_READ 16u    /* TavAreaRead */
#define TAV_OPT_AREA1_APPEND 17u  /* TavAreaAppend */
#define TAV_OPT_VERSION 18u       /* u32 out: QVTAV_VERSION, any handle */
#define TAV_OPT_AREA2_INFO 19u    /* TavAreaInfo out: tag 32931 data */
#define TAV_OPT_AREA2_READ 20u    /* TavAreaRead */
#define TAV_OPT_AREA2_APPEND 21u  /* TavAreaAppend */
#define TAV_OPT_MOVE_PAGE 22u     /* TavPageMove */
/*
 * Option 23 is an addition of this implementation: it copies the current
 * TIFF page's strip byte counts exactly as the file stores them (with a
 * TavStripCounts record, entries of the size option 12 reports). Option 13
 * reports the counts the reader uses, where a single strip runs to the end
 * of the file; option 23 is the count to copy a page by.
 */
#define TAV_OPT_STORED_COUNTS 23u

/*
 * Option 13 on a block file page gives one entry: the page's bytes at one
 * bit per pixel with every row in whole bytes, imageLength x
 * ceil(imageWidth / 8).
 *
 * Options 17 and 21 append to an annotation area of the TIFF page being
 * written, from its xtavputi until the next xtavputi or the close. With no
 * page being written (before the first xtavputi of a new file or of an
 * update session, or on a handle that only reads) they are refused with 13
 * and write nothing; the library never writes an area over the file's
 * header. Other file types have no areas: an append of bytes is refused
 * with 293.
 */

/* Value record of options 13 and 23. */
typedef struct TavStripCounts {
    uint32_t count;  /* entries wanted */
    void* buffer;    /* receives count entries of 2 or 4 bytes */
} TavStripCounts;

/* Value record of options 15 and 19. */
typedef struct TavAreaInfo {
    uint32_t length;
    uint32_t offset;
} TavAreaInfo;

/* Value record of options 16 and 20. */
typedef struct TavAreaRead {
    uint32_t count;  /* in: bytes wanted; out: bytes read */
    uint32_t offset; /* within the area */
    void* buffer;
} TavAreaRead;

/* Value record of options 17 and 21. */
typedef struct TavAreaAppend {
    uint32_t count;
    const void* buffer;
} TavAreaAppend;

/*
 * Value record of option 22 (pages counted from 1). A TIFF file's page
 * offset table follows the move and is named by the first directory of the
 * chain that has a table entry (readers take the table from there); the
 * entry of the directory that named it before is cleared. A move that would
 * leave readers without the table (no table entry on the new chain, or a
 * damaged directory before it) is refused with TAV_E_DIRECTORY, the file
 * as it was.
 */
typedef struct TavPageMove {
    uint32_t targetPage; /* the moved page comes to stand before this one */
    uint32_t movedPage;
} TavPageMove;

/* ------------------------------------------------------------------ */
/* Records                                                             */
/* ------------------------------------------------------------------ */

/* Library compression codes (PageInfo.compression). */
#define TAV_COMP_NONE 1u
#define TAV_COMP_CCITT_MH 2u
#define TAV_COMP_CCITT_T4 3u
#define TAV_COMP_CCITT_T6 4u
#define TAV_COMP_LZW 5u
#define TAV_COMP_PACKBITS 6u
#define TAV_COMP_JPEG 7u
#define TAV_COMP_JPEG_INFO 12u /* compressionInfo.jpeg describes the JPEG stream */

/* Bits the reader adds to PageInfo.compressionInfo of CCITT pages (beside
 * the T4Options bits); the writer leaves TAV_CODING_T4 out of T4Options
 * and T6Options. */
#define TAV_CODING_MODIFIED_HUFFMAN 4u /* compression 2 */
#define TAV_CODING_T4 8u               /* compression 3 */

/* Library photometric codes (PageInfo.photometric). */
#define TAV_PHOTO_GRAY_WHITE 5u  /* greyscale, min is white (more than 1 bit) */
#define TAV_PHOTO_PALETTE 7u
#define TAV_PHOTO_RGB 8u
#define TAV_PHOTO_BILEVEL_WHITE 9u  /* bilevel, min is white */
#define TAV_PHOTO_BILEVEL_BLACK 10u /* bilevel, min is black */
#define TAV_PHOTO_GRAY_BLACK 11u    /* greyscale, min is black */
#define TAV_PHOTO_YCBCR 12u

/* Description of an interchange-format JPEG stream (76 bytes on 32-bit). */
typedef struct JpegInfo {
    uint32_t jpegOptions;
    uint32_t headerLength;
    uint8_t* header;          /* the stream from its start up to the SOS marker */
    uint32_t interchange;
    uint32_t interchangeOffset;
    uint32_t interchangeLength;
    uint32_t restartInterval; /* JPEG files: the data start */
    uint32_t unused[12];
} JpegInfo;

/* One of the nine TIFF text tags (8 bytes on 32-bit). */
typedef struct TextTagBuf {
    uint32_t length; /* set by xtavgeti: the tag's count, 0 if absent */
    char* buffer;    /* set by the caller; xtavgtdata fills it */
} TextTagBuf;

/* Index of each text tag in the PageInfo.textTags array. */
#define TAV_TEXT_DOCUMENT_NAME 0
#define TAV_TEXT_IMAGE_DESCRIPTION 1
#define TAV_TEXT_MAKE 2
#define TAV_TEXT_MODEL 3
#define TAV_TEXT_PAGE_NAME 4
#define TAV_TEXT_DATE_TIME 5
#define TAV_TEXT_ARTIST 6
#define TAV_TEXT_HOST_COMPUTER 7
#define TAV_TEXT_SOFTWARE 8
#define TAV_TEXT_TAG_COUNT 9

/* Photometric area layouts (80 bytes on every target). */
typedef struct TavGrayArea {
    uint32_t grayResponseSize;
    void* grayResponseBuffer;
    uint16_t grayResponseUnit;
    uint16_t grayReserved;
} TavGrayArea;

typedef struct TavPaletteArea {
    uint32_t colorMapSize;
    void* colorMapBuffer;
    uint32_t transferSize;
    void* transferBuffer;
    uint32_t whitePointSize;
    void* whitePointBuffer;
    uint32_t primariesSize;
    void* primariesBuffer;
    uint32_t planarConfig;
} TavPaletteArea;

typedef struct TavRgbArea {
    uint32_t whitePointSize;
    void* whitePointBuffer;
    uint32_t primariesSize;
    void* primariesBuffer;
    uint32_t planarConfig;
} TavRgbArea;

typedef struct TavYCbCrArea {
    uint32_t coefficients[6];     /* 3 x (numerator, denominator) */
    uint16_t subSampling[2];
    uint16_t positioning;
    uint16_t positioningReserved;
    uint32_t referenceBlackWhite[12]; /* 6 x (numerator, denominator) */
} TavYCbCrArea;

typedef union TavPhotometricArea {
    uint32_t words[20];
    TavGrayArea gray;
    TavPaletteArea palette;
    TavRgbArea rgb;
    TavYCbCrArea ycbcr;
} TavPhotometricArea;

/* The page-information record (584 bytes on 32-bit, 632 on x86_64). */
typedef struct PageInfo {
    uint32_t infoKind;          /* always 4 on output */
    uint32_t subfileType;       /* in: wanted; out: found (0, 1, 4) */
    uint32_t xResNum;
    uint32_t xResDen;
    uint32_t yResNum;
    uint32_t yResDen;
    uint32_t resolutionUnit;    /* 1 none, 2 inch, 3 centimetre */
    uint32_t imageWidth;
    uint32_t imageLength;
    uint32_t reserved;
    uint32_t rotation;          /* 0, 90, 180, 270 */
    uint32_t mirrored;
    uint32_t bitsPerSample[5];
    uint32_t samplesPerPixel;
    uint32_t byteOrder;         /* 0x4949 or 0x4D4D */
    uint32_t fillOrder;
    uint32_t compression;       /* TAV_COMP_* */
    union {
        uint32_t value;         /* CCITT/LZW option bits; format views */
        JpegInfo* jpeg;         /* compression 12 */
    } compressionInfo;
    uint32_t fileType;
    uint32_t maxStripSize;
    uint32_t stripCount;
    uint32_t rowsPerStrip;      /* 0xFFFFFFFF when absent */
    uint8_t privateTagFlags;    /* 1: tag 32932 present, 2: tag 32931 present */
    uint8_t formatBytes[3];     /* used by single-image formats */
    uint32_t photometric;       /* TAV_PHOTO_* */
    TavPhotometricArea area;
    TextTagBuf* textTags;       /* in: 9 entries, or null */
    uint32_t propertiesLength;
    char* title;
    char* author;
    char* subject;
    char* keywords;
    char* comments;
    uint32_t redMask;
    uint32_t greenMask;
    uint32_t blueMask;
    uint32_t alphaMask;
    uint32_t colorSpaceType;    /* 1, or 0x4D424544 with an ICC profile */
    uint32_t endpoints[9];
    uint32_t gammaRed;
    uint32_t gammaGreen;
    uint32_t gammaBlue;
    uint32_t intent;
    union {
        uint32_t value;         /* file offset of the ICC profile */
        const void* ptr;        /* writing: the profile's bytes */
    } profileOffset;
    uint32_t profileSize;
    uint32_t profileReserved;
    void* profileBuffer;        /* in: xtavgtdata fills it with the profile */
    char linkedProfileName[260];
    uint16_t bmpBytesPerPixel;
    uint16_t bmpReserved;
    uint32_t bmpMasks[3];
} PageInfo;

/* Word `word` (TAV_VIEW_COMPRESSION_INFO ... TAV_VIEW_FLAGS_WORD) of a
 * page's format view; 0 for any other number. */
static inline uint32_t tav_view_word(const PageInfo* info, unsigned word) {
    switch (word) {
    case TAV_VIEW_COMPRESSION_INFO: return info->compressionInfo.value;
    case TAV_VIEW_MAX_STRIP_SIZE: return info->maxStripSize;
    case TAV_VIEW_STRIP_COUNT: return info->stripCount;
    case TAV_VIEW_ROWS_PER_STRIP: return info->rowsPerStrip;
    case TAV_VIEW_FLAGS_WORD:
        return (uint32_t)info->privateTagFlags | (uint32_t)info->formatBytes[0] << 8 |
               (uint32_t)info->formatBytes[1] << 16 | (uint32_t)info->formatBytes[2] << 24;
    default: return 0;
    }
}

/* A field of a page's format view, by the word, shift and bits of its row
 * in a TAV_*_VIEW table. */
static inline uint32_t tav_view_field(const PageInfo* info, unsigned word, unsigned shift,
                                      unsigned bits) {
    uint32_t value = shift < 32 ? tav_view_word(info, word) >> shift : 0;
    return bits >= 32 ? value : value & ((1u << bits) - 1u);
}

/*
 * Pages of GIF, PCX, DCX, BMP, Targa and JPEG files
 *
 * The five PageInfo words from compressionInfo through the flags word
 * (privateTagFlags and formatBytes[3]) carry the format's own fields, its
 * "format view", laid out by the tables TAV_GIF_VIEW, TAV_TGA_VIEW,
 * TAV_PCX_VIEW, TAV_DCX_VIEW and TAV_BMP_VIEW of qvtav_tables.h;
 * tav_view_field() reads a field by its row. Of BMP pages,
 * bmpBytesPerPixel and bmpMasks describe 16-, 24- and 32-bit pages; the
 * colour-space fields come from version 4 and 5 headers.
 *
 *   JPEG: compressionInfo.jpeg the page's JpegInfo; maxStripSize the
 *   stored bytes; stripCount 1; rowsPerStrip imageLength; flags word 0.
 *   The JpegInfo's header holds the file up to the SOS marker (a JFXX
 *   thumbnail segment left out) and its restartInterval word the file
 *   offset of the SOS marker, where xtavread's data starts: it is no
 *   restart interval, and the TIFF writer records none from it.
 *
 * dataOffset is where xtavread's data starts; the data is delivered as
 * stored (GIF LZW data from the byte after the code size, PCX run-length
 * rows, Targa data of every image type, JPEG scans), except 16- and 32-bit
 * BMP pages (below). paletteOffset 0 means the file holds no palette:
 * xtavgtdata then gives a grey ramp (GIF; 8-bit Targa pages with greyRamp
 * 1, 768 bytes) or, for 16-colour PCX and DCX pages of version 3, the
 * built-in palette W (pages of 3 planes) or E (any other plane count).
 * Palettes are delivered as stored: GIF, PCX, DCX red, green, blue; BMP
 * blue, green, red, 0 (core header: blue, green, red); Targa colour-map
 * entries of 2 (15 and 16 bits), 3 or 4 bytes. xtavgtdata writes at most
 * colorMapSize bytes, and a BMP profile of at most profileSize bytes.
 *
 * BMP pages of 16 and 32 bits are delivered as 24-bit rows: blue, green,
 * red, each component the top bits of its mask's bits, so the 5-bit value
 * 31 gives 0xF8; every row is rowBytes long, padded with zeros to a
 * multiple of 4 bytes. When 3 x imageWidth is a multiple of 4 the rows need
 * no padding and dataBytes is the stored pixel bytes / bytes per pixel x 3;
 * otherwise dataBytes is imageLength x rowBytes, and each stored row keeps
 * its own padding. Any start and count may be read: xtavread returns the
 * bytes placed and the remaining count is the delivered bytes left.
 *
 * Refusals (xtavgeti):
 *   401  a GIF whose blocks lead to no image descriptor; a JPEG file that
 *        ends before its baseline frame header or its scan header;
 *   402  a file that ends before its page data starts; a Targa first
 *        colour-map index above the map's length; a PCX xmax or ymax below
 *        xmin or ymin; a DCX page whose table entry lies beyond the file
 *        or inside the mark and the entries its table lists (up to the
 *        closing 0: a short table with page 1 right behind it reads), or
 *        whose next entry comes before the end of its header; a BMP
 *        profile that starts below the pixel data; a JPEG segment length
 *        below 2, or a JFXX segment that runs beyond the file;
 *   267  BMP pixel data or palette at or beyond offset 32768, a palette of
 *        more than 65535 bytes, rows wider than the 16-bit row field holds
 *        (24-bit rows of more than 10921 pixels); PCX rows of all planes
 *        over 65535 bytes; a JPEG frame header longer than 773 bytes;
 *   274  a JPEG frame other than baseline; a BMP compression the bit count
 *        does not allow; Targa colour-map entries of other than 15, 16, 24
 *        or 32 bits;
 *   289  a BMP with a negative width or height (top-down bitmaps);
 *   290  a BMP bit count other than 1, 4, 8, 16, 24, 32.
 * Header bytes beyond the end of a file read as zeros. Only the first image
 * of a GIF file is reachable. With option 3 (by-strip reading) xtavread
 * still refuses, with 289, any page but the current one: the offsets it
 * reads from are the current page's. A BMP's linked profile is looked for
 * on this machine, also for a remote file (a name with a '/' is a path,
 * any other is looked for in /usr/share/color/icc); only a regular,
 * non-empty file counts, otherwise the page reports colorSpaceType 1 and
 * no profile.
 *
 * Writing PCX, DCX and BMP pages: xtavputi writes the header and leaves
 * the layout values in the caller's record (PCX: rowsPerStrip's low half
 * 128, the flags word the header's bytes per line; DCX: compressionInfo
 * the page's data offset and the same flags word; BMP: stripCount the data
 * offset, rowsPerStrip the bytes per row and the header kind, profileBuffer
 * the library's copy of an embedded profile, valid until close). xtavwrite
 * takes whole raw rows, top row first. Refusals (xtavputi): 277 a second
 * PCX or BMP page, or a page of one opened for update, or a DCX page given
 * before; 289 a page out of order; 267 a DCX page beyond 1024, PCX sides
 * of 0 or above 65535, BMP rows above 32764 bytes or above 65535 rows;
 * 274 a PCX bit depth other than 1 to 8 or 24; 290 a BMP bit count other
 * than 1, 4, 8, 16, 24, 32; 269 a colour map shorter than 3 x 2^bits
 * bytes (PCX), or a BMP colour map of 0 bytes, of more than 2^bits
 * entries or not a whole number of 4-byte entries; 272 none. A BMP
 * palette is written as given (colours used: its entries), so it may hold
 * fewer colours than the bit depth allows; 402 a DCX page whose table
 * slot (its entry and the 0 behind it) lies in the bytes of a page the
 * table lists, before anything is written (a new page's header never goes
 * below offset 4100). Refusals (xtavwrite): 291 fewer
 * bytes than one row, rows beyond the page, a BMP of 0 bytes a row; 266
 * data for a page other than the one started; 280 data after the page is
 * complete (the last-data flag, or every BMP row placed).
 */

/*
 * AWD pages (file type 12) carry their display settings in three words of
 * PageInfo, two of them as pairs of 16-bit halves:
 *   maxStripSize  low half: the band size in bytes (xtavgeti in: the size
 *                 of the buffers xtavread will fill, 0 for one row; out:
 *                 whole rows, as the viewer settled it); high half: the
 *                 display rotation (0, 90, 180, 270);
 *   stripCount    low half: horizontal, high half: vertical display scale
 *                 in percent (2 to 6500);
 *   rowsPerStrip  the display flags (TAV_AWD_FLAG_*).
 * imageLength is the page's own line count rounded up to whole bands (so
 * dataBytes and rawBytes are whole bands), xResNum and yResNum the page's
 * own resolution: the pages of one document may differ in both.
 *
 * Guarantees of AWD files:
 *  - xtavdelpgs, option 22 (move) and a page written over another either
 *    fail and leave the file as it was, or succeed: once the new display
 *    order is written the change is made and the call reports success
 *    (nothing after that point can fail it). A page written over another
 *    replaces it in that same step, so a failure keeps the old page.
 *  - A cut keeps each surviving page's rows and resolution; pages of one
 *    document that differ in resolution come back as one new document per
 *    run of pages of one resolution.
 *  - Scales given to xtavputi (2 to 6500) read back exactly whenever the
 *    16-bit page record can hold them relative to the document's scale;
 *    otherwise they read back as the next scale that can be shown, or the
 *    largest one.
 *  - The display order is taken as found: a name listed twice counts once
 *    (where first listed), a listed name without a document stream is a
 *    document of no pages, names after an empty name are not shown. Edits
 *    change only the names they remove and add and keep every other byte,
 *    and never remove a document the order still names. Names that are not
 *    UTF-8 are Windows-1252 (the byte 0xFC of a name is U+00FC) and are
 *    written back as they were read.
 *  - New documents take names that no storage of the file uses, so left-over
 *    records of an earlier document never pass to them.
 * Choices:
 *  - A page that has not been viewed shows its document's defaults (no
 *    rotation, scales 50, flags 0) combined with its own record, not its
 *    document's record: callers of this interface rely on those values for
 *    unviewed pages. The library's own document-wide change (the rotate-all
 *    flag) marks every page viewed, so it shows at once.
 *  - The rotate-all flag turns every document once, also one listed twice.
 *  - xtavputi on an existing page stores its settings and viewed mark at
 *    once, as a change of its own (no data needs to follow). Data written
 *    after it replaces the page; if that replacement fails, the old page
 *    stays, with the settings xtavputi stored.
 */
#define TAV_AWD_LOW(word) ((uint16_t)((uint32_t)(word) & 0xFFFFu))
#define TAV_AWD_HIGH(word) ((uint16_t)((uint32_t)(word) >> 16))
#define TAV_AWD_PAIR(low, high) ((uint32_t)(uint16_t)(low) | ((uint32_t)(uint16_t)(high) << 16))
#define TAV_AWD_FLAG_DOCUMENT 0x10u         /* folded in from the document's flags */
#define TAV_AWD_FLAG_VIEWED 0x20000000u     /* the page has been viewed */
#define TAV_AWD_FLAG_ROTATE_ALL 0x40000000u /* xtavputi: turn every document by the rotation
                                               given and count every page as viewed */

/* Sizes that accompany xtavgeti (20 bytes on 32-bit). */
typedef struct PageSizes {
    uint32_t dataBytes;    /* out: stored bytes of the page */
    uint32_t rawBytes;     /* out: row bytes x imageLength */
    uint32_t sizeCapacity; /* in: entries in sizes, 0 for none */
    uint32_t sizeCount;    /* out: number of strips */
    uint32_t* sizes;       /* in: receives strip byte counts */
} PageSizes;

/* Options of xtavputi (may be passed as null). */
typedef struct PutOptions {
    uint32_t typeGiven;  /* 0: fileType of the record := the handle's */
    uint32_t bufferSize; /* block file: page buffer size (0 = default) */
    uint32_t strips;     /* TIFF, record fileType 2: number of strips */
    uint32_t rows;       /* TIFF, record fileType 2: rows per strip */
} PutOptions;

#define TAV_SERVER_SIZE 68
#define TAV_PATH_SIZE 260

/*
 * Where a path lives. A null FileLocation means a local path. For a
 * remote path set isRemote to 1, server to the server, connection as the
 * remote-access library wants it. The library writes result, size and
 * the remote position and buffer fields; it never fills path.
 *
 * Server names (the libqvrpc400.so built with the library): an absolute
 * path ("/...") serves the files of that directory of this machine, paths
 * relative to it. Any other name is an SSH server reached over SFTP:
 * "host", "user@host", "host:port", "user@host:port", "[address]:port", or
 * a Host alias of the OpenSSH client configuration, resolved as ssh does
 * (HostName, Port, User, IdentityFile, UserKnownHostsFile, ConnectTimeout,
 * ...). The configuration is the file named by the environment variable
 * QVRPC_SSH_CONFIG when it is set, else ~/.ssh/config and the system-wide
 * one. Paths go to the server as given (absolute, or relative to the
 * login directory). The server's host key must be in the known-hosts
 * files: an unknown or changed key fails the call with 14 (TAV_EFAULT)
 * and nothing is sent. Login is by public key only (the SSH agent or the
 * identity files; an encrypted key without the agent is skipped, never
 * asked for): a refused login is 13 (TAV_EACCES). An unreachable server,
 * a connect that takes longer than ConnectTimeout (10 s when the
 * configuration names none) and a connection that drops are 254
 * (TAV_E_TRANSPORT); the next call connects again. One SSH session is
 * shared by every file of the same server name and connection number in
 * the process.
 */
typedef struct FileLocation {
    int32_t result;
    uint32_t isRemote;
    char server[TAV_SERVER_SIZE];
    uint32_t remoteId;
    uint32_t connection;
    uint32_t size;
    uint32_t serverPos;
    uint32_t pos;
    uint8_t* readBuf;
    int32_t readBufStart;
    uint32_t readBufLen;
    uint8_t* writeBuf;
    uint32_t writeBufLen;
    char path[TAV_PATH_SIZE];
} FileLocation;

/* ------------------------------------------------------------------ */
/* Exports                                                             */
/* ------------------------------------------------------------------ */

QVTAV_EXPORT int QVTAV_CALL DllMain(void* instance, uint32_t reason, void* reserved);
QVTAV_EXPORT uint32_t QVTAV_CALL IsAWDFile(const char* path, uint32_t* isAwd);
QVTAV_EXPORT uint32_t CopyStorage(const char* source, const char* destination, uint32_t overwrite);
QVTAV_EXPORT uint32_t IsStorage(const char* path);

QVTAV_EXPORT int32_t QVTAV_CALL xtavclose(int32_t* handle, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavcreat(FileLocation* location, char* path, uint32_t* fileType,
                                          uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavgeti(int32_t* handle, uint16_t page, PageInfo* info,
                                         PageSizes* sizes, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavopen(FileLocation* location, char* path, uint32_t flags,
                                         uint32_t* fileType, uint32_t* pageCount, uint32_t* error);
/* Option 9 passes a number in the value pointer's place: (uint32_t*)(uintptr_t)n. */
QVTAV_EXPORT int32_t QVTAV_CALL xtavopts(int32_t* handle, uint32_t action, uint32_t option,
                                         uint32_t* value, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavputi(int32_t* handle, uint16_t page, PageInfo* info,
                                         PutOptions* options, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavread(int32_t* handle, void* buffer, uint32_t start,
                                         uint32_t count, uint32_t* remaining, uint16_t page,
                                         uint32_t* error);
/*
 * The length limit. No file the library writes ends beyond 2^31 - 1 bytes
 * (the reach of a seek), so every file it writes opens in it again. What
 * would end beyond is refused with 279 before any byte of it is written:
 *   - xtavputi: a TIFF page whose directory values leave no room for what
 *     close writes; a DCX page header with its palette; a BMP file with its
 *     embedded profile;
 *   - xtavwrite: page data together with what close still writes behind it
 *     (TIFF strip tables and page offset table, block file record, list and
 *     directory blocks, the PCX and DCX 256-colour palette); raw bytes;
 *   - the same for appends to a file opened for update; xtavdelpgs and
 *     xtavputprops fail (errno 279) when the rewritten file would cross it,
 *     the file unchanged;
 *   - AWD documents: the compound-file engine refuses growth beyond it
 *     before changing anything: the page's last xtavwrite fails with
 *     STG_E_MEDIUMFULL (0x80030070) and the document keeps its pages.
 *
 * A page whose data did not all reach the file (an xtavwrite refused at
 * the limit; a write that failed, local or a remote RPCIFSwrite) is
 * broken: further data for it is refused with the same code, and
 * xtavclose drops it and returns -1 (errno: that code). The file keeps the
 * pages before it, linked as before, and ends behind them (a remote file
 * is cut by copying, as xtavabort cuts one). TIFF and block files: xtavputi
 * for the same page drops it too, and the page can be given again; DCX: a
 * further page is refused with the broken page's code; PCX: the file is
 * left empty.
 */
QVTAV_EXPORT int32_t QVTAV_CALL xtavwrite(int32_t* handle, void* buffer, uint32_t count,
                                          uint16_t page, uint8_t flag, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavgtdata(int32_t* handle, PageInfo* info, uint32_t* error);
/*
 * xtavdelpgs, xtavputprops, xifsduplicate and xifsreplace leave their error
 * cell at 0 by design; after a failure the library's code is in errno.
 *
 * A remote replace refuses (13) a target that this process holds open for
 * writing through a remote descriptor (an xtavopen for update or an
 * xtavcreat of the same server and path, '/' and '\' alike): what that
 * handle writes would otherwise be lost. A source that is not on the
 * target's server is first copied there under a unique name beside the
 * target, so a copy that fails never stands at the target's name (a copy
 * that fails is made again under the next name, up to 99 times). Then the
 * target is moved aside under a unique name, the new file moved in, and the
 * backup deleted. When the move in fails and the target cannot be moved
 * back either, the result is -1 with errno TAV_E_TARGET_ASIDE: the target's
 * path is empty and its old content lies under the unique name beside it;
 * the source is as it was. For xtavdelpgs and xtavputprops on a remote
 * document this leaves the edited document only in its work file in the
 * local temporary directory, which is then kept (every other failure, and
 * success, deletes the work file). A local replace never leaves its
 * target's path empty.
 *
 * When a local file replaces a remote one (isRemote 1), the library keeps a
 * copy of that file of its own, owner-only, under a name it makes in the
 * temporary directory; later read-only opens of the remote file are served
 * from that copy while the server reports the remote file's status
 * unchanged (its size and the two values that change with it) and the
 * copy is exactly as the library made it
 * (device, inode, size, modification time); otherwise the copy is dropped
 * and the open goes to the server. The caller's file is never read again
 * after the replace, nor ever deleted; the library deletes only its own
 * copy, when the cache drops it, at the next such replace, or when the
 * library is unloaded.
 *
 * A TIFF rewrite (xtavdelpgs, and xtavputprops when the new properties do
 * not fit the old block) copies each kept page with the directories that
 * hang from it: Exif (tag 34665), GPS (34853), Interoperability (40965),
 * SubIFDs (330), TIFF-FX global parameters (400) and any entry of field
 * type IFD (13), with their values, strips or tiles and next links, every
 * offset moved. A directory that several pages point at is copied once and
 * stays shared. Damage below a page costs the damaged part, never the page:
 * left out are a pointer that leads out of the file or into its header, to
 * a directory cut off by the end of the file, back into its own tree (a
 * loop) or more than 16 levels below the page (a next link counts as a
 * level), and a sub-directory's entry whose value lies outside the file.
 * Sub-directories, their values and the lists of them whose copies would
 * claim more bytes than the file holds (they overlap, or one list is named
 * again and again) refuse the edit (TAV_E_DIRECTORY).
 *
 * The copy never keeps an offset into the old file's layout. Entries whose
 * value may be an offset it cannot relocate are dropped, in pages and in
 * the directories below them: FreeOffsets and FreeByteCounts (288, 289);
 * entries of a field type above 13 (their size is unknown); entries of type
 * LONG with a private tag (32768 and up), except 33723, 34865 to 34869,
 * 37393, 40962 and 40963, whose values are numbers; old-style JPEG tables
 * (519 to 521) that are not LONG or name more than 16 tables; a
 * JPEGInterchangeFormat whose block cannot be placed. Offsets inside opaque
 * data (a camera's MakerNote, say) are copied as they stand. Page moves
 * (option 22) and property updates in place touch none of this.
 */
QVTAV_EXPORT int32_t QVTAV_CALL xtavdelpgs(FileLocation* location, char* path, int32_t first,
                                           uint32_t last, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavputprops(FileLocation* location, char* path,
                                             PageInfo* properties, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xtavabort(int32_t* handle, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xifsduplicate(FileLocation* location, char* source,
                                              char* destination, uint32_t* error);
QVTAV_EXPORT int32_t QVTAV_CALL xifsreplace(FileLocation* targetLocation, char* target,
                                            FileLocation* sourceLocation, char* source,
                                            uint32_t* error);

#ifdef __cplusplus
}
#endif

/* ------------------------------------------------------------------ */
/* Record sizes                                                        */
/* ------------------------------------------------------------------ */

#if defined(__cplusplus) && __cplusplus >= 201103L
#define QVTAV_STATIC_ASSERT(c, m) static_assert(c, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QVTAV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#ifdef QVTAV_STATIC_ASSERT
QVTAV_STATIC_ASSERT(sizeof(TavPhotometricArea) == 80, "photometric area is 80 bytes");
QVTAV_STATIC_ASSERT(sizeof(PutOptions) == 16, "PutOptions is 16 bytes");
#if UINTPTR_MAX == 0xFFFFFFFFu
QVTAV_STATIC_ASSERT(sizeof(PageInfo) == 584, "PageInfo is 584 bytes on 32-bit");
QVTAV_STATIC_ASSERT(sizeof(PageSizes) == 20, "PageSizes is 20 bytes on 32-bit");
QVTAV_STATIC_ASSERT(sizeof(JpegInfo) == 76, "JpegInfo is 76 bytes on 32-bit");
QVTAV_STATIC_ASSERT(sizeof(TextTagBuf) == 8, "TextTagBuf is 8 bytes on 32-bit");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, photometric) == 108, "photometric at 108");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, textTags) == 192, "textTags at 192");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, bmpMasks) == 572, "bmpMasks at 572");
#else
QVTAV_STATIC_ASSERT(sizeof(PageInfo) == 632, "PageInfo is 632 bytes on 64-bit");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, compressionInfo) == 88, "compressionInfo at 88");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, fileType) == 96, "fileType at 96");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, photometric) == 116, "photometric at 116");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, area) == 120, "photometric area at 120");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, textTags) == 200, "textTags at 200");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, title) == 216, "title at 216");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, profileOffset) == 328, "profileOffset at 328");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, profileBuffer) == 344, "profileBuffer at 344");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, linkedProfileName) == 352, "linkedProfileName at 352");
QVTAV_STATIC_ASSERT(offsetof(PageInfo, bmpMasks) == 616, "bmpMasks at 616");
QVTAV_STATIC_ASSERT(sizeof(JpegInfo) == 80, "JpegInfo is 80 bytes on 64-bit");
QVTAV_STATIC_ASSERT(sizeof(PageSizes) == 24, "PageSizes is 24 bytes on 64-bit");
QVTAV_STATIC_ASSERT(sizeof(TextTagBuf) == 16, "TextTagBuf is 16 bytes on 64-bit");
QVTAV_STATIC_ASSERT(offsetof(FileLocation, readBuf) == 96, "readBuf at 96");
QVTAV_STATIC_ASSERT(offsetof(FileLocation, writeBuf) == 112, "writeBuf at 112");
QVTAV_STATIC_ASSERT(offsetof(FileLocation, path) == 124, "path at 124");
#endif
#endif

#endif /* QVTAV_H */
