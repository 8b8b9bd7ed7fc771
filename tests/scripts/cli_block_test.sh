#!/bin/bash
# qvtav and block files: bilevel TIFF pages (T.6, T.4 1-D, uncompressed,
# PackBits) into a block file and back keep their stored data and pixels;
# pages a block file cannot hold are refused before anything is written.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
{
    tiffcp -c g3:1d g4.tif g3_1d.tif && tiffcp -c g3:2d g4.tif g3_2d.tif
    tiffcp -c lzw g4.tif g4_lzw.tif && tiffcp -c g4 -r 20 g4.tif g4_strips.tif
    tiffcp -c none g4.tif black.tif && tiffset -s 262 1 black.tif
} 2>/dev/null

run copy g4.tif g3_1d.tif letter.tif:1-2 -o b.blk --block
check "four bilevel pages into a new block file" grep -q "copied 4 pages into b.blk" out
run info --json b.blk
check "info: a block file, each page's coding code and stored bytes" json_is 'j["fileTypeName"]=="block file" and
    [(p["codingCode"],p["compression"],p["width"],p["length"],p["strips"]) for p in j["pages"]]==[(2,4,200,100,1),(13,3,200,100,1),(6,1,600,800,1),(64,6,600,800,1)]
    and j["pages"][2]["storedBytes"]==60000 and j["pages"][3]["chunkBytes"]%4096==0'
run dump b.blk 1 -o d.bin
check "dump: a page's data is the stored strip" eval 'oracle raw-strips g4.tif 1 ref.bin && cmp -s d.bin ref.bin'

run copy b.blk -o back.tif
check "block file pages back into TIFF" eval 'status_is 0 && libtiff_reads back.tif'
check "... min-is-white bilevel pages with the same pixels" \
    same_pixels back.tif 1 g4.tif 1 back.tif 2 g3_1d.tif 1 back.tif 3 letter.tif 1 back.tif 4 letter.tif 2
run info --json back.tif
check "... one strip each" json_is '[(p["photometric"],p["strips"]) for p in j["pages"]]==[(9,1)]*4'

for c in "g3_2d.tif:T.4 2-D coding" "g4_strips.tif:CCITT page of 5 strips" "g4_lzw.tif:LZW data" \
         "letter.tif:3:8-bit samples" "black.tif:min is black page"; do
    src=${c%:*} why=${c##*:}
    run copy $src -o r.blk --block
    check "refused: $why, no destination" eval 'failed_with "${src%:*}" "$why cannot go into a block file" && [ ! -e r.blk ]'
done

cp b.blk b_before.blk
run copy g4.tif -o b.blk --append
check "append to a block file" eval 'grep -q "appended 1 page to b.blk" out && $Q dump b.blk 5 -o d5.bin && cmp -s d5.bin ref.bin'
check "... the earlier pages unchanged" eval '$Q dump b.blk 3 -o d3.bin && $Q dump b_before.blk 3 -o e3.bin && cmp -s d3.bin e3.bin'
run copy b.blk:4 -o c.blk --block
check "block file to block file keeps the data" eval '$Q dump c.blk 1 -o c1.bin && $Q dump b.blk 4 -o b4.bin && cmp -s c1.bin b4.bin'
run copy g4.tif -o b.blk --append --block
check "--block with --append: status 2" status_is 2

mkdir srv && cp g4.tif srv/
run --server "$T/srv" copy g4.tif -o r.blk --block
check "through --server" eval 'status_is 0 && $Q dump srv/r.blk 1 -o r1.bin && cmp -s r1.bin ref.bin'
finish
