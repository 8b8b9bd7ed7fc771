#!/bin/bash
# qvtav copy: pages of tiffcp and library files copied into a new file or
# appended; the copy keeps each page's strips exactly, libtiff reads it and
# its pixels equal the sources'.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
"$SAMPLES" . >/dev/null 2>&1
$PY "$ORACLE" make short1.tif short1

# The strips of page $2 of $1 equal those of page $4 of $3, byte for byte.
same_strips() {
    $PY "$ORACLE" raw-strips "$1" "$2" a.bin && $PY "$ORACLE" raw-strips "$3" "$4" b.bin &&
        cmp -s a.bin b.bin &&
        [ "$($PY "$ORACLE" strip-counts "$1" "$2")" = "$($PY "$ORACLE" strip-counts "$3" "$4")" ]
}
# libtiff reads every page and decodes it without complaint.
libtiff_reads() { tiffinfo -D "$1" >/dev/null 2>tiff.err && ! grep -v "tag 32934" tiff.err | grep -q .; }

run copy multi.tif:3,1 letter.tif:2 -o c.tif
if not_built; then
    skip "copy: TIFF reading or writing not built yet"
    finish
    exit $?
fi
check "copy of pages from two files: status 0" [ "$rc" -eq 0 ]
check "copy reports the pages" grep -q "copied 3 pages into c.tif" out
run info --json c.tif
check "info on the copy shows the pages in the order given" $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline())
pg=j["pages"]
sys.exit(not (j["pageCount"]==3 and [(p["width"],p["length"],p["compression"]) for p in pg]==[(120,80,1),(200,100,4),(600,800,6)]
    and pg[2]["texts"]["PageName"]=="form" and j["properties"] is None))' out
check "libtiff reads the copy" libtiff_reads c.tif
check "copied RGB page keeps its five strips exactly" same_strips c.tif 1 multi.tif 3
check "copied CCITT T.6 page keeps its strip exactly" same_strips c.tif 2 multi.tif 1
check "copied PackBits page keeps its four strips exactly" same_strips c.tif 3 letter.tif 2
check "copied RGB page: same pixels" $PY "$ORACLE" same-pixels c.tif 1 multi.tif 3
check "copied bilevel page: same pixels" $PY "$ORACLE" same-pixels c.tif 2 multi.tif 1
check "copied PackBits page: same pixels" $PY "$ORACLE" same-pixels c.tif 3 letter.tif 2

run copy pal.tif -o d.tif
check "copy of a palette page" [ "$rc" -eq 0 ]
check "palette page: same pixels (colour map copied)" $PY "$ORACLE" same-pixels d.tif 1 pal.tif 1
tiffcp -c lzw:1 lzw.tif lzw1.tif
run copy lzw1.tif -o d2.tif
check "LZW page without predictor: same pixels" $PY "$ORACLE" same-pixels d2.tif 1 lzw1.tif 1
# ImageMagick's LZW page uses horizontal differencing; a copy must either
# decode the same or be refused before anything is written.
run copy lzw.tif -o d3.tif
if [ "$rc" -eq 0 ]; then
    check "LZW page with predictor: same pixels" $PY "$ORACLE" same-pixels d3.tif 1 lzw.tif 1
else
    check "LZW page with predictor: refused, naming the predictor" failed_with lzw.tif "predictor 2"
    check "... and no destination is made" [ ! -e d3.tif ]
fi

# A single strip is copied at its recorded length, not to the end of the file.
run copy short1.tif -o s.tif
check "copy of a single-strip page with data behind it" same_strips s.tif 1 short1.tif 1
check "... the copy does not carry the bytes behind the strip" \
    [ "$(stat -c %s s.tif)" -lt $(( $(stat -c %s short1.tif) + 700 )) ]

# Samples wider than 8 bits keep their values across byte orders.
convert -size 60x40 gradient:red-blue -depth 16 -compress None rgb16.tif 2>/dev/null
tiffcp -B rgb16.tif rgb16_mm.tif
tiffcp -B -c lzw:1 rgb16.tif rgb16_mm_lzw.tif
run copy g4.tif -o order.tif
run copy rgb16_mm.tif -o order.tif --append
check "a big-endian 16-bit page appended to a little-endian file: same pixels" \
    $PY "$ORACLE" same-pixels order.tif 2 rgb16_mm.tif 1
