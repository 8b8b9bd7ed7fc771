#!/bin/bash
# Writes fuzz/render_seeds/: one small page of each kind the renderer
# decodes that the other seed folders lack (TIFF pages of each coding and
# layout, old-style JPEG pages, a run-length BMP of 4 bits, a block file,
# an AWD file, an XIFF file), made by ImageMagick, tiffcp, Pillow,
# libjpeg-turbo and qvtav copy. The render harness also reads
# fuzz/format_seeds/ for GIF, PCX, DCX, BMP, Targa and JPEG files.
# Usage: bash fuzz/make_render_seeds.sh BUILD_OUTPUT_DIR   (from the source tree)
set -e
out="$(cd "${1:-build/out}" && pwd)"
seeds="$(cd "$(dirname "$0")" && pwd)/render_seeds"
oracle="$(cd "$(dirname "$0")/.." && pwd)/tests/scripts/cli_oracle.py"
rm -rf "$seeds" && mkdir -p "$seeds"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
{
    convert -size 48x32 xc:white -fill black -draw "circle 24,16 24,4" -draw "line 0,0 47,31" -monochrome \
        -compress Group4 -density 204x98 -units PixelsPerInch g4.tif
    tiffcp -c g3:2d:fill -f lsb2msb g4.tif g3.tif; tiffcp -c packbits -r 5 g4.tif packbits.tif
    convert -seed 2 -size 24x16 plasma:fractal src.ppm
    convert src.ppm -depth 8 -compress LZW -define tiff:predictor=2 rgb_lzw.tif
    convert src.ppm -alpha on -depth 8 rgba.tif
    convert src.ppm -colorspace gray -depth 16 grey16.tif; tiffcp -B grey16.tif grey16be.tif
    convert src.ppm -colorspace gray -depth 4 grey4.tif
    convert src.ppm -colors 40 -type Palette -compress LZW pal8.tif
    cjpeg src.ppm >src.jpg
} 2>/dev/null
/usr/bin/python3 - <<'PY'
import struct
from PIL import Image
Image.open("g4.tif").convert("1").save("mh.tif", compression="tiff_ccitt", tiffinfo={274: 6})
jpeg = open("src.jpg", "rb").read()
sos = jpeg.index(b"\xff\xda")
# An old-style JPEG page: the JPEG file behind the header, its scan the strip.
entries = [(256, 3, 1, 24), (257, 3, 1, 16), (258, 3, 1, 8), (259, 3, 1, 6), (262, 3, 1, 6), (273, 4, 1, 8 + sos),
           (277, 3, 1, 3), (278, 3, 1, 16), (279, 4, 1, len(jpeg) - sos), (513, 4, 1, 8), (514, 4, 1, sos)]
ifd = 8 + len(jpeg) + (len(jpeg) & 1)
d = b"II*\0" + struct.pack("<I", ifd) + jpeg + b"\0" * (len(jpeg) & 1) + struct.pack("<H", len(entries))
for tag, typ, count, value in entries:
    d += struct.pack("<HHIHH" if typ == 3 else "<HHII", tag, typ, count, value, *([0] if typ == 3 else []))
open("ojpeg.tif", "wb").write(d + b"\0\0\0\0")
# A 4-bit run-length BMP: runs, an absolute run, end of line, a delta, end of bitmap.
rle = bytes([4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 2, 0x67, 0, 2, 1, 1, 3, 0x89, 0, 1])
palette = b"".join(bytes([k * 16, 255 - k * 16, k * 8, 0]) for k in range(16))
info = struct.pack("<IiiHHIIiiII", 40, 8, 4, 1, 4, 2, len(rle), 2835, 2835, 16, 0)
start = 14 + len(info) + len(palette)
open("rle4.bmp", "wb").write(b"BM" + struct.pack("<IHHI", start + len(rle), 0, 0, start) + info + palette + rle)
PY
"$out/qvtav" copy g4.tif packbits.tif -o pages.blk --block >/dev/null
"$out/qvtav" copy g4.tif g3.tif -o fax.awd >/dev/null
/usr/bin/python3 "$oracle" xiff pal8.tif page.xif xerox
for f in g4.tif g3.tif packbits.tif mh.tif rgb_lzw.tif rgba.tif grey16be.tif grey4.tif pal8.tif ojpeg.tif \
         rle4.bmp pages.blk fax.awd page.xif; do
    cp "$f" "$seeds/$f"
done
ls -l "$seeds"
