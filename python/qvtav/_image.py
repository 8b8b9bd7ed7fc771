"""Pages as PIL images (Page.image).

TIFF pages become a one-page TIFF file in memory, made of the page's stored
strips and its page information, which Pillow decodes; pages of JPEG data
become the JPEG stream of the header the library hands out and the page's
data. Block file pages become a TIFF page of their coding, bilevel with 0
white. AWD pages come from the viewer's decoded bands, XIFF pages from the
reader's decoded rows. GIF, PCX, BMP, Targa and JPEG files are handed to
Pillow as they are, and a DCX page as its own PCX image.

Pixels are as the file stores them; as_displayed turns the page by its
TIFF Orientation (the library's rotation and mirroring) or its AWD display
rotation (clockwise), and stretches it by nearest neighbour to its true
aspect when its two resolutions differ.
"""
import ctypes
import io
import struct

from . import _codes as C
from . import _records as R

BIG_ENDIAN = 0x4D4D
JPEG_START = b"\xff\xd8"
NO_ROWS_PER_STRIP = 0xFFFFFFFF

# TIFF tags and field types of the page assembled in memory.
SHORT, LONG, RATIONAL = 3, 4, 5
TAG_WIDTH, TAG_LENGTH, TAG_BITS, TAG_COMPRESSION, TAG_PHOTOMETRIC = 256, 257, 258, 259, 262
TAG_FILL_ORDER, TAG_OFFSETS, TAG_SAMPLES, TAG_ROWS, TAG_COUNTS = 266, 273, 277, 278, 279
TAG_XRES, TAG_YRES, TAG_PLANAR, TAG_T4, TAG_T6, TAG_UNIT = 282, 283, 284, 292, 293, 296
TAG_PREDICTOR, TAG_COLOR_MAP, TAG_EXTRA_SAMPLES = 317, 320, 338
UNASSOCIATED_ALPHA = 2

# The library's codes as TIFF's.
TIFF_COMPRESSION = {C.TAV_COMP_NONE: 1, C.TAV_COMP_CCITT_MH: 2, C.TAV_COMP_CCITT_T4: 3,
                    C.TAV_COMP_CCITT_T6: 4, C.TAV_COMP_LZW: 5, C.TAV_COMP_PACKBITS: 32773}
TIFF_PHOTOMETRIC = {C.TAV_PHOTO_BILEVEL_WHITE: 0, C.TAV_PHOTO_GRAY_WHITE: 0, C.TAV_PHOTO_BILEVEL_BLACK: 1,
                    C.TAV_PHOTO_GRAY_BLACK: 1, C.TAV_PHOTO_RGB: 2, C.TAV_PHOTO_PALETTE: 3}
# compressionInfo bits that name the coding rather than T4Options.
CODING_BITS = 4 | 8

# The library reports TIFF Orientation n as entry n: (rotation, mirrored).
LIBRARY_TURNS = {(0, 0): 1, (270, 0): 2, (180, 0): 3, (90, 0): 4, (0, 1): 5, (270, 1): 6, (180, 1): 7, (90, 1): 8}
AWD_TURNS = {90: 6, 180: 3, 270: 8}


def _strip_counts(f):
    """The current TIFF page's strip byte counts as its file stores them."""
    size = ctypes.c_uint32()
    f._option(C.TAV_OPT_COUNT_SIZE, ctypes.byref(size))
    width = size.value & 0xFFFF
    n = f._info.stripCount
    buf = ctypes.create_string_buffer(max(1, n * width))
    f._option(C.TAV_OPT_STORED_COUNTS, ctypes.byref(R.TavStripCounts(n, ctypes.cast(buf, ctypes.c_void_p))))
    return list(struct.unpack("=%d%s" % (n, "H" if width == 2 else "I"), buf.raw[:n * width]))


def _strips(f, number):
    """The page's strips: its data stream cut at the stored byte counts."""
    stream = f._read(number)
    counts = _strip_counts(f)
    if len(counts) == 1:
        return [stream[:counts[0]] if counts[0] else stream]
    if 0 in counts or sum(counts) > len(stream):
        raise ValueError(f"page {number}: strips without byte counts cannot be told apart")
    out, at = [], 0
    for c in counts:
        out.append(stream[at:at + c])
        at += c
    return out


def _entry(order, tag, kind, values):
    """A directory entry and the bytes of its values when they do not fit."""
    fmt = {SHORT: "H", LONG: "I", RATIONAL: "II"}[kind]
    count = len(values) // (2 if kind == RATIONAL else 1)
    data = struct.pack(order + fmt[0] * len(values), *values)
    return tag, kind, count, data


