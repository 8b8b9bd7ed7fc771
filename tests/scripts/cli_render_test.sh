#!/bin/bash
# qvtav render and qvtav sheet: every page type drawn, pixel by pixel the
# same as Pillow's (or ImageMagick's) decode of the same file, on files of
# independent writers (ImageMagick, tiffcp, Pillow, netpbm, libjpeg-turbo);
# AWD and block file pages, made by qvtav copy, the same as the TIFF pages
# they came from; damaged files refused cleanly; contact sheets that keep
# thin lines and number their pages.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
R="$(dirname "$ORACLE")/render_oracle.py"
SOURCE="$(cd "$(dirname "$ORACLE")/../.." && pwd)"
render_oracle() { $PY "$R" "$@"; }
# drawn FILE [PAGE] [TOLERANCE] [MODE]: page PAGE of FILE drawn alone shows
# frame PAGE of FILE as Pillow decodes it.
drawn() {
    rm -f d.png
    run render "$1" --page "${2:-1}" -o d.png
    [ "$rc" -eq 0 ] && render_oracle same "$1" "${2:-1}" d.png "${3:-0}" $4
}
{
    # Bilevel TIFF pages in every CCITT coding, uncompressed, PackBits, fill
    # order 2, several strips, min-is-black.
    convert -size 333x77 xc:white -fill black -draw "line 0,0 332,76" -draw "circle 60,38 60,8" \
        -monochrome -compress Group4 bw.tif
    tiffcp -c g3:1d bw.tif g3.tif; tiffcp -c g3:2d:fill -f lsb2msb bw.tif g3fill.tif
    tiffcp -c g4 -r 10 bw.tif g4strips.tif; tiffcp -c none bw.tif none.tif; tiffcp -c packbits bw.tif pb.tif
    $PY -c 'from PIL import Image; Image.open("bw.tif").convert("1").save("mh.tif", compression="tiff_ccitt")'
    # Grey of 2, 4, 8 (min-is-white too), 16 bits (LZW with predictor, big-endian), with alpha.
    convert -size 120x80 gradient: -depth 2 grey2.tif; convert -size 120x80 gradient: -depth 4 grey4.tif
    convert -size 120x80 gradient: -depth 8 -define tiff:photometric=min-is-white white8.tif
    convert -size 120x80 gradient: -depth 16 -compress LZW -define tiff:predictor=2 grey16.tif
    tiffcp -B -c none grey16.tif grey16be.tif
    convert -size 120x80 gradient: -alpha on -channel A -evaluate set 30% +channel -depth 8 greya.tif
    # Palette pages of 2, 4 and 8 bits; RGB of 8 bits (predictor, PackBits,
    # strips), 16 bits big-endian, with alpha.
    convert -size 90x60 plasma:fractal -colors 4 -type Palette -depth 2 pal2.tif
    convert -size 90x60 gradient:red-blue -colors 16 -type Palette -compress LZW pal4.tif
    convert -size 90x60 plasma:fractal -colors 200 -type Palette -compress LZW pal8.tif
    convert -size 120x80 plasma:fractal -depth 8 -compress LZW -define tiff:predictor=2 rgb.tif
    tiffcp -c packbits -r 7 rgb.tif rgbstrips.tif
    convert -size 120x80 plasma:fractal -depth 16 -compress None rgb16.tif; tiffcp -B rgb16.tif rgb16be.tif
    convert -size 120x80 plasma:fractal -alpha on -channel A -evaluate set 50% +channel -depth 8 rgba.tif
    tiffcp -p separate rgb.tif planes.tif
    convert -size 40x30 plasma:fractal -compress JPEG newjpeg.tif
} 2>/dev/null
for f in bw g3 g3fill g4strips none pb mh; do check "$f.tif: bilevel, 1 bit, Pillow's pixels" drawn $f.tif 1 0 1; done
check "2-bit grey: 8-bit grey, Pillow's pixels" drawn grey2.tif 1 0 L
check "4-bit grey" drawn grey4.tif
check "8-bit min-is-white grey" drawn white8.tif 1 0 L
check "16-bit grey with a predictor: 16-bit values" drawn grey16.tif 1 0 I
check "16-bit grey, big-endian" drawn grey16be.tif 1 0 I
check "grey with alpha" drawn greya.tif 1 0 LA
for f in pal2 pal4 pal8; do check "$f.tif: palette kept" drawn $f.tif 1 0 P; done
check "RGB, LZW with a predictor" drawn rgb.tif 1 0 RGB
check "RGB in PackBits strips" drawn rgbstrips.tif
check "RGBA" drawn rgba.tif 1 0 RGBA
for f in rgb16 rgb16be; do
    run render $f.tif -o d.png
    check "$f.tif: 16-bit RGB, ImageMagick's samples" render_oracle same16 $f.tif d.png
