#!/bin/bash
# qvtav copy: pages of tiffcp and library files copied into a new file or
# appended; each page keeps its strips exactly and its pixels, libtiff reads it.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
oracle make short1.tif short1

# Page $2 of $1 has the same strips, byte for byte, as page $4 of $3.
same_strips() {
    oracle raw-strips "$1" "$2" a.bin && oracle raw-strips "$3" "$4" b.bin && cmp -s a.bin b.bin &&
        [ "$(oracle strip-counts "$1" "$2")" = "$(oracle strip-counts "$3" "$4")" ]
}
run copy multi.tif:3,1 letter.tif:2 -o c.tif
check "copy from two files reports the pages" grep -q "copied 3 pages into c.tif" out
run info --json c.tif
check "info on the copy: pages in the order given, no properties" json_is 'j["properties"] is None and
    [(p["width"],p["length"],p["compression"]) for p in j["pages"]]==[(120,80,1),(200,100,4),(600,800,6)] and j["pages"][2]["texts"]["PageName"]=="form"'
check "libtiff reads the copy" libtiff_reads c.tif
check "RGB, T.6 and PackBits pages keep their strips" eval 'same_strips c.tif 1 multi.tif 3 && same_strips c.tif 2 multi.tif 1 && same_strips c.tif 3 letter.tif 2'
check "... and their pixels" same_pixels c.tif 1 multi.tif 3 c.tif 2 multi.tif 1 c.tif 3 letter.tif 2
run copy pal.tif lzw_plain.tif -o d.tif
check "palette and LZW pages: same pixels" same_pixels d.tif 1 pal.tif 1 d.tif 2 lzw_plain.tif 1
run copy short1.tif -o s.tif
check "a single strip is copied at its recorded length" eval 'same_strips s.tif 1 short1.tif 1 && [ $(stat -c %s s.tif) -lt $(($(stat -c %s short1.tif) + 700)) ]'

# 16-bit samples: uncompressed ones change byte order, compressed ones cannot.
convert -size 60x40 gradient:red-blue -depth 16 -compress None rgb16.tif
tiffcp -B rgb16.tif rgb16_mm.tif && tiffcp -B -c lzw:1 rgb16.tif rgb16_mm_lzw.tif
run copy rgb16_mm.tif rgb16.tif -o mm.tif
check "16-bit pages of both byte orders into a big-endian file" eval '[ "$(head -c 2 mm.tif)" = MM ] && same_pixels mm.tif 1 rgb16_mm.tif 1 mm.tif 2 rgb16.tif 1'
before=$(sum_of rgb16.tif)
run copy rgb16_mm_lzw.tif -o rgb16.tif --append
check "... compressed ones of the other order refused, nothing written" \
    eval 'failed_with rgb16_mm_lzw.tif "cannot change byte order" && [ "$(sum_of rgb16.tif)" = "$before" ]'
run copy letter.tif:3-,1 -o e.tif
run info --json e.tif
check "a new file takes the properties of its first page's file" \
    json_is 'j["properties"]["title"]=="Sample letter" and [p["texts"]["PageName"] for p in j["pages"]]==["photo","letter"]'

cp c.tif c_before.tif
run copy scan.tif g4.tif -o c.tif --append
check "append reports the pages" grep -q "appended 2 pages to c.tif" out
run info --json c.tif
check "... which follow the old ones" json_is '[(p["width"],p["length"]) for p in j["pages"]]==[(120,80),(200,100),(600,800),(256,160),(200,100)]'
check "... libtiff reads the file, old and new pages keep their pixels" eval 'libtiff_reads c.tif && same_pixels c.tif 3 c_before.tif 3 c.tif 4 scan.tif 1'

before=$(sum_of c.tif)
run copy g4.tif -o c.tif
check "an existing destination without --append: 17, unchanged" eval 'failed_with c.tif "already exists.*error 17" && [ "$(sum_of c.tif)" = "$before" ]'
run copy multi.tif:7 -o f.tif
check "a page out of range: 298, no destination" eval 'failed_with multi.tif "page 7 out of range.*error 298" && [ ! -e f.tif ]'
echo "no image" >notes.txt
run copy notes.txt -o f.tif
check "a non-image source: no destination" eval 'failed_with notes.txt error && [ ! -e f.tif ]'
for args in "multi.tif:3-1 -o f.tif" "c.tif -o c.tif --append"; do
    run copy $args
    check "copy $args: status 2" status_is 2
done

args=$(printf ' g4.tif%.0s' $(seq 24))
run copy $args -o many.tif
check "no progress line when stderr is not a terminal" eval '! grep -q "copying page" err'
script -qec "$Q copy $args -o many2.tif" /dev/null >tty.txt 2>&1
check "a progress line on a terminal" grep -q "copying page 24 of 24" tty.txt

mkdir srv && cp multi.tif srv/
run --server "$T/srv" copy multi.tif:3,1 -o r.tif
check "copy through --server writes in the server's directory" eval 'status_is 0 && same_pixels srv/r.tif 1 multi.tif 3'
run --server "$T/srv" info --json r.tif
check "info through --server" json_is 'j["pageCount"]==2'
finish
