#!/bin/bash
# qvtav info: text and JSON output checked against libtiff's tiffinfo, on
# files written by ImageMagick and tiffcp and by the library itself; the
# error lines and exit statuses for files that cannot be read.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures

run info --json multi.tif
if not_built; then
    skip "info on a tiffcp file: page information not built yet"
else
    check "info --json exits 0 on a tiffcp file" [ "$rc" -eq 0 ]
    check "info --json is one line of JSON per file" $PY -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1])]' out
    cp out multi.json
    if $PY "$ORACLE" check-info multi.json multi.tif >check.txt; then ok "info --json agrees with tiffinfo"
    else bad "info --json agrees with tiffinfo"; cat check.txt; fi

    run info multi.tif
    check "info text names type, pages, compression and photometric" \
        grep -q "multi.tif: TIFF, 4 pages" out
    check "info text shows CCITT T.6 bilevel page" grep -q "CCITT T.6, bilevel, min is white" out
    check "info text shows the LZW greyscale page" grep -q "compression LZW, greyscale, min is black" out
    check "info text shows strips of the RGB page" grep -q "5 strips of 16 rows" out

    # Several files: one JSON object each, in order.
    run info --json g4.tif lzw.tif
    check "info --json on two files gives two objects" \
        $PY -c 'import json,sys; a=[json.loads(l)["file"] for l in open(sys.argv[1])]; sys.exit(a!=["g4.tif","lzw.tif"])' out

    # Texts with quotes, control characters and a Latin-1 byte survive as JSON.
    cp lzw.tif texts.tif
    tiffset -s 270 "$(printf 'say "hi"\\ back\tslash\nline2 caf\xe9')" texts.tif
    tiffset -s 285 "cover" texts.tif
    run info --json texts.tif
    check "texts with quotes, tabs, newlines and Latin-1 are valid JSON" \
        $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline())
t=j["pages"][0]["texts"]
sys.exit(not (t["ImageDescription"]=="say \"hi\"\\ back\tslash\nline2 caf\u00e9" and t["PageName"]=="cover"))' out
    run info texts.tif
    check "info text shows escaped texts on one line" grep -q 'ImageDescription: "say \\"hi\\"\\\\ back\\tslash\\nline2 caf\\xe9"' out
fi

# The library's own files: document properties and texts.
"$SAMPLES" . >/dev/null 2>"$T/err"
rc=$?
if [ $rc -ne 0 ] && grep -q "error 293 " "$T/err"; then
    skip "info on the samples: TIFF writing not built yet"
else
    check "qvtav_samples writes the samples" [ "$rc" -eq 0 ]
    run info --json letter.tif
    check "samples: properties and page texts in JSON" $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline())
p=j["properties"]; pg=j["pages"]
sys.exit(not (j["pageCount"]==3 and p["title"]=="Sample letter" and p["author"]=="qvtav_samples"
    and [x["texts"]["PageName"] for x in pg]==["letter","form","photo"]
    and [x["compression"] for x in pg]==[1,6,1] and [x["strips"] for x in pg]==[1,4,8]
    and pg[2]["photometric"]==11 and pg[0]["photometric"]==9))' out
    cp out letter.json
    if $PY "$ORACLE" check-info letter.json letter.tif >check.txt; then ok "samples: info agrees with tiffinfo"
    else bad "samples: info agrees with tiffinfo"; cat check.txt; fi
    run info scan.tif
    check "a file without properties shows none" [ "$rc" -eq 0 ]
    check "... and no property lines" bash -c '! grep -q "title:" out'
fi

# Files that cannot be read: one error line naming the file, status 1.
run info missing.tif
# The library reports a missing file as 2, or as the storage status "file
# not found" when its AWD check looked first.
check "a missing file: status 1, 'cannot open' and file not found" \
    bash -c 'grep -E -q "^qvtav: missing.tif: cannot open: error (2 \(no such file|0x80030002 \(storage: file not found)" err && [ '"$rc"' -eq 1 ]'

echo "just some text, no image" >notes.txt
run info notes.txt
check "a text file: status 1, not an image file" failed_with notes.txt "not an image file: error 389"
run info --json notes.txt
check "a text file in JSON: an object with its error" $PY -c '
import json,sys
j=json.loads(open(sys.argv[1]).readline()); sys.exit(not (j["file"]=="notes.txt" and j["error"]["code"]==389))' out
mkdir adir
run info adir
check "a directory: status 1 with a message" failed_with adir "cannot open"
run info g4.tif missing.tif
check "a good and a bad file: status 1, the good one still shown" \
    bash -c '[ '"$rc"' -eq 1 ] && grep -q "g4.tif: TIFF" out && grep -q "missing.tif" err'

# Truncated TIFF files never crash the tool.
size=$(stat -c %s multi.tif)
crashes=0
for cut in 4 8 9 20 40 100 300 1000 $((size / 2)) $((size - 100)) $((size - 1)); do
    head -c $cut multi.tif >cut.tif
    run info --json cut.tif
    no_crash || { crashes=$((crashes + 1)); echo "      crash at $cut bytes: status $rc"; }
    if [ "$rc" -ne 0 ] && ! grep -q "^qvtav: cut.tif: .*error [0-9]" err; then
        crashes=$((crashes + 1))
        echo "      no error line at $cut bytes"
    fi
done
check "truncated files: no crash, an error line whenever the status is nonzero" [ $crashes -eq 0 ]
head -c 9 multi.tif >cut.tif
run info cut.tif
check "a file cut inside its header fails with status 1" failed_with cut.tif "error"

# Command-line mistakes: status 2.
run info
check "info without a file: status 2" [ "$rc" -eq 2 ]
run info --bogus g4.tif
check "an unknown option: status 2" [ "$rc" -eq 2 ]
run frobnicate
check "an unknown command: status 2" [ "$rc" -eq 2 ]
run info --help
check "info --help explains the command" grep -q "usage: qvtav info" out
run --version
check "--version shows the library version" grep -q "version 6.2.0" out

finish
