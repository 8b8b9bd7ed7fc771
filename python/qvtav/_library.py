"""Finds and loads libqvtav400.so and declares the exports' prototypes."""
import ctypes
import os
from ctypes import POINTER, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p

from ._records import FileLocation, PageInfo, PageSizes, PutOptions

LIBRARY_NAME = "libqvtav400.so.4"
# Set to the library's path to load that one (a sanitizer build, another tree).
LIBRARY_VARIABLE = "QVTAV_LIBRARY"


def _candidates():
    chosen = os.environ.get(LIBRARY_VARIABLE)
    if chosen:
        yield chosen
        return
    here = os.path.dirname(os.path.abspath(__file__))
    # Installed: PREFIX/lib/python3/dist-packages/qvtav beside PREFIX/lib.
    yield os.path.join(here, "..", "..", "..", LIBRARY_NAME)
    # The source tree: python/qvtav beside build/out.
    yield os.path.join(here, "..", "..", "build", "out", LIBRARY_NAME)
    # The system's search path.
    yield LIBRARY_NAME


def _load():
    tried = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(os.path.normpath(path) if os.sep in path else path)
        except OSError as e:
            tried.append(f"{path} ({e})")
    raise ImportError("qvtav: libqvtav400 not found; tried " + ", ".join(tried))


u32p = POINTER(c_uint32)
i32p = POINTER(c_int32)
loc = POINTER(FileLocation)
PROTOTYPES = {
    "xtavopen": (c_int32, [loc, c_char_p, c_uint32, u32p, u32p, u32p]),
    "xtavcreat": (c_int32, [loc, c_char_p, u32p, u32p]),
    "xtavclose": (c_int32, [i32p, u32p]),
    "xtavabort": (c_int32, [i32p, u32p]),
    "xtavgeti": (c_int32, [i32p, c_uint16, POINTER(PageInfo), POINTER(PageSizes), u32p]),
    "xtavgtdata": (c_int32, [i32p, POINTER(PageInfo), u32p]),
    "xtavread": (c_int32, [i32p, c_void_p, c_uint32, c_uint32, u32p, c_uint16, u32p]),
    "xtavputi": (c_int32, [i32p, c_uint16, POINTER(PageInfo), POINTER(PutOptions), u32p]),
    "xtavwrite": (c_int32, [i32p, c_void_p, c_uint32, c_uint16, c_uint8, u32p]),
    "xtavopts": (c_int32, [i32p, c_uint32, c_uint32, c_void_p, u32p]),
    "xtavdelpgs": (c_int32, [loc, c_char_p, c_int32, c_uint32, u32p]),
    "xtavputprops": (c_int32, [loc, c_char_p, POINTER(PageInfo), u32p]),
    "xifsduplicate": (c_int32, [loc, c_char_p, c_char_p, u32p]),
    "xifsreplace": (c_int32, [loc, c_char_p, loc, c_char_p, u32p]),
}

lib = _load()
for _name, (_result, _args) in PROTOTYPES.items():
    _f = getattr(lib, _name)
    _f.restype = _result
    _f.argtypes = _args
