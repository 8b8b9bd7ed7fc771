// TIFF tag numbers the library reads and writes.
#pragma once

#include <cstdint>

enum TiffTag : uint16_t {
    kTagNewSubfileType = 254,
    kTagImageWidth = 256,
    kTagImageLength = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagPhotometric = 262,
    kTagFillOrder = 266,
    kTagDocumentName = 269,
    kTagImageDescription = 270,
    kTagMake = 271,
    kTagModel = 272,
    kTagStripOffsets = 273,
    kTagOrientation = 274,
    kTagSamplesPerPixel = 277,
    kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279,
    kTagXResolution = 282,
    kTagYResolution = 283,
    kTagPlanarConfig = 284,
    kTagPageName = 285,
    kTagFreeOffsets = 288,
    kTagGrayResponseUnit = 290,
    kTagGrayResponseCurve = 291,
    kTagT4Options = 292,
    kTagT6Options = 293,
    kTagResolutionUnit = 296,
    kTagTransferFunction = 301,
    kTagSoftware = 305,
    kTagDateTime = 306,
    kTagArtist = 315,
    kTagHostComputer = 316,
    kTagPredictor = 317,
    kTagWhitePoint = 318,
    kTagPrimaryChromaticities = 319,
    kTagColorMap = 320,
    kTagTileWidth = 322,
    kTagTileLength = 323,
    kTagTileOffsets = 324,
    kTagTileByteCounts = 325,
    kTagJpegProc = 512,
    kTagJpegInterchangeFormat = 513,
    kTagJpegInterchangeLength = 514,
    kTagJpegRestartInterval = 515,
    kTagJpegQTables = 519,
    kTagJpegDCTables = 520,
    kTagJpegACTables = 521,
    kTagYCbCrCoefficients = 529,
    kTagYCbCrSubSampling = 530,
    kTagYCbCrPositioning = 531,
    kTagReferenceBlackWhite = 532,
    // The library's private tags: two annotation areas, the page offset
    // table and the page index.
    kTagAnnotation2 = 32931,
    kTagAnnotation1 = 32932,
    kTagPageTable = 32934,
    kTagPageIndex = 32935,
    kTagIccProfile = 34675,
};

// Values of Compression.
enum TiffCompression : uint32_t {
    kTiffCompNone = 1,
    kTiffCompCcittRle = 2,
    kTiffCompCcittT4 = 3,
    kTiffCompCcittT6 = 4,
    kTiffCompLzw = 5,
    kTiffCompOldJpeg = 6,
    kTiffCompPackBits = 32773,
    kTiffCompJpegOther = 32864,  // a JPEG code some writers use
};

// Values of PhotometricInterpretation.
enum TiffPhotometric : uint32_t {
    kTiffPhotoWhiteIsZero = 0,
    kTiffPhotoBlackIsZero = 1,
    kTiffPhotoRgb = 2,
    kTiffPhotoPalette = 3,
    kTiffPhotoMask = 4,
    kTiffPhotoYCbCr = 6,
};

// Bits of NewSubfileType.
constexpr uint32_t kSubfileReducedImage = 1;
constexpr uint32_t kSubfilePage = 2;  // one page of a multi-page document
constexpr uint32_t kSubfileMask = 4;

// Values of ResolutionUnit.
constexpr uint32_t kResolutionNone = 1;
constexpr uint32_t kResolutionInch = 2;
constexpr uint32_t kResolutionCentimetre = 3;

// Values of PlanarConfiguration.
constexpr uint32_t kPlanarContiguous = 1;
constexpr uint32_t kPlanarSeparate = 2;

// Values of FillOrder.
constexpr uint32_t kFillMsbFirst = 1;
constexpr uint32_t kFillLsbFirst = 2;

// JPEGProc: baseline.
constexpr uint32_t kJpegProcBaseline = 1;
