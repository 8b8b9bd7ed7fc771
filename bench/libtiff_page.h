// The fields of a bilevel page written through libtiff, as the peer files of
// the benchmarks have them: a page of a document, one strip, white as zero,
// resolution in inches.
#pragma once

#include <tiffio.h>

#include <cstdint>

namespace bench {

inline void libtiff_bilevel_page(TIFF* t, uint32_t width, uint32_t length, uint16_t compression, double xres,
                                 double yres) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, length);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, length);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, xres);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, yres);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

}  // namespace bench