done
run render planes.tif -o p.png
check "samples plane by plane: refused, no image" eval 'failed_with planes.tif "plane by plane" && [ ! -e p.png ]'
run render newjpeg.tif -o j.png
check "new-style JPEG: the library's refusal" eval 'failed_with newjpeg.tif "error 274" && [ ! -e j.png ]'

# Old-style JPEG pages: a JPEG file from cjpeg inside a TIFF page
# (JPEGInterchangeFormat at its start, the strip from its scan), and a
# page whose two strips are JPEG files of their own.
{
    convert -seed 4 -size 64x48 plasma:fractal src.ppm
    cjpeg src.ppm >c.jpg; cjpeg -grayscale src.ppm >g.jpg
    convert src.ppm -crop 64x24+0+0 top.ppm; convert src.ppm -crop 64x24+0+24 bottom.ppm
    cjpeg top.ppm >top.jpg; cjpeg bottom.ppm >bottom.jpg
} 2>/dev/null
$PY - <<'PY'
import struct
from PIL import Image

def tiff(path, strips, width, height, comps, photometric, interchange=None):
    """A little-endian one-page TIFF: the JPEG data, then the directory."""
    data = bytearray(b"II*\0\0\0\0\0")
    offsets = []
    for s in strips:
        offsets.append(len(data))
        data += s
    start = 8
    if interchange is not None:  # one JPEG file: the strip starts at its scan
        start, offsets = 8, [8 + interchange]
        strips = [strips[0][interchange:]]
    data += b"\0" * (len(data) & 1)
    tables = len(data)
    data += struct.pack("<%dI" % len(offsets), *offsets) + struct.pack("<%dI" % len(strips), *map(len, strips))
    data += struct.pack("<HHH", 8, 8, 8)
    rows = height // len(strips)
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, comps, 8 if comps == 1 else tables + 8 * len(strips)),
               (259, 3, 1, 6), (262, 3, 1, photometric),
               (273, 4, len(strips), offsets[0] if len(strips) == 1 else tables), (277, 3, 1, comps),
               (278, 4, 1, rows), (279, 4, len(strips), len(strips[0]) if len(strips) == 1 else tables + 4 * len(strips))]
    if interchange is not None:
        entries += [(513, 4, 1, start), (514, 4, 1, interchange)]
    ifd = len(data)
    data += struct.pack("<H", len(entries))
    for tag, typ, count, value in entries:
        data += struct.pack("<HHIHH" if typ == 3 and count == 1 else "<HHII", tag, typ, count, value,
                            *([0] if typ == 3 and count == 1 else []))
    data += b"\0\0\0\0"
    struct.pack_into("<I", data, 4, ifd)
    open(path, "wb").write(data)

for name, jpeg, photometric in (("ycc", "c.jpg", 6), ("rgbj", "c.jpg", 2), ("greyj", "g.jpg", 1)):
    b = open(jpeg, "rb").read()
    tiff(name + ".tif", [b], 64, 48, 1 if photometric == 1 else 3, photometric, interchange=b.index(b"\xff\xda"))
