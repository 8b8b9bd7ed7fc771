"""The records of qvtav.h as ctypes structures, checked against the header's
layout when the module loads: field order and widths of the 32-bit layout,
pointer-sized fields where a pointer travels."""
import ctypes
from ctypes import c_char, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p, POINTER

u32 = c_uint32
TEXT_TAG_COUNT = 9
PATH_SIZE = 260
SERVER_SIZE = 68


class JpegInfo(ctypes.Structure):
    _fields_ = [("jpegOptions", u32), ("headerLength", u32), ("header", POINTER(c_uint8)),
                ("interchange", u32), ("interchangeOffset", u32), ("interchangeLength", u32),
                ("restartInterval", u32), ("unused", u32 * 12)]


class TextTagBuf(ctypes.Structure):
    _fields_ = [("length", u32), ("buffer", c_void_p)]


class GrayArea(ctypes.Structure):
    _fields_ = [("grayResponseSize", u32), ("grayResponseBuffer", c_void_p),
                ("grayResponseUnit", c_uint16), ("grayReserved", c_uint16)]


class PaletteArea(ctypes.Structure):
    _fields_ = [("colorMapSize", u32), ("colorMapBuffer", c_void_p),
                ("transferSize", u32), ("transferBuffer", c_void_p),
                ("whitePointSize", u32), ("whitePointBuffer", c_void_p),
                ("primariesSize", u32), ("primariesBuffer", c_void_p), ("planarConfig", u32)]


class RgbArea(ctypes.Structure):
    _fields_ = [("whitePointSize", u32), ("whitePointBuffer", c_void_p),
                ("primariesSize", u32), ("primariesBuffer", c_void_p), ("planarConfig", u32)]


class YCbCrArea(ctypes.Structure):
    _fields_ = [("coefficients", u32 * 6), ("subSampling", c_uint16 * 2), ("positioning", c_uint16),
                ("positioningReserved", c_uint16), ("referenceBlackWhite", u32 * 12)]


class PhotometricArea(ctypes.Union):
    _fields_ = [("words", u32 * 20), ("gray", GrayArea), ("palette", PaletteArea),
                ("rgb", RgbArea), ("ycbcr", YCbCrArea)]


class CompressionInfo(ctypes.Union):
    _fields_ = [("value", u32), ("jpeg", POINTER(JpegInfo))]


class ProfileOffset(ctypes.Union):
    _fields_ = [("value", u32), ("ptr", c_void_p)]


class PageInfo(ctypes.Structure):
    _fields_ = [
        ("infoKind", u32), ("subfileType", u32), ("xResNum", u32), ("xResDen", u32),
        ("yResNum", u32), ("yResDen", u32), ("resolutionUnit", u32), ("imageWidth", u32),
        ("imageLength", u32), ("reserved", u32), ("rotation", u32), ("mirrored", u32),
        ("bitsPerSample", u32 * 5), ("samplesPerPixel", u32), ("byteOrder", u32), ("fillOrder", u32),
        ("compression", u32), ("compressionInfo", CompressionInfo), ("fileType", u32),
        ("maxStripSize", u32), ("stripCount", u32), ("rowsPerStrip", u32),
        ("privateTagFlags", c_uint8), ("formatBytes", c_uint8 * 3), ("photometric", u32),
        ("area", PhotometricArea), ("textTags", POINTER(TextTagBuf)), ("propertiesLength", u32),
        ("title", c_char_p), ("author", c_char_p), ("subject", c_char_p), ("keywords", c_char_p),
        ("comments", c_char_p), ("redMask", u32), ("greenMask", u32), ("blueMask", u32),
        ("alphaMask", u32), ("colorSpaceType", u32), ("endpoints", u32 * 9), ("gammaRed", u32),
        ("gammaGreen", u32), ("gammaBlue", u32), ("intent", u32), ("profileOffset", ProfileOffset),
        ("profileSize", u32), ("profileReserved", u32), ("profileBuffer", c_void_p),
        ("linkedProfileName", c_char * PATH_SIZE), ("bmpBytesPerPixel", c_uint16),
        ("bmpReserved", c_uint16), ("bmpMasks", u32 * 3),
    ]


class PageSizes(ctypes.Structure):
    _fields_ = [("dataBytes", u32), ("rawBytes", u32), ("sizeCapacity", u32), ("sizeCount", u32),
                ("sizes", POINTER(u32))]


class PutOptions(ctypes.Structure):
    _fields_ = [("typeGiven", u32), ("bufferSize", u32), ("strips", u32), ("rows", u32)]


class FileLocation(ctypes.Structure):
    _fields_ = [("result", c_int32), ("isRemote", u32), ("server", c_char * SERVER_SIZE),
                ("remoteId", u32), ("connection", u32), ("size", u32), ("serverPos", u32),
                ("pos", u32), ("readBuf", POINTER(c_uint8)), ("readBufStart", c_int32),
                ("readBufLen", u32), ("writeBuf", POINTER(c_uint8)), ("writeBufLen", u32),
                ("path", c_char * PATH_SIZE)]


class TavStripCounts(ctypes.Structure):
    _fields_ = [("count", u32), ("buffer", c_void_p)]


class TavPageMove(ctypes.Structure):
    _fields_ = [("targetPage", u32), ("movedPage", u32)]


# The sizes and offsets qvtav.h asserts for this target.
if ctypes.sizeof(c_void_p) == 4:
    LAYOUT = {
        (PageInfo, None): 584, (PageSizes, None): 20, (JpegInfo, None): 76, (TextTagBuf, None): 8,
        (PageInfo, "photometric"): 108, (PageInfo, "textTags"): 192, (PageInfo, "bmpMasks"): 572,
    }
else:
    LAYOUT = {
        (PageInfo, None): 632, (PageInfo, "compressionInfo"): 88, (PageInfo, "fileType"): 96,
        (PageInfo, "photometric"): 116, (PageInfo, "area"): 120, (PageInfo, "textTags"): 200,
        (PageInfo, "title"): 216, (PageInfo, "profileOffset"): 328, (PageInfo, "profileBuffer"): 344,
        (PageInfo, "linkedProfileName"): 352, (PageInfo, "bmpMasks"): 616, (JpegInfo, None): 80,
        (PageSizes, None): 24, (TextTagBuf, None): 16, (FileLocation, "readBuf"): 96,
        (FileLocation, "writeBuf"): 112, (FileLocation, "path"): 124,
    }
LAYOUT[(PhotometricArea, None)] = 80
LAYOUT[(PutOptions, None)] = 16


def check_layout():
    """Raises ImportError when a record differs from the header's layout."""
    for (record, field), expected in LAYOUT.items():
        found = ctypes.sizeof(record) if field is None else getattr(record, field).offset
        if found != expected:
            what = record.__name__ + ("" if field is None else "." + field)
            raise ImportError(f"qvtav: {what} is at {found}, the header says {expected}")


check_layout()
