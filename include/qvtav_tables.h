/*
 * qvtav_tables.h - the codes of libqvtav400.so with their names and
 * meanings: file types, error codes and the layouts of the format views.
 *
 * Included by qvtav.h; each fact is written here once. The tables are
 * X-macros: a table macro takes the name of a macro of the caller's and
 * invokes it once per row, so C, C++ and the tool build their own arrays or
 * switches from the same rows, e.g.
 *
 *   #define ROW(code, meaning) { code, meaning },
 *   static const struct { uint32_t code; const char* text; } errors[] = {
 *       TAV_ERROR_TABLE(ROW)
 *   };
 *
 * Rows hold plain text: a meaning is one double-quoted string without
 * escapes, so that tools outside C (the Python module) read the rows as
 * they stand.
 */
#ifndef QVTAV_TABLES_H
#define QVTAV_TABLES_H

/* ------------------------------------------------------------------ */
/* File type codes                                                     */
/* ------------------------------------------------------------------ */

#define FILETYPE_RAW 1u
#define FILETYPE_BLOCK 2u
#define FILETYPE_TIFF 3u
#define FILETYPE_RESERVED4 4u
#define FILETYPE_RESERVED5 5u
#define FILETYPE_GIF 6u
#define FILETYPE_PCX 7u
#define FILETYPE_BMP 8u
#define FILETYPE_DCX 9u
#define FILETYPE_TGA 10u
#define FILETYPE_JPEG 11u
#define FILETYPE_AWD 12u
#define FILETYPE_XIFF 13u

/*
 * X(type, name). Raw data is what a file opens as when nothing is
 * recognised (or with TAV_OPEN_RAW); type 4 is never detected nor created;
 * type 5 can be created, and its page calls transfer nothing. The block
 * file is the library's own format of 4096-byte blocks.
 */
#define TAV_FILE_TYPE_TABLE(X)               \
    X(FILETYPE_RAW, "raw data")              \
    X(FILETYPE_BLOCK, "block file")          \
    X(FILETYPE_TIFF, "TIFF")                 \
    X(FILETYPE_RESERVED4, "reserved type 4") \
    X(FILETYPE_RESERVED5, "reserved type 5") \
    X(FILETYPE_GIF, "GIF")                   \
    X(FILETYPE_PCX, "PCX")                   \
    X(FILETYPE_BMP, "BMP")                   \
    X(FILETYPE_DCX, "DCX")                   \
    X(FILETYPE_TGA, "Targa")                 \
    X(FILETYPE_JPEG, "JPEG")                 \
    X(FILETYPE_AWD, "AWD")                   \
    X(FILETYPE_XIFF, "XIFF")

/* The name given to a number that is no file type. */
#define TAV_FILE_TYPE_UNKNOWN "unknown type"

/* ------------------------------------------------------------------ */
/* Error codes                                                         */
/* Codes below 254 carry the C runtime numbers (fixed here, never     */
/* taken from the host's <errno.h>); 254 and up are the library's.    */
/* Structured-storage status codes (0x8003xxxx) pass through as they  */
/* are.                                                                */
/* ------------------------------------------------------------------ */

