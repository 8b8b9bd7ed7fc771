"""Shared fixtures: the build's output directory (QVTAV_LIBRARY names the
library in it), the sample documents its qvtav_samples writes, and a maker
of XIFF files."""
import os
import struct
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "python"))


def out_dir():
    lib = os.environ.get("QVTAV_LIBRARY")
    return os.path.dirname(lib) if lib else os.path.join(SOURCE, "build", "out")


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    where = tmp_path_factory.mktemp("samples")
    subprocess.run([os.path.join(out_dir(), "qvtav_samples"), str(where)], check=True,
                   stdout=subprocess.DEVNULL)
    return where


XEROX_MARK = b"XEROX DIFF\x01\x00"


def xiff_grey(path, width, length, pixels, dpi=150):
    """An uncompressed 8-bit grey (0 is black) TIFF page with the XIFF mark
    behind its header: header, mark, pixels, resolution, directory."""
    assert len(pixels) == width * length
    strip = 8 + len(XEROX_MARK)
    res = strip + len(pixels) + (len(pixels) & 1)
    ifd = res + 8
    entries = [(256, 4, 1, width), (257, 4, 1, length), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, strip), (277, 3, 1, 1), (278, 4, 1, length), (279, 4, 1, len(pixels)),
               (282, 5, 1, res), (283, 5, 1, res), (296, 3, 1, 2)]
    out = bytearray(b"II*\x00" + struct.pack("<I", ifd) + XEROX_MARK + pixels)
    out += b"\x00" * (res - len(out)) + struct.pack("<II", dpi, 1)
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        field = struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + field
    out += struct.pack("<I", 0)
    path.write_bytes(bytes(out))
    return path
