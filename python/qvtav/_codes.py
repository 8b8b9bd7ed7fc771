"""The numbers of qvtav.h: file types, open flags, codes of the records, and
every error code with its meaning."""

FILETYPE_RAW = 1
FILETYPE_BLOCK = 2
FILETYPE_TIFF = 3
FILETYPE_RESERVED4 = 4
FILETYPE_RESERVED5 = 5
FILETYPE_GIF = 6
FILETYPE_PCX = 7
FILETYPE_BMP = 8
FILETYPE_DCX = 9
FILETYPE_TGA = 10
FILETYPE_JPEG = 11
FILETYPE_AWD = 12
FILETYPE_XIFF = 13

TYPE_NAMES = {FILETYPE_RAW: "raw", FILETYPE_BLOCK: "block file", FILETYPE_TIFF: "TIFF",
              FILETYPE_RESERVED4: "type 4", FILETYPE_RESERVED5: "type 5", FILETYPE_GIF: "GIF",
              FILETYPE_PCX: "PCX", FILETYPE_BMP: "BMP", FILETYPE_DCX: "DCX", FILETYPE_TGA: "Targa",
              FILETYPE_JPEG: "JPEG", FILETYPE_AWD: "AWD", FILETYPE_XIFF: "XIFF"}

TAV_OPEN_READ = 0x0
TAV_OPEN_READWRITE = 0x2
TAV_OPEN_UPDATE = 0x8

TAV_OPT_ERROR = 0
TAV_OPT_VERSION = 18
TAV_OPT_MOVE_PAGE = 22

TAV_COMP_NONE = 1
TAV_COMP_CCITT_MH = 2
TAV_COMP_CCITT_T4 = 3
TAV_COMP_CCITT_T6 = 4
TAV_COMP_LZW = 5
TAV_COMP_PACKBITS = 6
TAV_COMP_JPEG = 7
TAV_COMP_JPEG_INFO = 12

TAV_PHOTO_GRAY_WHITE = 5
TAV_PHOTO_PALETTE = 7
TAV_PHOTO_RGB = 8
TAV_PHOTO_BILEVEL_WHITE = 9
TAV_PHOTO_BILEVEL_BLACK = 10
TAV_PHOTO_GRAY_BLACK = 11
TAV_PHOTO_YCBCR = 12

# The texts of PageInfo.textTags, in their order.
TEXT_NAMES = ("DocumentName", "ImageDescription", "Make", "Model", "PageName", "DateTime",
              "Artist", "HostComputer", "Software")
PROPERTY_NAMES = ("title", "author", "subject", "keywords", "comments")

