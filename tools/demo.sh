#!/bin/bash
# The demo: writes the sample documents through the library, shows what
# qvtav reports about them, then copies pages, deletes one and changes the
# document properties, showing the result after each step; then bilevel
# pages go into a block file and back, pages of other formats are shown,
# an AWD fax document is made and edited, and last pages are drawn as PNG
# images: single pages, and a contact sheet of the sample documents (the
# image README shows, docs/demo-sheet.png, is this sheet).
# Usage: bash tools/demo.sh BUILD_OUTPUT_DIR   (make demo passes build/out)
set -e
out="$(cd "${1:-build/out}" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"
qvtav="$out/qvtav"
demo="$out/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

step() {
    echo
    echo "== $* =="
}
show() {
    local line="\$ $(basename "$1")" arg
    for arg in "${@:2}"; do
        case "$arg" in *" "*) line+=" \"$arg\"" ;; *) line+=" $arg" ;; esac
    done
    echo "$line"
    "$@"
}

step "1. the sample documents, written through libqvtav400"
"$out/qvtav_samples" .
show "$qvtav" info letter.tif scan.tif
show "$qvtav" info --json scan.tif

step "2. copy: the grey page of letter.tif, then scan.tif, into a new file"
show "$qvtav" copy letter.tif:3 scan.tif -o album.tif
show "$qvtav" info album.tif

step "3. append: letter.tif's first two pages at the end"
show "$qvtav" copy letter.tif:1-2 -o album.tif --append
show "$qvtav" info album.tif

step "4. delete: page 2 (the scan)"
show "$qvtav" delete album.tif 2
show "$qvtav" info album.tif

step "5. props: a title and an author"
show "$qvtav" props album.tif --title "Demo album" --author "make demo"
show "$qvtav" info album.tif

step "6. the example program examples/pageinfo.c on the same file"
show "$out/pageinfo" album.tif

step "7. block files: letter.tif's bilevel pages into a block file, and back into TIFF"
show "$qvtav" copy letter.tif:1-2 -o letter.blk --block
show "$qvtav" info letter.blk
show "$qvtav" copy letter.blk -o from-block.tif
show "$qvtav" info from-block.tif
step "8. one page of each other format, made by ImageMagick, netpbm and libjpeg-turbo"
{
    convert -seed 5 -size 120x80 plasma:fractal photo.ppm
    convert photo.ppm -colors 64 photo.gif
    pnmquant 256 photo.ppm | ppmtopcx >photo.pcx
    pnmquant 16 photo.ppm | ppmtopcx >photo16.pcx
    convert photo.ppm -alpha on photo.bmp
    ppmtotga -rgb photo.ppm >photo.tga
    cjpeg -quality 80 photo.ppm >photo.jpg
    # A DCX file: its mark, the table of page offsets, then the PCX pages.
    python3 - photo.pcx photo16.pcx >pages.dcx <<'PY'
import struct, sys
pages = [open(p, "rb").read() for p in sys.argv[1:]]
offsets, at = [], 4 + 4 * (len(pages) + 1)
for p in pages:
    offsets.append(at)
    at += len(p)
sys.stdout.buffer.write(struct.pack("<%dI" % (len(pages) + 2), 987654321, *offsets, 0) + b"".join(pages))
PY
} 2>/dev/null
show "$qvtav" info photo.gif pages.dcx photo.bmp photo.tga photo.jpg
show "$qvtav" info --json photo.jpg
show "$qvtav" dump photo.bmp 1 -o photo.bgr
echo "photo.bgr: $(stat -c %s photo.bgr) bytes, 80 rows of 360 bytes (blue, green, red) from the 32-bit BMP"
step "9. an AWD fax document: letter.tif's two bilevel pages, twice, then edited"
show "$qvtav" copy letter.tif:1-2 letter.tif:2 -o fax.awd
show "$qvtav" info fax.awd
show "$qvtav" delete fax.awd 2
show "$qvtav" move fax.awd 2 --before 1
show "$qvtav" info fax.awd
show "$qvtav" copy fax.awd -o fax.tif
show "$qvtav" info fax.tif
show "$qvtav" storage fax.awd

step "10. pages people can see: render and sheet write PNG images"
show "$qvtav" render fax.awd --as-displayed -o fax-page1.png
show "$qvtav" render pages.dcx --page 1- -o dcx.png
show "$qvtav" render photo.bmp -o photo-bmp.png
# The sample documents in one file: letter.tif, scan.tif, a colour page of
# ImageMagick's, the block file's pages and the fax's first page.
convert -seed 5 -size 300x200 plasma:fractal -compress LZW -define tiff:predictor=1 colour.tif 2>/dev/null
show "$qvtav" copy letter.tif scan.tif colour.tif letter.blk fax.awd:1 -o samples.tif
show "$qvtav" sheet samples.tif -o samples.png --width 900

echo
echo "The files are in $demo (the contact sheet: $demo/samples.png); 'qvtav --help' lists every command."