tiff("halves.tif", [open("top.jpg", "rb").read(), open("bottom.jpg", "rb").read()], 64, 48, 3, 6)
a, b = Image.open("top.jpg"), Image.open("bottom.jpg")
whole = Image.new("RGB", (64, 48)); whole.paste(a, (0, 0)); whole.paste(b, (0, 24)); whole.save("halves.png")
PY
run render ycc.tif -o d.png
check "old-style JPEG, YCbCr: the JPEG file's pixels within 2" render_oracle same c.jpg 1 d.png 2 RGB
run render rgbj.tif -o d.png
check "old-style JPEG, RGB" render_oracle same c.jpg 1 d.png 2
run render greyj.tif -o d.png
check "old-style JPEG, grey" render_oracle same g.jpg 1 d.png 2 L
run render halves.tif -o d.png
check "JPEG strips of their own, one under the other" render_oracle same halves.png 1 d.png 2

# Orientation: drawn as stored, and as displayed the way Pillow shows it.
$PY -c 'from PIL import Image
s = Image.open("src.ppm")
for o in range(1, 9):
    s.save("o%d.tif" % o, tiffinfo={274: o}); s.convert("1").save("ob%d.tif" % o, tiffinfo={274: o}, compression="group4")'
for o in 1 2 3 4 5 6 7 8; do
    for f in o$o ob$o; do
        run render $f.tif --as-displayed -o d.png
        check "$f.tif: orientation $o as displayed" render_oracle same $f.tif 1 d.png
    done
done
cp o6.tif stored.tif && tiffset -s 274 1 stored.tif
run render o6.tif -o d.png
check "orientation 6 without --as-displayed: as stored" render_oracle same stored.tif 1 d.png
# A fax page of 204 x 98 dpi is stretched to its true aspect.
convert -size 300x200 xc:white -fill black -draw "circle 150,100 150,20" -monochrome -density 204x98 \
    -units PixelsPerInch -compress Group4 fine.tif 2>/dev/null
run render fine.tif --as-displayed -o d.png
check "204 x 98 dpi as displayed: stretched to 300 x 416" render_oracle stretched fine.tif d.png

# Pages of a multi-page file: each page numbered into OUT-N.png.
tiffcp bw.tif rgb.tif pal8.tif grey16.tif multi.tif 2>/dev/null
run render multi.tif --page 2- -o m.png
check "--page 2-: three images, numbered" eval '[ ! -e m-1.png ] && grep -q "drew 3 of 3 pages into m-N.png" out'
for p in 2 3 4; do check "multi.tif page $p" render_oracle same multi.tif $p m-$p.png; done
run render multi.tif --page 5 -o m.png
check "a page beyond the last: a usage error" status_is 2

# GIF, PCX, DCX, BMP, Targa and JPEG files of independent writers.
{
    convert src.ppm -colors 32 im.gif; convert src.ppm -colors 32 -interlace GIF laced.gif
    convert src.ppm -monochrome two.gif
    pnmquant 256 src.ppm | ppmtopcx >nb256.pcx; pnmquant 16 src.ppm | ppmtopcx >nb16.pcx
    ppmtopcx -24bit src.ppm >nb24.pcx
    pnmquant 100 src.ppm | ppmtobmp >nb.bmp; ppmtotga -rgb src.ppm >nb.tga
    convert src.ppm -colors 200 -compress RLE bmp3:rle8.bmp
    convert src.ppm -define bmp:subtype=RGB565 b565.bmp; convert src.ppm -define bmp:subtype=RGB555 b555.bmp
    convert src.ppm -alpha on b32.bmp
    cjpeg src.ppm >cj.jpg; cjpeg -grayscale src.ppm >cjg.jpg
} 2>/dev/null
$PY -c 'from PIL import Image
s = Image.open("src.ppm")
s.convert("L").save("grey.gif"); s.save("p.pcx"); s.convert("1").save("p1.pcx"); s.quantize(200).save("p8.pcx")
s.convert("1").save("p1.bmp"); s.quantize(16).save("p4.bmp"); s.save("p24.bmp")
s.save("p.tga"); s.save("prle.tga", compression="tga_rle"); s.convert("RGBA").save("pa.tga")
s.convert("L").save("pl.tga"); s.quantize(50).save("pp.tga"); s.save("p.jpg", quality=90)'
for f in im.gif laced.gif two.gif grey.gif nb256.pcx nb16.pcx nb24.pcx p.pcx p1.pcx p8.pcx nb.bmp p1.bmp p4.bmp \
         p24.bmp rle8.bmp b565.bmp b555.bmp b32.bmp nb.tga p.tga prle.tga pa.tga pl.tga pp.tga; do
    check "$f: Pillow's pixels" drawn $f