#define TAV_EPERM 1
#define TAV_ENOENT 2
#define TAV_EIO 5
#define TAV_E2BIG 7
#define TAV_EBADF 9
#define TAV_ENOMEM 12
#define TAV_EACCES 13
#define TAV_EFAULT 14
#define TAV_EEXIST 17
#define TAV_EINVAL 22
#define TAV_ENFILE 23
#define TAV_E_REMOTE_EXISTS 80
#define TAV_E_TRANSPORT 254
#define TAV_E_NO_REMOTE 255
#define TAV_E_AWD_HEIGHT 257
#define TAV_E_AWD_ABSENT 258
#define TAV_E_AWD_VIEWER 259
#define TAV_E_MEMTABLE 260
#define TAV_E_WORKFILE 262
#define TAV_E_INDEX_KIND 263
#define TAV_E_INDEX_VERSION 265
#define TAV_E_OTHER_PAGE 266
#define TAV_E_SIZE 267
#define TAV_E_NO_SUBFILE 268
#define TAV_E_INCONSISTENT 269
#define TAV_E_ACTION 271
#define TAV_E_OPTION 272
#define TAV_E_FLAGS 273
#define TAV_E_COMPRESSION 274
#define TAV_E_WRITTEN 277
#define TAV_E_WRITE_FLAG 278
#define TAV_E_SEEK 279
#define TAV_E_SEQUENCE 280
#define TAV_E_ROTATION 282
#define TAV_E_COPY_BUFFER 283
#define TAV_E_ROWS_PER_STRIP 284
#define TAV_E_NO_BYTE_COUNTS 285
#define TAV_E_NO_OFFSETS 286
#define TAV_E_NO_LENGTH 287
#define TAV_E_NO_WIDTH 288
#define TAV_E_PAGE 289
#define TAV_E_FIELD_TYPE 290
#define TAV_E_COUNT 291
#define TAV_E_OFFSET 292
#define TAV_E_NOT_SUPPORTED 293
#define TAV_E_UNSUPPORTED 294
#define TAV_E_MISSING_ENTRY 296
#define TAV_E_DIRECTORY 297
#define TAV_E_PAGE_RANGE 298
#define TAV_E_NOT_TIFF 299
#define TAV_E_RAW_FILE 389
#define TAV_E_STRIPS_CUT 390
#define TAV_E_INDEX_SIZE 391
#define TAV_E_SHORT_STRIPS 399
#define TAV_E_TARGET_ASIDE 400
#define TAV_E_NO_IMAGE 401
#define TAV_E_TRUNCATED 402
#define TAV_E_AWD_CREATE 403
#define TAV_E_AWD_ENCODER 404

/* The system's general failure status: the XIFF reader failed to set up,
 * deliver rows or deliver the palette of a page (or to open the file, or
 * to select or describe a page). */
#define TAV_E_FAIL 0x80004005u

/* Structured-storage status codes that pass through unchanged. */
#define TAV_S_OK 0x00000000u
#define TAV_S_FALSE 0x00000001u
#define TAV_STG_S_CONVERTED 0x00030200u
#define TAV_STG_E_INVALIDFUNCTION 0x80030001u
#define TAV_STG_E_FILENOTFOUND 0x80030002u
#define TAV_STG_E_PATHNOTFOUND 0x80030003u
#define TAV_STG_E_ACCESSDENIED 0x80030005u
#define TAV_STG_E_INVALIDHANDLE 0x80030006u
#define TAV_STG_E_INSUFFICIENTMEMORY 0x80030008u
#define TAV_STG_E_INVALIDPOINTER 0x80030009u
#define TAV_STG_E_WRITEFAULT 0x8003001Du
#define TAV_STG_E_READFAULT 0x8003001Eu
#define TAV_STG_E_SHAREVIOLATION 0x80030020u
#define TAV_STG_E_FILEALREADYEXISTS 0x80030050u
#define TAV_STG_E_INVALIDPARAMETER 0x80030057u
#define TAV_STG_E_MEDIUMFULL 0x80030070u
#define TAV_STG_E_INVALIDNAME 0x800300FCu
#define TAV_STG_E_INVALIDHEADER 0x800300FBu
#define TAV_STG_E_INVALIDFLAG 0x800300FFu
#define TAV_STG_E_DOCFILECORRUPT 0x80030109u

/*
 * X(code, meaning): every code the library reports, with its meaning. The
 * tool prints these meanings, qvtav.hpp and the Python module give them.
 * TAV_S_OK is the error cell of a call that failed without setting a code.
 * TAV_S_FALSE has no row: it is the engine's "no more elements", never a
 * caller's error, and its number is TAV_EPERM's.
 */
