// TIFF tag numbers the library reads and writes, and the values of the
// tags whose values it interprets.
#pragma once

#include <cstdint>

#include "frame/page_values.h"

enum TiffTag : uint16_t {
    // The image and its samples.
    kTagNewSubfileType = 254, kTagImageWidth = 256, kTagImageLength = 257,
    kTagBitsPerSample = 258, kTagCompression = 259, kTagPhotometric = 262, kTagFillOrder = 266,
    kTagOrientation = 274, kTagSamplesPerPixel = 277, kTagPlanarConfig = 284,
    // Strips and tiles.
    kTagStripOffsets = 273, kTagRowsPerStrip = 278, kTagStripByteCounts = 279,
    kTagFreeOffsets = 288, kTagFreeByteCounts = 289,
    kTagTileWidth = 322, kTagTileLength = 323, kTagTileOffsets = 324, kTagTileByteCounts = 325,
    // Resolution.
    kTagXResolution = 282, kTagYResolution = 283, kTagResolutionUnit = 296,
    // Texts.
    kTagDocumentName = 269, kTagImageDescription = 270, kTagMake = 271, kTagModel = 272,
    kTagPageName = 285, kTagSoftware = 305, kTagDateTime = 306, kTagArtist = 315,
    kTagHostComputer = 316,
    // Colour: grey response, transfer function, chromaticities, palette.
    kTagGrayResponseUnit = 290, kTagGrayResponseCurve = 291, kTagTransferFunction = 301,
    kTagWhitePoint = 318, kTagPrimaryChromaticities = 319, kTagColorMap = 320,
    // Coding options.
    kTagT4Options = 292, kTagT6Options = 293, kTagPredictor = 317,
    // Old-style JPEG.
    kTagJpegProc = 512, kTagJpegInterchangeFormat = 513, kTagJpegInterchangeLength = 514,
    kTagJpegRestartInterval = 515,
    kTagJpegQTables = 519, kTagJpegDCTables = 520, kTagJpegACTables = 521,
    // YCbCr.
    kTagYCbCrCoefficients = 529, kTagYCbCrSubSampling = 530, kTagYCbCrPositioning = 531,
    kTagReferenceBlackWhite = 532,
    // The library's private tags: two annotation areas, the page offset
    // table and the page index; and the ICC profile.
    kTagAnnotation2 = 32931, kTagAnnotation1 = 32932, kTagPageTable = 32934, kTagPageIndex = 32935,
    kTagIccProfile = 34675,
    // Directories hanging from a directory: reduced images (SubIFDs), TIFF-FX
    // global parameters, Exif, GPS, and Interoperability (inside Exif).
    kTagSubIfds = 330, kTagGlobalParametersIfd = 400, kTagExifIfd = 34665, kTagGpsIfd = 34853,
    kTagInteropIfd = 40965,
    // Tags above the private boundary whose LONG values are numbers: IPTC
    // data, TIFF/EP's image number, Exif's sensitivities and pixel dimensions.
    kTagIptc = 33723, kTagStandardOutputSensitivity = 34865, kTagRecommendedExposureIndex = 34866,
    kTagIsoSpeed = 34867, kTagIsoSpeedLatitudeYyy = 34868, kTagIsoSpeedLatitudeZzz = 34869,
    kTagImageNumber = 37393, kTagPixelXDimension = 40962, kTagPixelYDimension = 40963,
};

// Tags from here up are private: each program gives them its own meaning.
constexpr uint16_t kFirstPrivateTag = 32768;

// Values of Compression (6 and 32864 are the JPEG codes writers use).
enum TiffCompression : uint32_t {
    kTiffCompNone = 1, kTiffCompCcittRle = 2, kTiffCompCcittT4 = 3, kTiffCompCcittT6 = 4,
    kTiffCompLzw = 5, kTiffCompOldJpeg = 6, kTiffCompPackBits = 32773, kTiffCompJpegOther = 32864,
};

// Values of PhotometricInterpretation.
enum TiffPhotometric : uint32_t {
    kTiffPhotoWhiteIsZero = 0, kTiffPhotoBlackIsZero = 1, kTiffPhotoRgb = 2,
    kTiffPhotoPalette = 3, kTiffPhotoMask = 4, kTiffPhotoYCbCr = 6,
};

// Bits of NewSubfileType: a reduced image, one page of a document, a mask.
constexpr uint32_t kSubfileReducedImage = 1, kSubfilePage = 2, kSubfileMask = 4;
// JPEGProc's baseline process. (The values of ResolutionUnit,
// PlanarConfiguration and FillOrder are those of the page record.)
constexpr uint32_t kJpegProcBaseline = 1;