def _tiff_file(rec, strips, colour_map=None, photometric=None):
    """One page: header, strips, out-of-line values, directory."""
    order = ">" if rec.byteOrder == BIG_ENDIAN else "<"
    spp = max(1, rec.samplesPerPixel)
    photometric = rec.photometric if photometric is None else photometric
    rows = rec.rowsPerStrip if rec.rowsPerStrip not in (0, NO_ROWS_PER_STRIP) else rec.imageLength
    info = rec.compressionInfo.value
    out = bytearray((b"MM\0*" if order == ">" else b"II*\0") + b"\0\0\0\0")
    offsets = []
    for s in strips:
        offsets.append(len(out))
        out += s
    entries = [_entry(order, TAG_WIDTH, LONG, [rec.imageWidth]), _entry(order, TAG_LENGTH, LONG, [rec.imageLength]),
               _entry(order, TAG_BITS, SHORT, [rec.bitsPerSample[0]] * spp),
               _entry(order, TAG_COMPRESSION, SHORT, [TIFF_COMPRESSION[rec.compression]]),
               _entry(order, TAG_PHOTOMETRIC, SHORT, [TIFF_PHOTOMETRIC[photometric]]),
               _entry(order, TAG_FILL_ORDER, SHORT, [rec.fillOrder or 1]),
               _entry(order, TAG_OFFSETS, LONG, offsets), _entry(order, TAG_SAMPLES, SHORT, [spp]),
               _entry(order, TAG_ROWS, LONG, [rows]), _entry(order, TAG_COUNTS, LONG, [len(s) for s in strips]),
               _entry(order, TAG_PLANAR, SHORT, [1])]
    if rec.xResNum and rec.yResNum:
        entries += [_entry(order, TAG_XRES, RATIONAL, [rec.xResNum, rec.xResDen or 1]),
                    _entry(order, TAG_YRES, RATIONAL, [rec.yResNum, rec.yResDen or 1]),
                    _entry(order, TAG_UNIT, SHORT, [rec.resolutionUnit or 1])]
    if rec.compression == C.TAV_COMP_CCITT_T4:
        entries.append(_entry(order, TAG_T4, LONG, [info & ~CODING_BITS]))
    elif rec.compression == C.TAV_COMP_CCITT_T6:
        entries.append(_entry(order, TAG_T6, LONG, [info]))
    elif rec.compression == C.TAV_COMP_LZW and info > 1:
        entries.append(_entry(order, TAG_PREDICTOR, SHORT, [info]))
    if colour_map is not None:
        # Delivered in this machine's order (a big-endian file's swapped).
        values = struct.unpack("=%dH" % (len(colour_map) // 2), colour_map)
        entries.append(_entry(order, TAG_COLOR_MAP, SHORT, list(values)))
    if photometric in (C.TAV_PHOTO_RGB, C.TAV_PHOTO_GRAY_BLACK, C.TAV_PHOTO_GRAY_WHITE) and spp in (2, 4):
        entries.append(_entry(order, TAG_EXTRA_SAMPLES, SHORT, [UNASSOCIATED_ALPHA]))
    return _with_directory(out, order, sorted(entries))


def _with_directory(out, order, entries):
    if len(out) & 1:
        out += b"\0"
    places = []
    for _, _, _, data in entries:  # values longer than four bytes go before the directory
        places.append(len(out) if len(data) > 4 else None)
        if len(data) > 4:
            out += data + b"\0" * (len(data) & 1)
    struct.pack_into(order + "I", out, 4, len(out))
    out += struct.pack(order + "H", len(entries))
    for (tag, kind, count, data), place in zip(entries, places):
        field = struct.pack(order + "I", place) if place is not None else data.ljust(4, b"\0")
        out += struct.pack(order + "HHI", tag, kind, count) + field
    out += b"\0\0\0\0"
    return bytes(out)


def _jpeg_image(f, number, Image):
    """Pages of JPEG data: the header the library hands out and the page's
    data, or strips that are JPEG streams of their own."""
    rec = f._info
    header = b""
    if rec.compression == C.TAV_COMP_JPEG_INFO and rec.compressionInfo.jpeg:
        j = rec.compressionInfo.jpeg.contents
        if j.header and j.headerLength:
            header = ctypes.string_at(j.header, j.headerLength)
    if header:
        im = Image.open(io.BytesIO(header + f._read(number)))
    else:
        strips = _strips(f, number)
        if len(strips) > 1 and all(s.startswith(JPEG_START) for s in strips):
            parts = [Image.open(io.BytesIO(s)) for s in strips]
            im = Image.new(parts[0].mode, (parts[0].width, sum(p.height for p in parts)))
            for k, p in enumerate(parts):
                im.paste(p, (0, sum(q.height for q in parts[:k])))
        else:
            im = Image.open(io.BytesIO(b"".join(strips)))
    im.load()
    return im.crop((0, 0, rec.imageWidth, rec.imageLength)) if im.size != (rec.imageWidth, rec.imageLength) else im


def _decoded_image(f, number, Image):
    """AWD bands and XIFF rows, as the library delivers them decoded."""
    # Bands of one row: the page's own rows, no white rows filling a band.
    rec, data = f._info, f._read(number, band_bytes=0)
    width, bits = rec.imageWidth, rec.bitsPerSample[0]
    if f.file_type == C.FILETYPE_AWD:
        row = (width + 7) // 8
        return Image.frombytes("1", (width, len(data) // row), data[:len(data) // row * row], "raw", "1;I")
    stride = len(data) // max(1, rec.imageLength)
    forms = {(C.TAV_PHOTO_RGB, 8): ("RGB", "RGB"), (C.TAV_PHOTO_PALETTE, 8): ("P", "P"),
             (C.TAV_PHOTO_PALETTE, 4): ("P", "P;4"), (C.TAV_PHOTO_GRAY_BLACK, 8): ("L", "L"),
             (C.TAV_PHOTO_GRAY_BLACK, 4): ("L", "L;4"), (C.TAV_PHOTO_BILEVEL_BLACK, 1): ("1", "1")}
    mode, raw = forms[(rec.photometric, bits)]
    im = Image.frombytes(mode, (width, rec.imageLength), data, "raw", raw, stride)
    if mode == "P":
        im.putpalette(f._palette_of(number))
    return im


def _own_bytes_image(f, number, Image):
    """A single-image file as it is; a DCX page as its PCX image."""
    from ._file import open as open_file
    rec = f._info
    with open_file(f.path, raw=True, server=f._server) as whole:
        if f.file_type == C.FILETYPE_DCX:
            start = rec.compressionInfo.value - 128  # the page's PCX header precedes its data
            data = whole.read_raw(start, 128 + f._sizes.dataBytes)
        else:
            data = whole.read_raw()
    im = Image.open(io.BytesIO(data))
    im.load()
    return im


def _tiff_image(f, number, Image):
    rec = f._info
    if rec.compression in (C.TAV_COMP_JPEG, C.TAV_COMP_JPEG_INFO):
        return _jpeg_image(f, number, Image)
    block = f.file_type == C.FILETYPE_BLOCK
    if rec.compression not in TIFF_COMPRESSION or not (block or rec.photometric in TIFF_PHOTOMETRIC):
        raise ValueError(f"page {number}: compression {rec.compression}, photometric {rec.photometric} "
                         "cannot be drawn")
    if block:
        # One stream of its coding, bilevel with 0 white.
        data = _tiff_file(rec, [f._read(number)], photometric=C.TAV_PHOTO_BILEVEL_WHITE)
    else:
        colour_map = f._palette_of(number) if rec.photometric == C.TAV_PHOTO_PALETTE else None
        data = _tiff_file(rec, _strips(f, number), colour_map)
    im = Image.open(io.BytesIO(data))
    im.load()
    return im


def _as_displayed(im, f, Image):
    rec = f._info
    if rec.xResNum and rec.yResNum and rec.xResDen and rec.yResDen:
        x, y = rec.xResNum / rec.xResDen, rec.yResNum / rec.yResDen
        if x > y:
            im = im.resize((im.width, round(im.height * x / y)), Image.NEAREST)
        elif y > x:
            im = im.resize((round(im.width * y / x), im.height), Image.NEAREST)
    if f.file_type == C.FILETYPE_AWD:
        orientation = AWD_TURNS.get(rec.maxStripSize >> 16, 1)
    elif f.file_type in (C.FILETYPE_TIFF, C.FILETYPE_BLOCK):
        orientation = LIBRARY_TURNS.get((rec.rotation, rec.mirrored), 1)
    else:
        orientation = 1
    method = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
              4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE, 6: Image.Transpose.ROTATE_270,
              7: Image.Transpose.TRANSVERSE, 8: Image.Transpose.ROTATE_90}.get(orientation)
    return im.transpose(method) if method is not None else im


def page_image(f, number, as_displayed=False):
    """Page `number` of the open file f as a PIL image."""
    from PIL import Image
    f._ensure_current(number)
    if f.file_type in (C.FILETYPE_TIFF, C.FILETYPE_BLOCK):
        im = _tiff_image(f, number, Image)
    elif f.file_type in (C.FILETYPE_AWD, C.FILETYPE_XIFF):
        im = _decoded_image(f, number, Image)
    elif f.file_type in (C.FILETYPE_GIF, C.FILETYPE_PCX, C.FILETYPE_DCX, C.FILETYPE_BMP, C.FILETYPE_TGA,
                         C.FILETYPE_JPEG):
        im = _own_bytes_image(f, number, Image)
    else:
        raise ValueError(f"{f.type_name} files have no pages to draw")
    return _as_displayed(im, f, Image) if as_displayed else im