done
for f in cj.jpg cjg.jpg p.jpg; do check "$f: Pillow's pixels within 2" drawn $f 1 2; done
# A DCX file: its mark, the table of its pages, then PCX files from netpbm.
$PY -c 'import struct, sys
pages = [open(p, "rb").read() for p in sys.argv[1:]]
at, offsets = 4 + 4 * (len(pages) + 1), []
for p in pages:
    offsets.append(at); at += len(p)
open("pages.dcx", "wb").write(struct.pack("<%dI" % (len(pages) + 2), 987654321, *offsets, 0) + b"".join(pages))' \
    nb256.pcx nb16.pcx nb24.pcx p1.pcx
k=1
for f in nb256.pcx nb16.pcx nb24.pcx p1.pcx; do
    run render pages.dcx --page $k -o d.png
    check "DCX page $k shows $f" render_oracle same $f 1 d.png
    k=$((k + 1))
done

# AWD and block file pages, made by qvtav copy, show the TIFF pages they came from.
run copy bw.tif g3.tif g4strips.tif -o f.awd
check "AWD copy made" status_is 0
run render f.awd --page 1-3 -o a.png
k=1
for f in bw g3 g4strips; do check "AWD page $k shows $f.tif" render_oracle same $f.tif 1 a-$k.png; k=$((k + 1)); done
# An AWD page turned a quarter for display is shown turned clockwise.
# (The Python module loads this build's library; a sanitizer build's library
# needs its runtime loaded first.)
asan_runtime=$(ldd "$OUT/libqvtav400.so" | awk '/libasan/ {print $3}')
PYTHONPATH="$SOURCE/python" QVTAV_LIBRARY="$OUT/libqvtav400.so" LD_PRELOAD="$asan_runtime" ASAN_OPTIONS=detect_leaks=0 \
    $PY -c 'import ctypes, qvtav
from qvtav import _records as R
from qvtav._library import lib
from PIL import Image
f = qvtav.open("f.awd", "a")
page = R.PageInfo()
page.imageWidth, page.xResNum, page.yResNum, page.xResDen, page.yResDen = 333, 200, 200, 1, 1
page.maxStripSize, page.stripCount = 90 << 16, 100 | 100 << 16  # display rotation 90, scales 100 %
err = ctypes.c_uint32()
assert lib.xtavputi(f._h(), 1, ctypes.byref(page), None, ctypes.byref(err)) >= 0, err.value
f.close()
Image.open("bw.tif").transpose(Image.Transpose.ROTATE_270).save("bw_right.png")'
run render f.awd --as-displayed -o d.png
check "AWD display rotation 90: turned clockwise" render_oracle same bw_right.png 1 d.png
run copy bw.tif g3.tif none.tif pb.tif -o f.blk --block
run render f.blk --page 1-4 -o b.png
k=1
for f in bw g3 none pb; do check "block file page $k shows $f.tif" render_oracle same $f.tif 1 b-$k.png; k=$((k + 1)); done
# XIFF pages, decoded by the reader, show the TIFF page the XIFF file wraps.
for f in pal8 rgb bw; do
    oracle xiff $f.tif $f.xif xerox
    run render $f.xif -o d.png
    check "XIFF wrapping $f.tif" render_oracle same $f.tif 1 d.png
done

# Damaged files: an error naming the page, no image, no crash.
convert -size 1728x2200 xc:white -fill black -draw "rectangle 100,100 1600,2000" -draw "circle 800,1000 800,300" \
    -monochrome -compress Group4 big.tif 2>/dev/null