run copy rgb16_mm.tif rgb16.tif -o order_mm.tif
check "a new file from a big-endian page is big-endian and both pages keep their pixels" bash -c "
    [ \"\$(head -c 2 order_mm.tif)\" = MM ] && $PY $ORACLE same-pixels order_mm.tif 1 rgb16_mm.tif 1 &&
    $PY $ORACLE same-pixels order_mm.tif 2 rgb16.tif 1"
before=$(sum_of order.tif)
run copy rgb16_mm_lzw.tif -o order.tif --append
check "compressed 16-bit samples of the other byte order are refused" failed_with rgb16_mm_lzw.tif "cannot change byte order"
check "... before anything is written" [ "$(sum_of order.tif)" = "$before" ]

# A new file takes the properties of its first page's file.
run copy letter.tif:3-,1 -o e.tif
run info --json e.tif
check "the copy takes the properties and texts of the library file" $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline())
sys.exit(not (j["properties"]["title"]=="Sample letter" and [p["texts"]["PageName"] for p in j["pages"]]==["photo","letter"]))' out

# Appending.
cp c.tif c_before.tif
run copy scan.tif g4.tif -o c.tif --append
check "append: status 0 and a report" grep -q "appended 2 pages to c.tif" out
run info --json c.tif
check "append: the new pages follow the old ones" $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline())
sys.exit(not ([(p["width"],p["length"]) for p in j["pages"]]==[(120,80),(200,100),(600,800),(256,160),(200,100)]))' out
check "append: libtiff reads the file" libtiff_reads c.tif
check "append: the old pages are unchanged" $PY "$ORACLE" same-pixels c.tif 3 c_before.tif 3
check "append: the appended page's pixels" $PY "$ORACLE" same-pixels c.tif 4 scan.tif 1

# Refusals leave files as they were.
before=$(sum_of c.tif)
run copy g4.tif -o c.tif
check "copy onto an existing file without --append: status 1" failed_with c.tif "already exists.*error 17"
check "... the file is unchanged" [ "$(sum_of c.tif)" = "$before" ]
run copy multi.tif:7 -o f.tif
check "a page out of range: status 1 naming the source" failed_with multi.tif "page 7 out of range.*error 298"
check "... no destination is made" [ ! -e f.tif ]
run copy multi.tif:3-1 -o f.tif
check "a backwards range is a command-line mistake" [ "$rc" -eq 2 ]
echo "no image" >notes.txt
run copy notes.txt -o f.tif
check "a non-image source: status 1, no destination" bash -c '[ '"$rc"' -eq 1 ] && grep -q "notes.txt" err && [ ! -e f.tif ]'
run copy missing.tif -o f.tif
check "a missing source: status 1" failed_with missing.tif "cannot open: error"
run copy c.tif -o c.tif --append
check "appending a file to itself is refused" [ "$rc" -eq 2 ]
run copy g4.tif -o missing_dir/f.tif
check "a destination in a missing directory: status 1" failed_with missing_dir/f.tif "cannot create: error"

# The progress line appears on a terminal only.
for i in $(seq 24); do args+=" g4.tif"; done
run copy $args -o many.tif
check "no progress line when standard error is not a terminal" bash -c '! grep -q "copying page" err'
script -qec "$Q copy $args -o many2.tif" /dev/null >tty.txt 2>&1
check "a progress line on a terminal" grep -q "copying page 24 of 24" tty.txt

# Through the remote-access library: the server is a directory.
if [ -e "$OUT/libqvrpc400.so" ]; then
    mkdir srv
    cp multi.tif srv/
    run --server "$T/srv" copy multi.tif:3,1 -o r.tif
    if not_built; then
        skip "copy through the remote-access library: not built yet"
    else
        check "copy through --server: status 0" [ "$rc" -eq 0 ]
        check "... the copy is in the server's directory" $PY "$ORACLE" same-pixels srv/r.tif 1 multi.tif 3
        run --server "$T/srv" info --json r.tif
        check "info through --server" bash -c '[ '"$rc"' -eq 0 ] && grep -q "\"pageCount\":2" out'
    fi
else
    skip "copy through the remote-access library: libqvrpc400.so not built"
fi

finish
