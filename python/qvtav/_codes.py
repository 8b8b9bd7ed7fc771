"""The numbers of qvtav.h: file types, open flags, codes of the records, and
every error code with its meaning.

File types and error codes, with their names and meanings, are read from
qvtav_tables.h, the header that defines them for C: the copy installed
beside this module, or the source tree's include/ folder."""
import os
import re

TAV_OPEN_READ = 0x0
TAV_OPEN_READWRITE = 0x2
TAV_OPEN_UPDATE = 0x8
TAV_OPEN_RAW = 0x80000000

TAV_OPT_ERROR = 0
TAV_OPT_COUNT_SIZE = 12
TAV_OPT_VERSION = 18
TAV_OPT_MOVE_PAGE = 22
TAV_OPT_STORED_COUNTS = 23

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

TABLES_HEADER = "qvtav_tables.h"


def _tables_path():
    here = os.path.dirname(os.path.abspath(__file__))
    for path in (os.path.join(here, TABLES_HEADER), os.path.join(here, "..", "..", "include", TABLES_HEADER)):
        if os.path.exists(path):
            return os.path.normpath(path)
    raise ImportError(f"qvtav: {TABLES_HEADER} not found beside the module nor in the source tree")


def _read_tables(text):
    """(numbers, texts, tables) of a tables header: #define NAME number,
    #define NAME "text", and each X-macro table's rows X(NAME, "text")."""
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S).replace("\\\n", " ")
    numbers = {name: int(value, 0)
               for name, value in re.findall(r"^#define\s+(\w+)\s+(0x[0-9A-Fa-f]+|\d+)u?\s*$", text, re.M)}
    texts = dict(re.findall(r'^#define\s+(\w+)\s+"([^"\\]*)"\s*$', text, re.M))
    tables = {name: re.findall(r'\bX\((\w+),\s*"([^"\\]*)"\)', body)
              for name, body in re.findall(r"^#define\s+(\w+)\(X\)(.*)$", text, re.M)}
    return numbers, texts, tables


def _load_tables():
    with open(_tables_path(), encoding="ascii") as f:
        numbers, texts, tables = _read_tables(f.read())
    try:
        types = [(name, numbers[name], text) for name, text in tables["TAV_FILE_TYPE_TABLE"]]
        errors = [(name, numbers[name], text) for name, text in tables["TAV_ERROR_TABLE"]]
        return types, errors, texts["TAV_FILE_TYPE_UNKNOWN"], texts["TAV_ERROR_UNKNOWN"]
    except KeyError as e:
        raise ImportError(f"qvtav: {TABLES_HEADER} lacks {e}") from None


_TYPES, _ERRORS, TYPE_UNKNOWN, ERROR_UNKNOWN = _load_tables()
# FILETYPE_TIFF, TAV_E_PAGE, ...: every name of the two tables.
globals().update({name: code for name, code, _ in _TYPES + _ERRORS})
TYPE_NAMES = {code: text for _, code, text in _TYPES}
# name: (code, meaning)
ERRORS = {name: (code, text) for name, code, text in _ERRORS}
MEANINGS = {code: text for _, code, text in _ERRORS}


def type_name(file_type):
    return TYPE_NAMES.get(file_type, TYPE_UNKNOWN)


def error_meaning(code):
    return MEANINGS.get(code, ERROR_UNKNOWN)

__all__ = [name for name in globals() if name.isupper() and not name.startswith("_")] + [
    "type_name", "error_meaning"]