$PY -c 'import struct
def edit(path, change):
    d = bytearray(open("big.tif", "rb").read())
    ifd = struct.unpack_from("<I", d, 4)[0]
    for k in range(struct.unpack_from("<H", d, ifd)[0]):
        at = ifd + 2 + 12 * k
        change(d, at, *struct.unpack_from("<HHII", d, at))
    open(path, "wb").write(d)
def huge(d, at, tag, typ, count, value):  # 60000 x 60000 pixels claimed by a page of a few bytes
    if tag in (256, 257): struct.pack_into("<HHII", d, at, tag, 4, 1, 60000)
def zero(d, at, tag, typ, count, value):  # the coded rows start with zero bytes: no code word
    if tag == 273: d[value:value + 64] = bytes(64)
edit("huge.tif", huge); edit("zeros.tif", zero)'
run render huge.tif -o h.png
check "60000 x 60000 pixels: refused by size, no image" eval 'failed_with huge.tif "MB a picture may take" && [ ! -e h.png ]'
run render zeros.tif -o z.png
check "G4 data without code words: libtiff's failure, no image" eval 'failed_with zeros.tif "cannot decode" && [ ! -e z.png ]'
printf 'GIF89a\x10\x00\x10\x00\x00\x00\x00,\x00\x00\x00\x00\x10\x00\x10\x00\x00\x0c\x02\xff\xff\x00;' >badcode.gif
run render badcode.gif -o c.png
check "a GIF with an LZW code size of 12: refused" eval 'failed_with badcode.gif "code size" && [ ! -e c.png ]'
printf 'BM' >rle.bmp; $PY -c 'import struct
pixels = b"\x00\x02\xff\xff" * 4000 + b"\x05\x01"  # deltas far beyond the image, then a run
head = struct.pack("<IHHI", 14 + 40 + 1024 + len(pixels), 0, 0, 14 + 40 + 1024)
info = struct.pack("<IiiHHIIiiII", 40, 8, 8, 1, 8, 1, len(pixels), 2835, 2835, 0, 0)
open("rle.bmp", "ab").write(head + info + bytes(1024) + pixels)'
run render rle.bmp -o d.png
check "RLE8 deltas beyond the image: drawn, nothing outside it" status_is 0

# Contact sheets.
tiffcp bw.tif rgb.tif pal8.tif grey16.tif o6.tif fine.tif multi.tif 2>/dev/null
convert -size 850x1100 xc:white white.tif 2>/dev/null
tiffcp $(for k in $(seq 12); do echo white.tif; done) white12.tif 2>/dev/null
run sheet white12.tif -o s.png --width 700 --columns 4
check "sheet: twelve numbered thumbnails within 700 pixels" render_oracle sheet s.png 12 700
run sheet white12.tif -o s.png --width 500
check "sheet: default columns within 500 pixels" render_oracle sheet s.png 12 500
check "sheet: no progress line when stderr is not a terminal" eval '! grep -q "drawing page" err'
script -qec "$Q sheet white12.tif -o tty.png" /dev/null >tty.txt 2>&1
check "sheet: a progress line on a terminal" grep -q "drawing page 12 of 12" tty.txt
script -qec "$Q render white12.tif --page 2-4 -o tty.png" /dev/null >tty.txt 2>&1
check "render of several pages: a progress line on a terminal" grep -q "drawing page 3 of 3" tty.txt
convert -size 1700x2200 xc:white -fill black -draw "line 0,1100 1699,1100" -monochrome -compress Group4 line.tif 2>/dev/null
run sheet line.tif -o s.png --width 300
check "sheet: a one-pixel line stays visible, averaged" render_oracle line-visible s.png
tiffcp white.tif newjpeg.tif white.tif broken.tif 2>/dev/null
run sheet broken.tif -o s.png --columns 3
check "sheet: a page that cannot be drawn is reported, the others shown" eval \
    'failed_with broken.tif "page 2" && render_oracle sheet s.png 2 1200'
run sheet white12.tif -o s.png --width 40 --columns 3
check "sheet: too narrow for the columns: a usage error" status_is 2
finish