#define TAV_ERROR_TABLE(X)                                                                                                 \
    X(TAV_S_OK, "no error code")                                                                                           \
    X(TAV_EPERM, "the XIFF reader library failed to load")                                                                 \
    X(TAV_ENOENT, "the file does not exist")                                                                               \
    X(TAV_EIO, "a strip needed more than 26 partial reads")                                                                \
    X(TAV_E2BIG, "read count at or above 2^31")                                                                            \
    X(TAV_EBADF, "handle not in use")                                                                                      \
    X(TAV_ENOMEM, "memory exhausted, or descriptor table full")                                                            \
    X(TAV_EACCES, "not allowed by the open mode, or file locked")                                                          \
    X(TAV_EFAULT, "remote: bad path or server")                                                                            \
    X(TAV_EEXIST, "the path exists already")                                                                               \
    X(TAV_EINVAL, "invalid argument")                                                                                      \
    X(TAV_ENFILE, "file control table full")                                                                               \
    X(TAV_E_REMOTE_EXISTS, "remote create: the path exists")                                                               \
    X(TAV_E_TRANSPORT, "a remote request did not reach the server")                                                        \
    X(TAV_E_NO_REMOTE, "remote-access library or entry point missing")                                                     \
    X(TAV_E_AWD_HEIGHT, "AWD page height 0")                                                                               \
    X(TAV_E_AWD_ABSENT, "AWD record or viewed mark absent (internal)")                                                     \
    X(TAV_E_AWD_VIEWER, "the AWD viewer failed")                                                                           \
    X(TAV_E_MEMTABLE, "memory table full, or block not in it")                                                             \
    X(TAV_E_WORKFILE, "no work-file name or work file")                                                                    \
    X(TAV_E_INDEX_KIND, "page index not of kind 32, or no page index")                                                     \
    X(TAV_E_INDEX_VERSION, "page index not version 1")                                                                     \
    X(TAV_E_OTHER_PAGE, "data for a page other than the current one")                                                      \
    X(TAV_E_SIZE, "a size or offset out of range for its field or format")                                                 \
    X(TAV_E_NO_SUBFILE, "no directory with the wanted subfile type, or an empty strip read")                               \
    X(TAV_E_INCONSISTENT, "page information inconsistent with the compression")                                            \
    X(TAV_E_ACTION, "option action other than 0 or 1")                                                                     \
    X(TAV_E_OPTION, "option not handled, or value missing")                                                                \
    X(TAV_E_FLAGS, "open flags invalid")                                                                                   \
    X(TAV_E_COMPRESSION, "compression or image coding not supported")                                                      \
    X(TAV_E_WRITTEN, "page already written")                                                                               \
    X(TAV_E_WRITE_FLAG, "write flag 1 refused while option 4 is set")                                                      \
    X(TAV_E_SEEK, "seek target at or above 2^31, or a file longer than 2^31 - 1 bytes")                                    \
    X(TAV_E_SEQUENCE, "data without page information, or information after data")                                          \
    X(TAV_E_ROTATION, "block file: rotation not 0, 90, 180, 270")                                                          \
    X(TAV_E_COPY_BUFFER, "copy: no memory for the buffer")                                                                 \
    X(TAV_E_ROWS_PER_STRIP, "rows per strip missing when needed")                                                          \
    X(TAV_E_NO_BYTE_COUNTS, "TIFF page lacks strip byte counts")                                                           \
    X(TAV_E_NO_OFFSETS, "TIFF page lacks strip offsets")                                                                   \
    X(TAV_E_NO_LENGTH, "TIFF page lacks ImageLength")                                                                      \
    X(TAV_E_NO_WIDTH, "TIFF page lacks ImageWidth")                                                                        \
    X(TAV_E_PAGE, "page 0, not the current page, or out of order")                                                         \
    X(TAV_E_FIELD_TYPE, "strip table field type or BMP bit count not supported")                                           \
    X(TAV_E_COUNT, "read or write count zero, beyond the page, or not servable")                                           \
    X(TAV_E_OFFSET, "read offset beyond the page data")                                                                    \
    X(TAV_E_NOT_SUPPORTED, "operation not supported for this file type")                                                   \
    X(TAV_E_UNSUPPORTED, "NewSubfileType or photometric not supported")                                                    \
    X(TAV_E_MISSING_ENTRY, "a needed directory entry is missing")                                                          \
    X(TAV_E_DIRECTORY, "damaged TIFF directory (55 or more entries, or the chain ends early)")                             \
    X(TAV_E_PAGE_RANGE, "page above the page count")                                                                       \
    X(TAV_E_NOT_TIFF, "not a TIFF header")                                                                                 \
    X(TAV_E_RAW_FILE, "page information asked of a raw file")                                                              \
    X(TAV_E_STRIPS_CUT, "strip count cut to the byte counts present")                                                      \
    X(TAV_E_INDEX_SIZE, "page index counts more than 65535 entries")                                                       \
    X(TAV_E_SHORT_STRIPS, "strips ended before the requested length")                                                      \
    X(TAV_E_TARGET_ASIDE, "replace failed and could not be undone: the old file lies under a unique name beside its path") \
    X(TAV_E_NO_IMAGE, "the file's structure holds no image")                                                               \
    X(TAV_E_TRUNCATED, "a header cut short, or inconsistent with the file's size")                                         \
    X(TAV_E_AWD_CREATE, "the AWD encoder could not make a new AWD file")                                                   \
    X(TAV_E_AWD_ENCODER, "the AWD encoder refused a page: its image file, a band or its end")                              \
    X(TAV_E_FAIL, "the XIFF reader failed")                                                                                \
    X(TAV_STG_S_CONVERTED, "storage: an existing file was replaced by the new compound file")                              \
    X(TAV_STG_E_INVALIDFUNCTION, "storage: invalid function")                                                              \
    X(TAV_STG_E_FILENOTFOUND, "storage: file not found")                                                                   \
    X(TAV_STG_E_PATHNOTFOUND, "storage: path not found")                                                                   \
    X(TAV_STG_E_ACCESSDENIED, "storage: access denied")                                                                    \
    X(TAV_STG_E_INVALIDHANDLE, "storage: invalid handle")                                                                  \
    X(TAV_STG_E_INSUFFICIENTMEMORY, "storage: out of memory")                                                              \
    X(TAV_STG_E_INVALIDPOINTER, "storage: invalid pointer")                                                                \
    X(TAV_STG_E_WRITEFAULT, "storage: write fault")                                                                        \
    X(TAV_STG_E_READFAULT, "storage: read fault")                                                                          \
    X(TAV_STG_E_SHAREVIOLATION, "storage: file in use by another writer")                                                  \
    X(TAV_STG_E_FILEALREADYEXISTS, "storage: file already exists")                                                         \
    X(TAV_STG_E_INVALIDPARAMETER, "storage: invalid parameter")                                                            \
    X(TAV_STG_E_MEDIUMFULL, "storage: medium full, or the file would pass 2^31 - 1 bytes")                                 \
    X(TAV_STG_E_INVALIDNAME, "storage: invalid name")                                                                      \
    X(TAV_STG_E_INVALIDHEADER, "storage: not a compound file (invalid header)")                                            \
    X(TAV_STG_E_INVALIDFLAG, "storage: invalid access mode")                                                               \
    X(TAV_STG_E_DOCFILECORRUPT, "storage: compound file corrupt")