# name: (code, meaning)
ERRORS = {
    "TAV_EPERM": (1, "the XIFF reader library failed to load"),
    "TAV_ENOENT": (2, "remote: the file does not exist"),
    "TAV_EIO": (5, "a strip needed more than 26 partial reads"),
    "TAV_E2BIG": (7, "read count at or above 2^31"),
    "TAV_EBADF": (9, "handle not in use"),
    "TAV_ENOMEM": (12, "memory exhausted, descriptor table full"),
    "TAV_EACCES": (13, "not allowed by the open mode, or file locked"),
    "TAV_EFAULT": (14, "remote: bad path or server"),
    "TAV_EEXIST": (17, "create on a path that exists"),
    "TAV_EINVAL": (22, "invalid argument"),
    "TAV_ENFILE": (23, "file control table full"),
    "TAV_E_REMOTE_EXISTS": (80, "remote create: the path exists"),
    "TAV_E_TRANSPORT": (254, "a remote request did not reach the server"),
    "TAV_E_NO_REMOTE": (255, "remote-access library or entry point missing"),
    "TAV_E_AWD_HEIGHT": (257, "AWD page height 0"),
    "TAV_E_AWD_ABSENT": (258, "AWD record or viewed mark absent"),
    "TAV_E_AWD_VIEWER": (259, "the AWD viewer failed"),
    "TAV_E_MEMTABLE": (260, "memory table full, or block not in it"),
    "TAV_E_WORKFILE": (262, "no work-file name or work file"),
    "TAV_E_INDEX_KIND": (263, "page index not of kind 32 / no page index"),
    "TAV_E_INDEX_VERSION": (265, "page index not version 1"),
    "TAV_E_OTHER_PAGE": (266, "data for a page other than the current one"),
    "TAV_E_SIZE": (267, "a size or offset out of range for its field or format"),
    "TAV_E_NO_SUBFILE": (268, "no directory with the wanted subfile type; empty strip read"),
    "TAV_E_INCONSISTENT": (269, "page information inconsistent with the compression"),
    "TAV_E_ACTION": (271, "option action other than 0 or 1"),
    "TAV_E_OPTION": (272, "option not handled, or value missing"),
    "TAV_E_FLAGS": (273, "open flags invalid"),
    "TAV_E_COMPRESSION": (274, "compression or image coding not supported"),
    "TAV_E_WRITTEN": (277, "page already written"),
    "TAV_E_WRITE_FLAG": (278, "write flag 1 refused while option 4 is set"),
    "TAV_E_SEEK": (279, "seek target at or above 2^31"),
    "TAV_E_SEQUENCE": (280, "data without page information, or information after data"),
    "TAV_E_ROTATION": (282, "block file: rotation not 0, 90, 180, 270"),
    "TAV_E_COPY_BUFFER": (283, "copy: no memory for the buffer"),
    "TAV_E_ROWS_PER_STRIP": (284, "rows per strip missing when needed"),
    "TAV_E_NO_BYTE_COUNTS": (285, "TIFF page lacks strip byte counts"),
    "TAV_E_NO_OFFSETS": (286, "TIFF page lacks strip offsets"),
    "TAV_E_NO_LENGTH": (287, "TIFF page lacks ImageLength"),
    "TAV_E_NO_WIDTH": (288, "TIFF page lacks ImageWidth"),
    "TAV_E_PAGE": (289, "page 0, not the current page, out of order"),
    "TAV_E_FIELD_TYPE": (290, "strip table type, BMP bit count"),
    "TAV_E_COUNT": (291, "read or write count zero, beyond the page, or not servable"),
    "TAV_E_OFFSET": (292, "read offset beyond the page data"),
    "TAV_E_NOT_SUPPORTED": (293, "operation not supported for this file type"),
    "TAV_E_UNSUPPORTED": (294, "NewSubfileType or photometric not supported"),
    "TAV_E_MISSING_ENTRY": (296, "a needed directory entry is missing"),
    "TAV_E_DIRECTORY": (297, "55 or more entries, or chain ends early"),
    "TAV_E_PAGE_RANGE": (298, "page above the page count"),
    "TAV_E_NOT_TIFF": (299, "not a TIFF header"),
    "TAV_E_RAW_FILE": (389, "page information asked of a raw file"),
    "TAV_E_STRIPS_CUT": (390, "strip count cut to the byte counts present"),
    "TAV_E_INDEX_SIZE": (391, "page index counts more than 65535 entries"),
    "TAV_E_SHORT_STRIPS": (399, "strips ended before the requested length"),
    "TAV_E_TARGET_ASIDE": (400, "replace failed and could not be undone"),
    "TAV_E_NO_IMAGE": (401, "the file's structure holds no image"),
    "TAV_E_TRUNCATED": (402, "a header cut short, or inconsistent with the file's size"),
    "TAV_E_AWD_CREATE": (403, "the AWD encoder could not make a new AWD file"),
    "TAV_E_AWD_ENCODER": (404, "the AWD encoder refused a page: its image file, a band or its end"),
    "TAV_E_FAIL": (0x80004005, "the XIFF reader failed"),
    "TAV_STG_E_FILENOTFOUND": (0x80030002, "storage: file not found"),
    "TAV_STG_E_PATHNOTFOUND": (0x80030003, "storage: path not found"),
    "TAV_STG_E_ACCESSDENIED": (0x80030005, "storage: access denied"),
    "TAV_STG_E_INVALIDHANDLE": (0x80030006, "storage: invalid handle"),
    "TAV_STG_E_INSUFFICIENTMEMORY": (0x80030008, "storage: out of memory"),
    "TAV_STG_E_INVALIDPOINTER": (0x80030009, "storage: invalid pointer"),
    "TAV_STG_E_WRITEFAULT": (0x8003001D, "storage: write fault"),
    "TAV_STG_E_READFAULT": (0x8003001E, "storage: read fault"),
    "TAV_STG_E_SHAREVIOLATION": (0x80030020, "storage: share violation"),
    "TAV_STG_E_FILEALREADYEXISTS": (0x80030050, "storage: file already exists"),
    "TAV_STG_E_INVALIDNAME": (0x800300FC, "storage: invalid name"),
    "TAV_STG_E_INVALIDHEADER": (0x800300FB, "storage: invalid header"),
    "TAV_STG_E_INVALIDFUNCTION": (0x80030001, "storage: invalid function"),
    "TAV_STG_E_INVALIDPARAMETER": (0x80030057, "storage: invalid parameter"),
    "TAV_STG_E_MEDIUMFULL": (0x80030070, "storage: disk full"),
    "TAV_STG_E_INVALIDFLAG": (0x800300FF, "storage: invalid access mode"),
    "TAV_STG_E_DOCFILECORRUPT": (0x80030109, "storage: compound file corrupt"),
}
MEANINGS = dict(ERRORS.values())


def error_meaning(code):
    return MEANINGS.get(code, "unknown error code")
