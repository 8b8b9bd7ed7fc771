"""qvtav: multi-page raster image files through libqvtav400 (ctypes, no
compiler needed).

    import qvtav
    with qvtav.open("letter.tif") as f:
        print(f.type_name, len(f), f.properties)
        for page in f:
            print(page.number, page.info.width, page.info.length, page.texts)
            data = page.read()          # the page's data as the library delivers it

Writing: qvtav.create(path) then File.write_page(PageInfo(...), data); a
TIFF file opened with mode "a" takes further pages. Whole-file edits:
delete_pages, set_properties, duplicate, replace; File.move_page. Every
failure raises QvtavError, whose `code` is the library's error code (None for
the calls that report none) and `meaning` its meaning; ERRORS maps each code's
name (TAV_E_PAGE, ...) to its code and meaning.

The library is looked for in $QVTAV_LIBRARY, beside an installed module
(PREFIX/lib), in the source tree's build/out, then by the system's search
path.
"""
from ._codes import *  # noqa: F401,F403  (the numbers of qvtav.h, ERRORS, error_meaning, type_name)
from ._file import (File, Page, PageInfo, Properties, QvtavError, create, delete_pages,  # noqa: F401
                    duplicate, open, replace, set_properties, version)
