#!/bin/bash
# qvtav info and dump on XIFF files (files of ImageMagick and tiffcp with
# the XIFF marks behind the header): the pages as the reader describes
# them, decoded pages written as PBM, PGM and PPM images equal to PIL's
# decoding, remote files, and damaged files within a 256 MB address space.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
convert -size 600x400 -seed 5 plasma:fractal -depth 8 -type TrueColor -units PixelsPerInch -density 300 \
    -compress None rgb300.tif 2>/dev/null
tiffcp g4.tif lzw_plain.tif rgb300.tif pal.tif four.tif
oracle xiff four.tif four.xif xerox
oracle xiff lzw.tif grey.xif extended

run info four.xif
check "info: an XIFF file of 4 pages, delivered decoded" eval 'status_is 0 && grep -q "four.xif: XIFF, 4 pages" out &&
    [ $(grep -c "delivered decoded" out) -eq 4 ]'
check "the 300-dpi page described at 150 dpi, half its size" \
    grep -q "page 3: 300 x 200 pixels, 8 bits x 3 samples, 150 x 150 pixels/inch" out
run info --json four.xif grey.xif
check "info --json: every page uncompressed, in its output form" json_is \
    '[(p["photometric"],p["bitsPerSample"],p["compression"]) for p in j["pages"]]==[(10,[1],1),(11,[8],1),(8,[8,8,8],1),(7,[4],1)]'
check "... and the file behind the other mark" $PY -c 'import json; l=open("out").readlines(); exit(json.loads(l[1])["fileTypeName"]!="XIFF")'

for page in 1 2 3 4; do
    run dump four.xif $page -o p$page.pnm
    check "dump page $page: an image of libtiff's pixels (resampled at 150 dpi)" \
        eval "status_is 0 && oracle same-image four.tif $page p$page.pnm"
done
check "PBM for bilevel, PGM for grey, PPM for RGB and palette pages" \
    eval '[ "$(head -c2 p1.pnm)$(head -c2 p2.pnm)$(head -c2 p3.pnm)$(head -c2 p4.pnm)" = P4P5P6P6 ]'
check "netpbm reads the images" eval "pamfile p1.pnm p2.pnm p3.pnm p4.pnm >/dev/null"
run dump grey.xif 1 -o grey.pgm
check "the eXtended mark: an LZW grey page" eval 'status_is 0 && oracle same-image lzw.tif 1 grey.pgm'

mkdir srv && cp four.xif srv/
run --server ./srv dump four.xif 3 -o remote.pnm
check "a remote XIFF file gives the same image" eval 'status_is 0 && cmp -s remote.pnm p3.pnm'
run --server srv/ info four.xif
check "... and the same page information" eval 'status_is 0 && grep -q "page 3: 300 x 200 pixels" out'

# Damaged files: cut short, and with absurd sizes in the first page.
size=$(stat -c %s four.xif)
for n in 7 40 100 $((size / 3)) $((size - 100)); do head -c $n four.xif >cut$n.xif; done
$PY - <<'EOF'
import struct
data = open("four.xif", "rb").read()
ifd = struct.unpack_from("<I", data, 4)[0]
count = struct.unpack_from("<H", data, ifd)[0]
def patched(name, values):
    out = bytearray(data)
    for k in range(count):
        e = ifd + 2 + 12 * k
        tag = struct.unpack_from("<H", data, e)[0]
        if tag in values:
            struct.pack_into("<HII", out, e + 2, 4, 1, values[tag])
    open(name, "wb").write(out)
patched("wide.xif", {256: 0xFFFFFFF0})
patched("long.xif", {257: 0x7FFFFFF0})
patched("big.xif", {256: 60000, 257: 60000, 278: 60000})
patched("far.xif", {273: 0x7FFFFF00})
EOF
damaged="cut*.xif wide.xif long.xif big.xif far.xif"
for f in $damaged; do
    run info $f
    check "info $f: a result or an error line" eval '[ $rc -le 1 ]'
done
# The limit needs a build without address sanitizer, which reserves more.
if ! ldd "$Q" | grep -q libasan; then
    for f in $damaged; do
        (ulimit -v 262144; "$Q" info $f >/dev/null 2>&1; r1=$?; "$Q" dump $f 1 -o d.pnm >/dev/null 2>err; r2=$?
         [ $r1 -le 1 ] && [ $r2 -le 1 ])
        check "info and dump of $f within 256 MB: a result or a code" [ $? -eq 0 ]
    done
    (ulimit -v 262144; "$Q" dump four.xif 3 -o limited.pnm) >/dev/null 2>&1
    check "a sound page dumps within 256 MB" cmp -s limited.pnm p3.pnm
else
    echo "skip  the 256 MB limit (sanitizer build)"
fi
finish
