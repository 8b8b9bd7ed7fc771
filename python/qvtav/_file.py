"""Open files, their pages, and the whole-file editing calls."""
import ctypes
import dataclasses
import os

from . import _codes as C
from . import _image
from . import _records as R
from ._library import lib

# awdBandBytes, the low half of maxStripSize: the size of the buffers AWD
# bands are read into, asked for before each page's information.
AWD_BAND_BYTES = 32768
LOW16 = 0xFFFF
ROWS_ABSENT = 0xFFFFFFFF
INFO_KIND = 4
COLOR_SPACE_PLAIN = 1
LAST_DATA = 1  # xtavwrite flag: the page's data ends with this piece
AWD_FULL_SCALES = 100 | 100 << 16  # an AWD page's display scales, x and y: 100 %


class QvtavError(Exception):
    """A failed call. `code` is the library's code, or None for the calls that
    report none (xtavclose, xtavabort, xtavdelpgs, xtavputprops,
    xifsduplicate, xifsreplace)."""

    def __init__(self, call, code=None):
        self.call = call
        self.code = code
        self.meaning = None if code is None else C.error_meaning(code)
        if code is None:
            text = f"{call} failed (the call reports no error code)"
        else:
            text = f"{call} failed: error {code} ({self.meaning})"
        super().__init__(text)


def _text(raw):
    return None if raw is None else raw.decode("utf-8", "surrogateescape")


def _encode(text):
    return text.encode("utf-8", "surrogateescape")


def _path_buffer(path):
    raw = os.fsencode(path)
    if len(raw) >= R.PATH_SIZE or b"\0" in raw:
        raise QvtavError(f"{path!r}: path too long or not a path", C.TAV_EINVAL)
    return ctypes.create_string_buffer(raw, R.PATH_SIZE)


def _location(server):
    """A FileLocation for a remote path, None for a local one."""
    if server is None:
        return None
    raw = os.fsencode(server)
    if len(raw) >= R.SERVER_SIZE:
        raise QvtavError(f"{server!r}: server name too long", C.TAV_EINVAL)
    where = R.FileLocation()
    where.isRemote = 1
    where.server = raw
    return where


def _ref(where):
    return None if where is None else ctypes.byref(where)


@dataclasses.dataclass
class Properties:
    """The document properties a TIFF file carries."""
    title: str = ""
    author: str = ""
    subject: str = ""
    keywords: str = ""
    comments: str = ""


@dataclasses.dataclass
class PageInfo:
    """A page's information. Read pages fill every field; for writing, the
    defaults describe an uncompressed bilevel page at 200 dpi."""
    width: int = 0
    length: int = 0
    bits_per_sample: tuple = (1,)
    samples_per_pixel: int = 1
    compression: int = C.TAV_COMP_NONE
    photometric: int = C.TAV_PHOTO_BILEVEL_WHITE
    x_resolution: tuple = (200, 1)
    y_resolution: tuple = (200, 1)
    resolution_unit: int = 2
    rows_per_strip: int = ROWS_ABSENT
    strip_count: int = 1
    fill_order: int = 1
    byte_order: int = 0x4949
    rotation: int = 0
    subfile_type: int = 0
    file_type: int = 0
    data_bytes: int = 0  # bytes a read of the page delivers
    raw_bytes: int = 0  # decoded rows x length
    jpeg_header: bytes = b""  # compression 12: the stream up to its scan
    # A copy of the library's record (the format views of its words); its
    # pointers are not to be followed.
    record: R.PageInfo = dataclasses.field(default=None, repr=False, compare=False)

    @classmethod
    def _from_record(cls, rec, sizes):
        count = max(1, min(5, rec.samplesPerPixel))
        header = b""
        if rec.compression == C.TAV_COMP_JPEG_INFO and rec.compressionInfo.jpeg:
            j = rec.compressionInfo.jpeg.contents
            if j.header:
                header = ctypes.string_at(j.header, j.headerLength)
        return cls(width=rec.imageWidth, length=rec.imageLength,
                   bits_per_sample=tuple(rec.bitsPerSample[:count]), samples_per_pixel=rec.samplesPerPixel,
                   compression=rec.compression, photometric=rec.photometric,
                   x_resolution=(rec.xResNum, rec.xResDen), y_resolution=(rec.yResNum, rec.yResDen),
                   resolution_unit=rec.resolutionUnit, rows_per_strip=rec.rowsPerStrip,
                   strip_count=rec.stripCount, fill_order=rec.fillOrder, byte_order=rec.byteOrder,
                   rotation=rec.rotation, subfile_type=rec.subfileType, file_type=rec.fileType,
                   data_bytes=sizes.dataBytes, raw_bytes=sizes.rawBytes, jpeg_header=header,
                   record=R.PageInfo.from_buffer_copy(rec))

    def _to_record(self):
        rec = R.PageInfo()
        rec.infoKind = INFO_KIND
        rec.imageWidth, rec.imageLength = self.width, self.length
        for k, bits in enumerate(tuple(self.bits_per_sample)[:5]):
            rec.bitsPerSample[k] = bits
        rec.samplesPerPixel = self.samples_per_pixel
        rec.compression, rec.photometric = self.compression, self.photometric
        rec.xResNum, rec.xResDen = self.x_resolution
        rec.yResNum, rec.yResDen = self.y_resolution
        rec.resolutionUnit = self.resolution_unit
        rows = self.rows_per_strip
        rec.rowsPerStrip = self.length if rows in (0, ROWS_ABSENT) else rows
        rec.stripCount = self.strip_count or 1
        rec.fillOrder, rec.byteOrder = self.fill_order, self.byte_order
        rec.rotation, rec.subfileType = self.rotation, self.subfile_type
        rec.colorSpaceType = COLOR_SPACE_PLAIN
        return rec


