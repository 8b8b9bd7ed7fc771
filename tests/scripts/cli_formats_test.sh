#!/bin/bash
# qvtav info and dump on GIF, PCX, BMP, Targa and JPEG files of independent
# writers: the format view in words and JSON (data offsets as Pillow finds
# them), the palette as Pillow reads it, and dump equal to the file's bytes
# from the data offset.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
{
    convert -seed 4 -size 41x13 plasma:fractal src.ppm
    convert src.ppm -colors 32 im.gif
    pnmquant 256 src.ppm | ppmtopcx >nb.pcx
    pnmquant 100 src.ppm | ppmtobmp >nb.bmp
    ppmtotga -rgb src.ppm >nb.tga
    cjpeg src.ppm >cj.jpg
} 2>/dev/null
# pillow FILE: the data offset and the palette (RGB, hex) Pillow finds.
pillow() { $PY -c 'import sys; from PIL import Image; i=Image.open(sys.argv[1]); o=i.tile[0][2]
print(o, bytes(i.getpalette() if i.mode=="P" else []).hex())' "$1"; }
# palette_rgb EXT: the palette of the last info --json as RGB hex (BMP
# entries are blue, green, red, 0).
palette_rgb() { $PY -c 'import json,sys; b=bytes.fromhex(json.loads(open("out").readline())["pages"][0]["palette"]["bytes"])
n=4 if sys.argv[1]=="bmp" else 3; print(b"".join(b[k:k+3][::-1] if n==4 else b[k:k+3] for k in range(0,len(b),n)).hex())' "$1"; }
for f in im.gif nb.pcx nb.bmp nb.tga; do
    run info --json $f
    read -r offset palette < <(pillow $f)
    check "$f: the data offset Pillow reads from" json_is "j['pages'][0]['format']['dataOffset']==$offset"
    if [ -n "$palette" ]; then
        check "$f: the palette, as RGB, is Pillow's" [ "$(palette_rgb "${f##*.}")" = "$palette" ]
    fi
    run dump $f 1 -o d.bin
    check "$f: dump is the file from the data offset" cmp -s d.bin <(tail -c +$((offset + 1)) $f)
done
run info nb.pcx
check "info text names the view's fields" grep -q "data offset 128, palette bytes 768, palette offset .*, planes 1, row bytes (all planes) 41" out
run info --json cj.jpg
check "JPEG: data offset and header length" json_is "j['pages'][0]['format']['dataOffset']==j['pages'][0]['format']['headerLength']>0"
run dump cj.jpg 1 -o d.bin
check "JPEG: dump is the scan, from its SOS marker" eval '[ "$(head -c 2 d.bin | od -An -tx1 | tr -d " ")" = ffda ]'
cjpeg -progressive src.ppm >prog.jpg 2>/dev/null
run info prog.jpg
check "a progressive JPEG: 274" failed_with prog.jpg "error 274"
finish