/* The meaning given to a code the table does not list. */
#define TAV_ERROR_UNKNOWN "unknown error code"

/* ------------------------------------------------------------------ */
/* Format views                                                        */
/* ------------------------------------------------------------------ */

/*
 * Pages of GIF, Targa, PCX, DCX and BMP files carry the format's own fields
 * in five PageInfo words, the "format view" (qvtav.h describes how they are
 * delivered). The words, numbered:
 */
#define TAV_VIEW_COMPRESSION_INFO 0 /* compressionInfo.value */
#define TAV_VIEW_MAX_STRIP_SIZE 1   /* maxStripSize */
#define TAV_VIEW_STRIP_COUNT 2      /* stripCount */
#define TAV_VIEW_ROWS_PER_STRIP 3   /* rowsPerStrip */
#define TAV_VIEW_FLAGS_WORD 4       /* privateTagFlags (bits 0-7), formatBytes[0..2] (8-31) */

/* What a field holds: a number, or bits shown best in hexadecimal. */
#define TAV_VIEW_NUMBER 0
#define TAV_VIEW_BITS 1

/*
 * X(field, word, shift, bits, kind, words): the field is bits `bits` wide
 * from bit `shift` of its word; `words` says what it is. Bits of the five
 * words that no row names are 0 in the pages xtavgeti describes.
 */
#define TAV_GIF_VIEW(X)                                                                        \
    X(paletteBytes, TAV_VIEW_MAX_STRIP_SIZE, 0, 16, TAV_VIEW_NUMBER, "palette bytes")          \
    X(paletteOffset, TAV_VIEW_STRIP_COUNT, 0, 32, TAV_VIEW_NUMBER, "palette offset")           \
    X(dataOffset, TAV_VIEW_ROWS_PER_STRIP, 0, 32, TAV_VIEW_NUMBER, "data offset")              \
    X(colourTableBits, TAV_VIEW_FLAGS_WORD, 0, 8, TAV_VIEW_NUMBER, "colour table bits")        \
    X(lzwMinimumCodeSize, TAV_VIEW_FLAGS_WORD, 8, 8, TAV_VIEW_NUMBER, "LZW minimum code size") \
    X(imageFlags, TAV_VIEW_FLAGS_WORD, 16, 8, TAV_VIEW_BITS, "image descriptor flags")

