#!/bin/bash
# qvtav info: JSON and text output checked against tiffinfo on ImageMagick,
# tiffcp and library files; error lines and statuses for unreadable files;
# qvtav errors.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures

for f in multi.tif letter.tif; do
    run info --json $f
    check "info --json on $f parses and agrees with tiffinfo" eval "status_is 0 && cp out $f.json && $PY $ORACLE check-info $f.json $f"
done
check "the samples' properties, page texts and codes" json_is 'j["properties"]["title"]=="Sample letter" and
    [(p["texts"]["PageName"],p["compression"],p["strips"],p["photometric"]) for p in j["pages"]]==[("letter",1,1,9),("form",6,4,9),("photo",1,8,11)]'
run info multi.tif
check "info text: type, pages, compression and photometric names, strips" eval 'grep -q "multi.tif: TIFF, 4 pages" out &&
    grep -q "CCITT T.6, bilevel, min is white" out && grep -q "LZW, greyscale, min is black" out && grep -q "5 strips of 16 rows" out'
run info --json g4.tif lzw.tif
check "one JSON object per file, in order" $PY -c 'import json; exit([json.loads(l)["file"] for l in open("out")]!=["g4.tif","lzw.tif"])'

# Unreadable files: status 1 and one error line naming the file and the code.
run info missing.tif
check "a missing file" eval 'status_is 1 && grep -Eq "^qvtav: missing.tif: cannot open: error (2 |0x80030002 )" err'
echo "no image" >notes.txt
run info notes.txt
check "a text file: not an image file, 389" failed_with notes.txt "not an image file: error 389"
run info --json notes.txt
check "... in JSON, an object with its error" json_is 'j["file"]=="notes.txt" and j["error"]["code"]==389'
run info g4.tif missing.tif
check "a good and a bad file: status 1, the good one still shown" eval 'status_is 1 && grep -q "g4.tif: TIFF" out'
size=$(stat -c %s multi.tif)
bad=""
for cut in 4 8 9 20 40 100 300 1000 $((size / 2)) $((size - 100)) $((size - 1)); do
    head -c $cut multi.tif >cut.tif
    run info --json cut.tif
    { [ "$rc" -eq 0 ] || failed_with cut.tif "error [0-9]"; } || bad="$bad $cut:$rc"
done
check "truncated files: status 0, or 1 with an error line ($bad)" [ -z "$bad" ]

for args in "info" "info --bogus g4.tif" "frobnicate"; do
    run $args
    check "command-line mistake '$args': status 2" status_is 2
done
run info --help
check "info --help" grep -q "usage: qvtav info" out

# errors: the codes asked about with name and meaning, storage codes in hex.
run errors 298 0x80030002 3
check "errors: each code asked about; an unknown one makes the status 1" eval 'status_is 1 && [ "$(wc -l <out)" = 3 ] &&
    grep -q "^298 *TAV_E_PAGE_RANGE *page above the page count$" out && grep -q "^0x80030002 *TAV_STG_E_FILENOTFOUND " out &&
    grep -q "^3 *unknown error code$" out'
run errors 0x
check "errors: a code that is no number is a command-line mistake" status_is 2
finish