class Page:
    """Page `number` (from 1) of an open file; valid while the file is open."""

    def __init__(self, file, number):
        self.file = file
        self.number = number
        self._info = None
        self._properties = None

    def _ensure(self):
        if self._info is None:
            self._info, self._properties = self.file._select(self.number)

    @property
    def info(self):
        self._ensure()
        return self._info

    @property
    def properties(self):
        """The document properties reported with this page, or None."""
        self._ensure()
        return self._properties

    @property
    def texts(self):
        """The page's texts present, by TIFF tag name."""
        return self.file._texts_of(self.number)

    @property
    def palette(self):
        """The colour map as the file delivers it, or None for other pages."""
        return self.file._palette_of(self.number)

    def read(self):
        """The page's data, as the library delivers it."""
        return self.file._read(self.number)

    def image(self, as_displayed=False):
        """The page as a PIL image, its pixels as the file stores them; with
        as_displayed turned as the file says it is shown and stretched to its
        true aspect when its two resolutions differ (see qvtav._image)."""
        return _image.page_image(self.file, self.number, as_displayed)

    def __repr__(self):
        return f"<qvtav page {self.number} of {self.file.path!r}>"


class File:
    """An open file (see qvtav.open and qvtav.create). Used as a context
    manager, a file being written is aborted when the block raises and closed
    otherwise; a file only read is closed either way."""

    def __init__(self, path, handle, file_type, page_count, writing, server=None):
        self.path = path
        self._server = server
        self._handle = ctypes.c_int32(handle)
        self._open = True
        self.file_type = file_type
        self._pages = page_count
        self._writing = writing
        self._written = page_count
        self._current = 0  # the page the library holds current, 0 for none
        self._loaded = None  # the current page's (PageInfo, Properties)
        self._info = R.PageInfo()  # one record for every page-information call
        self._sizes = R.PageSizes()
        self._texts = (R.TextTagBuf * R.TEXT_TAG_COUNT)()  # the same to xtavgeti and xtavgtdata

    # -- life --------------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if kind is not None and self._writing:
            self.abort()
        else:
            self.close()
        return False

    def __del__(self):
        if getattr(self, "_open", False):
            self._end(lib.xtavclose)

    def _end(self, call):
        self._open = False
        err = ctypes.c_uint32()
        return call(ctypes.byref(self._handle), ctypes.byref(err))

    def close(self):
        """xtavclose: finishes a file being written."""
        if self._open and self._end(lib.xtavclose) < 0:
            raise QvtavError("xtavclose")

    def abort(self):
        """xtavabort: gives the file up without finishing it."""
        if self._open and self._end(lib.xtavabort) < 0:
            raise QvtavError("xtavabort")

    def _h(self):
        if not self._open:
            raise QvtavError(f"{self.path}: file closed", C.TAV_EBADF)
        return ctypes.byref(self._handle)

    # -- pages -------------------------------------------------------------
    @property
    def type_name(self):
        return C.type_name(self.file_type)

    def __len__(self):
        return self._pages

    def __iter__(self):
        return (Page(self, n) for n in range(1, self._pages + 1))

    def page(self, number):
        return Page(self, number)

    @property
    def properties(self):
        """The document properties (those reported with page 1), or None."""
        return self.page(1).properties if self._pages else None

    def _load(self, number, band_bytes=AWD_BAND_BYTES):
        rec = self._info
        rec.subfileType = 0  # the full-resolution image
        rec.textTags = ctypes.cast(self._texts, ctypes.POINTER(R.TextTagBuf))
        ctypes.memset(ctypes.addressof(rec.area), 0, ctypes.sizeof(rec.area))
        rec.profileBuffer = None
        if self.file_type == C.FILETYPE_AWD:
            rec.maxStripSize = band_bytes
        for t in self._texts:
            t.buffer = None
        self._current = 0
        err = ctypes.c_uint32()
        if lib.xtavgeti(self._h(), number, ctypes.byref(rec), ctypes.byref(self._sizes), ctypes.byref(err)) < 0:
            raise QvtavError("xtavgeti", err.value)
        props = [rec.title, rec.author, rec.subject, rec.keywords, rec.comments]
        properties = Properties(*(_text(p) or "" for p in props)) if any(props) else None
        self._loaded = PageInfo._from_record(rec, self._sizes), properties
        self._current = number
        return self._loaded

    def _select(self, number):
        """Makes the page current; its information and properties."""
        if not 1 <= number <= LOW16:
            raise QvtavError(f"page {number}", C.TAV_E_PAGE)
        return self._loaded if self._current == number else self._load(number)

    def _ensure_current(self, number):
        self._select(number)

    def _get_data(self):
        err = ctypes.c_uint32()
        if lib.xtavgtdata(self._h(), ctypes.byref(self._info), ctypes.byref(err)) < 0:
            raise QvtavError("xtavgtdata", err.value)

    def _texts_of(self, number):
        self._ensure_current(number)
        buffers = {}
        for k, t in enumerate(self._texts):
            if t.length:
                buffers[k] = ctypes.create_string_buffer(t.length + 1)
                t.buffer = ctypes.cast(buffers[k], ctypes.c_void_p)
        try:
            if buffers:
                self._get_data()
        finally:
            for t in self._texts:
                t.buffer = None
        return {C.TEXT_NAMES[k]: _text(b.value) for k, b in buffers.items()}

    def _palette_of(self, number):
        self._ensure_current(number)
        area = self._info.area.palette
        if self._info.photometric != C.TAV_PHOTO_PALETTE or area.colorMapSize == 0:
            return None
        buf = ctypes.create_string_buffer(area.colorMapSize)
        area.colorMapBuffer = ctypes.cast(buf, ctypes.c_void_p)
        try:
            self._get_data()
        finally:
            area.colorMapBuffer = None
        return buf.raw

    # -- reading by each type's rules ------------------------------------------
    def _read_at(self, number, buf, at, start, count):
        left = ctypes.c_uint32()
        err = ctypes.c_uint32()
        n = lib.xtavread(self._h(), ctypes.byref(buf, at), start, count, ctypes.byref(left), number,
                         ctypes.byref(err))
        if n < 0:
            raise QvtavError("xtavread", err.value)
        return n, left.value

    def _read(self, number, band_bytes=AWD_BAND_BYTES):
        """The page's data. An AWD page's bands come once for each
        page-information call, which asks for bands of band_bytes (0: one
        row; the last band of larger ones is filled up with white rows)."""
        rec = self._info
        if self.file_type == C.FILETYPE_AWD:
            self._load(number, band_bytes)
            return self._read_bands(number, rec.maxStripSize & LOW16 or AWD_BAND_BYTES)
        self._ensure_current(number)
        if self.file_type == C.FILETYPE_XIFF:
            return self._read_whole(number)
        if self.file_type == C.FILETYPE_BMP and rec.bmpBytesPerPixel in (2, 4):
            return self._read_converted_rows(number, rec)
        return self._read_until_none_left(number)

    def _read_until_none_left(self, number):
        """TIFF and single-image formats: pieces until the remaining count is 0."""
        total = self._sizes.dataBytes
        buf = ctypes.create_string_buffer(total)
        got, left = 0, total
        while got < total and left > 0:
            n, left = self._read_at(number, buf, got, got, total - got)
            if n == 0:
                break
            got += n
        return buf.raw[:got]

    def _read_whole(self, number):
        """XIFF: the whole decoded page in one call."""
        total = self._sizes.dataBytes
        buf = ctypes.create_string_buffer(total)
        if total:
            self._read_at(number, buf, 0, 0, total)
        return buf.raw

    def _read_bands(self, number, band_bytes):
        """AWD: band after band into a buffer of the band size until a read
        returns 0 (the remaining count is always 0 there)."""
        band = ctypes.create_string_buffer(band_bytes)
        out = bytearray()
        while True:
            n, _ = self._read_at(number, band, 0, len(out), band_bytes)
            if n <= 0:
                return bytes(out)
            out += band.raw[:min(n, band_bytes)]

    def _read_converted_rows(self, number, rec):
        """BMP 16/32-bit pages come as 24-bit rows: a read places count /
        rowBytes whole rows and returns a count of its own, so the rows
        placed measure the progress; positions count 3 bytes a pixel."""
        row_bytes = rec.rowsPerStrip & LOW16
        rows_total = rec.imageLength
        if row_bytes == 0 or rows_total == 0:
            return b""
        per_call = max(1, self._sizes.dataBytes // row_bytes)
        buf = ctypes.create_string_buffer(row_bytes * rows_total)
        row = 0
        while row < rows_total:
            rows = min(per_call, rows_total - row)
            self._read_at(number, buf, row * row_bytes, row * rec.imageWidth * 3, rows * row_bytes)
            row += rows
        return buf.raw

    # -- raw files -------------------------------------------------------------
    def read_raw(self, start=0, count=None):
        """A raw file's bytes from `start`: `count` of them, or all to the end
        (a first byte tells how many are left, since a raw read must be
        served whole)."""
        if count is None:
            head = ctypes.create_string_buffer(1)
            n, left = self._read_at(1, head, 0, start, 1)
            return head.raw[:n] + (self.read_raw(start + n, left) if left else b"")
        buf = ctypes.create_string_buffer(count)
        n, _ = self._read_at(1, buf, 0, start, count)
        return buf.raw[:n]

    # -- writing ----------------------------------------------------------------
    def write_page(self, info, data, texts=None, properties=None, palette=None):
        """Appends a page: xtavputi with `info` (a PageInfo), then `data` in one
        xtavwrite. `texts` maps TIFF text names to strings; `properties` (a
        Properties) goes with the first page of a new file; `palette` is the
        colour map of a palette page. An AWD page (rows of a bilevel page) is
        written with full display scales and ended as AWD pages end."""
        number = self._written + 1
        self._current = 0
        rec = info._to_record()
        keep = []  # the buffers the record points to, alive for the call
        if texts:
            tags = (R.TextTagBuf * R.TEXT_TAG_COUNT)()
            for name, value in texts.items():
                raw = ctypes.create_string_buffer(_encode(value))
                keep.append(raw)
                k = C.TEXT_NAMES.index(name)
                tags[k].length, tags[k].buffer = len(raw), ctypes.cast(raw, ctypes.c_void_p)
            keep.append(tags)
            rec.textTags = ctypes.cast(tags, ctypes.POINTER(R.TextTagBuf))
        if properties is not None:
            for name in C.PROPERTY_NAMES:
                setattr(rec, name, _encode(getattr(properties, name)))
        if palette is not None:
            pal = ctypes.create_string_buffer(bytes(palette), len(palette))
            keep.append(pal)
            rec.area.palette.colorMapSize = len(palette)
            rec.area.palette.colorMapBuffer = ctypes.cast(pal, ctypes.c_void_p)
        awd = self.file_type == C.FILETYPE_AWD
        if awd:
            # These words hold an AWD page's display settings: no rotation,
            # full scales, no flags.
            rec.maxStripSize, rec.stripCount, rec.rowsPerStrip = 0, AWD_FULL_SCALES, 0
        err = ctypes.c_uint32()
        if lib.xtavputi(self._h(), number, ctypes.byref(rec), None, ctypes.byref(err)) < 0:
            raise QvtavError("xtavputi", err.value)
        self._written = number
        if data:
            buf = ctypes.create_string_buffer(bytes(data), len(data))
            if lib.xtavwrite(self._h(), buf, len(data), number, 0 if awd else LAST_DATA, ctypes.byref(err)) < 0:
                raise QvtavError("xtavwrite", err.value)
            # An AWD page takes rows until a call of fewer bytes than a row.
            if awd and lib.xtavwrite(self._h(), buf, 0, number, 0, ctypes.byref(err)) < 0:
                raise QvtavError("xtavwrite", err.value)
        return number

    def write_raw(self, data):
        """Appends bytes to a raw file."""
        err = ctypes.c_uint32()
        buf = ctypes.create_string_buffer(bytes(data), len(data))
        if lib.xtavwrite(self._h(), buf, len(data), 1, LAST_DATA, ctypes.byref(err)) < 0:
            raise QvtavError("xtavwrite", err.value)

    def move_page(self, page, before):
        """Moves page `page` to stand before page `before` (towards the front)."""
        self._option(C.TAV_OPT_MOVE_PAGE, ctypes.byref(R.TavPageMove(before, page)))
        self._current = 0

    def _option(self, option, value):
        err = ctypes.c_uint32()
        if lib.xtavopts(self._h(), 1, option, value, ctypes.byref(err)) < 0:
            raise QvtavError(f"xtavopts {option}", err.value)

    def __repr__(self):
        state = "open" if self._open else "closed"
        return f"<qvtav {self.type_name} file {self.path!r}, {self._pages} pages, {state}>"


def open(path, mode="r", server=None, raw=False):
    """Opens a file: mode "r" reads, "a" opens a TIFF file to append pages.
    `server` reaches the path through the remote-access library; `raw`
    opens any file as raw data (its bytes through File.read_raw)."""
    flags = {"r": C.TAV_OPEN_READ, "a": C.TAV_OPEN_READWRITE | C.TAV_OPEN_UPDATE}.get(mode)
    if flags is None:
        raise ValueError(f"mode {mode!r}: use 'r' or 'a'")
    if raw:
        flags |= C.TAV_OPEN_RAW
    where = _location(server)
    name = _path_buffer(path)
    kind, pages, err = ctypes.c_uint32(), ctypes.c_uint32(), ctypes.c_uint32()
    h = lib.xtavopen(_ref(where), name, flags, ctypes.byref(kind), ctypes.byref(pages), ctypes.byref(err))
    if h < 0:
        raise QvtavError(f"xtavopen {path}", err.value)
    return File(path, h, kind.value, pages.value, mode != "r", server)


def create(path, file_type=C.FILETYPE_TIFF, server=None):
    """Creates a new file of the given type for writing."""
    where = _location(server)
    name = _path_buffer(path)
    kind, err = ctypes.c_uint32(file_type), ctypes.c_uint32()
    h = lib.xtavcreat(_ref(where), name, ctypes.byref(kind), ctypes.byref(err))
    if h < 0:
        raise QvtavError(f"xtavcreat {path}", err.value)
    return File(path, h, file_type, 0, True)


def delete_pages(path, first, last=None, server=None):
    """Deletes pages first..last (from 1; last defaults to first)."""
    where = _location(server)
    err = ctypes.c_uint32()
    if lib.xtavdelpgs(_ref(where), _path_buffer(path), first, first if last is None else last,
                      ctypes.byref(err)) < 0:
        raise QvtavError("xtavdelpgs")


def set_properties(path, server=None, **changes):
    """Changes document properties (title, author, subject, keywords,
    comments); those not named keep their values."""
    unknown = set(changes) - set(C.PROPERTY_NAMES)
    if unknown:
        raise TypeError(f"unknown properties: {', '.join(sorted(unknown))}")
    with open(path, server=server) as f:
        current = f.properties or Properties()
    rec = R.PageInfo()
    for name in C.PROPERTY_NAMES:
        setattr(rec, name, _encode(changes.get(name, getattr(current, name))))
    err = ctypes.c_uint32()
    if lib.xtavputprops(_ref(_location(server)), _path_buffer(path), ctypes.byref(rec), ctypes.byref(err)) < 0:
        raise QvtavError("xtavputprops")


def duplicate(path, server=None):
    """Copies the file to a new unique name beside it; the new path."""
    destination = ctypes.create_string_buffer(R.PATH_SIZE)
    err = ctypes.c_uint32()
    if lib.xifsduplicate(_ref(_location(server)), _path_buffer(path), destination, ctypes.byref(err)) < 0:
        raise QvtavError("xifsduplicate")
    return os.fsdecode(destination.value)


def replace(target, source, server=None, source_server=None):
    """Replaces the target by the source file (which is moved)."""
    err = ctypes.c_uint32()
    if lib.xifsreplace(_ref(_location(server)), _path_buffer(target), _ref(_location(source_server)),
                       _path_buffer(source), ctypes.byref(err)) < 0:
        raise QvtavError("xifsreplace")


def version():
    """The library's version number (option 18), e.g. 0x00060200."""
    value, err = ctypes.c_uint32(), ctypes.c_uint32()
    none = ctypes.c_int32(0)
    lib.xtavopts(ctypes.byref(none), 1, C.TAV_OPT_VERSION, ctypes.byref(value), ctypes.byref(err))
    return value.value