/* greyRampPalette 1: an 8-bit page without a colour map, given a grey ramp. */
#define TAV_TGA_VIEW(X)                                                                       \
    X(greyRampPalette, TAV_VIEW_COMPRESSION_INFO, 0, 8, TAV_VIEW_NUMBER, "grey ramp palette") \
    X(paletteBytes, TAV_VIEW_MAX_STRIP_SIZE, 0, 32, TAV_VIEW_NUMBER, "palette bytes")         \
    X(paletteOffset, TAV_VIEW_STRIP_COUNT, 0, 32, TAV_VIEW_NUMBER, "palette offset")          \
    X(dataOffset, TAV_VIEW_ROWS_PER_STRIP, 0, 32, TAV_VIEW_NUMBER, "data offset")             \
    X(imageType, TAV_VIEW_FLAGS_WORD, 0, 8, TAV_VIEW_NUMBER, "image type")                    \
    X(mapEntryBits, TAV_VIEW_FLAGS_WORD, 8, 8, TAV_VIEW_NUMBER, "colour-map entry bits")      \
    X(pixelDepth, TAV_VIEW_FLAGS_WORD, 16, 8, TAV_VIEW_NUMBER, "pixel depth")                 \
    X(imageDescriptor, TAV_VIEW_FLAGS_WORD, 24, 8, TAV_VIEW_BITS, "image descriptor")

/* The fields of a PCX image, in PCX files and in the pages of DCX files,
 * which differ only in where the data offset lies. */
#define TAV_PCX_IMAGE_VIEW(X)                                                         \
    X(paletteBytes, TAV_VIEW_MAX_STRIP_SIZE, 0, 16, TAV_VIEW_NUMBER, "palette bytes") \
    X(paletteOffset, TAV_VIEW_STRIP_COUNT, 0, 32, TAV_VIEW_NUMBER, "palette offset")  \
    X(planes, TAV_VIEW_ROWS_PER_STRIP, 16, 16, TAV_VIEW_NUMBER, "planes")             \
    X(rowBytes, TAV_VIEW_FLAGS_WORD, 0, 16, TAV_VIEW_NUMBER, "row bytes (all planes)")

#define TAV_PCX_VIEW(X)                                                           \
    X(dataOffset, TAV_VIEW_ROWS_PER_STRIP, 0, 16, TAV_VIEW_NUMBER, "data offset") \
    TAV_PCX_IMAGE_VIEW(X)

#define TAV_DCX_VIEW(X)                                                             \
    X(dataOffset, TAV_VIEW_COMPRESSION_INFO, 0, 32, TAV_VIEW_NUMBER, "data offset") \
    TAV_PCX_IMAGE_VIEW(X)

/* rowBytes: of the rows as delivered. headerKind: 0 the 40-byte header, 1
 * the 12-byte core header, 2 version 4, 3 version 5. runLength: 0 none, 1
 * RLE8, 2 RLE4. */
#define TAV_BMP_VIEW(X)                                                                  \
    X(paletteBytes, TAV_VIEW_MAX_STRIP_SIZE, 0, 16, TAV_VIEW_NUMBER, "palette bytes")    \
    X(paletteOffset, TAV_VIEW_MAX_STRIP_SIZE, 16, 16, TAV_VIEW_NUMBER, "palette offset") \
    X(dataOffset, TAV_VIEW_STRIP_COUNT, 0, 16, TAV_VIEW_NUMBER, "data offset")           \
    X(rowBytes, TAV_VIEW_ROWS_PER_STRIP, 0, 16, TAV_VIEW_NUMBER, "row bytes")            \
    X(headerKind, TAV_VIEW_ROWS_PER_STRIP, 16, 8, TAV_VIEW_NUMBER, "header kind")        \
    X(runLength, TAV_VIEW_ROWS_PER_STRIP, 24, 8, TAV_VIEW_NUMBER, "run-length coding")

/* X(type, view): the file types whose pages have a format view. */
#define TAV_FORMAT_VIEW_TABLE(X)  \
    X(FILETYPE_GIF, TAV_GIF_VIEW) \
    X(FILETYPE_TGA, TAV_TGA_VIEW) \
    X(FILETYPE_PCX, TAV_PCX_VIEW) \
    X(FILETYPE_DCX, TAV_DCX_VIEW) \
    X(FILETYPE_BMP, TAV_BMP_VIEW)

#endif /* QVTAV_TABLES_H */
