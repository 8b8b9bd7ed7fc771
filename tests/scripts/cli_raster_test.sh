#!/bin/bash
# qvtav copy into PCX, BMP and DCX files: TIFF pages of every kind these
# formats take show the same pixels in Pillow or ImageMagick; what they
# cannot take is refused before anything is written.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
convert -size 70x50 plasma:fractal -colors 200 -type Palette -compress LZW pal8.tif 2>/dev/null
convert -size 40x30 plasma:fractal -compress JPEG jpeg.tif 2>/dev/null
tiffcp -c none g4.tif plain1.tif 2>/dev/null
# A bilevel page stored min-is-black.
$PY -c 'from PIL import Image, ImageDraw
im = Image.new("1", (37, 11), 0); ImageDraw.Draw(im).rectangle((3, 2, 20, 8), fill=1); im.save("black1.tif", dpi=(200, 200))'
# Frame K of a DCX file as PNG: Pillow for bilevel pages, ImageMagick for
# the others (Pillow reads a DCX page of 256 colours from the wrong places,
# and ImageMagick shows set PCX bits black).
frame() { if [ "$3" = bilevel ]; then $PY -c 'import sys; from PIL import Image
im = Image.open(sys.argv[1]); im.seek(int(sys.argv[2])); im.save(sys.argv[3])' "$1" "$2" "$4"
          else convert "$1[$2]" "$4"; fi; }

for src in g4 black1 lzw rgb pal pal8; do
    for ext in pcx bmp; do
        run copy $src.tif -o $src.$ext
        check "$src.tif into $ext: the same pixels" eval \
            'grep -q "copied 1 page into $src.$ext" out && oracle same-image $src.tif 1 $src.$ext'
    done
done
run info --json black1.bmp
check "info: a BMP file, 200 dpi kept as 7874 pixels per metre (read back / 39)" json_is \
    'j["fileType"]==8 and j["pages"][0]["xResolution"]["numerator"]==7874//39'
run info --json pal.pcx
check "info: a 16-colour PCX file" json_is 'j["fileType"]==7 and j["pages"][0]["bitsPerSample"][0]==4'

run copy g4.tif rgb.tif pal.tif pal8.tif lzw.tif -o m.dcx
check "five pages into a DCX file" grep -q "copied 5 pages into m.dcx" out
k=0
for src in g4:bilevel rgb:- pal:- pal8:- lzw:-; do
    frame m.dcx $k "${src#*:}" f$k.png
    check "DCX page $((k + 1)) shows ${src%%:*}.tif" oracle same-image "${src%%:*}.tif" 1 f$k.png
    k=$((k + 1))
done
run copy black1.tif -o m.dcx --append
check "a page appended to the DCX file" eval 'grep -q "appended 1 page to m.dcx" out &&
    frame m.dcx 5 bilevel f5.png && oracle same-image black1.tif 1 f5.png'

run copy g4.tif rgb.tif -o two.pcx
check "two pages into a PCX file: refused, no file" eval 'failed_with two.pcx "holds one page" && [ ! -e two.pcx ]'
run copy jpeg.tif -o j.bmp
check "a JPEG page: refused, no file" eval 'failed_with jpeg.tif "compression" && [ ! -e j.bmp ]'
run copy multi.tif:2 -o x.pcx
check "an LZW grey page with a predictor decodes" oracle same-image multi.tif 2 x.pcx
$PY -c 'from PIL import Image; Image.new("I;16", (8, 8)).save("deep.tif")'
run copy deep.tif -o deep.bmp
check "16-bit samples: refused with the reason" eval 'failed_with deep.tif "16 bits" && [ ! -e deep.bmp ]'
finish
