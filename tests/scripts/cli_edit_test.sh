#!/bin/bash
# qvtav delete, move and props change exactly what they say, checked with
# libtiff and PIL. Failures of deletion and property update come from errno.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
page_names() { "$Q" info --json "$1" | $PY -c 'import json,sys; print(*(p["texts"].get("PageName","-") for p in json.loads(sys.stdin.readline())["pages"]))'; }

cp letter.tif del.tif
run delete del.tif 2
check "delete a middle page" grep -q "del.tif: deleted page 2, 2 pages left" out
check "... the others stay in order with their pixels and the properties" eval '[ "$(page_names del.tif)" = "letter photo" ] &&
    same_pixels del.tif 1 letter.tif 1 del.tif 2 letter.tif 3 && "$Q" props del.tif | grep -q "title: \"Sample letter\"" && libtiff_reads del.tif'
before=$(sum_of del.tif)
run delete del.tif 2 5
check "delete beyond the last page: 289, unchanged" eval 'failed_with del.tif "cannot delete pages 2-5: error 289" && [ "$(sum_of del.tif)" = "$before" ]'
run delete del.tif 1 2
check "deleting every page removes the file and says so" eval 'grep -q "file was removed" out && [ ! -e del.tif ]'

cp letter.tif mv.tif
run move mv.tif 3 --before 1
check "move in a file with a page table, without a rebuild" eval 'status_is 0 && ! grep -q rebuild out &&
    [ "$(page_names mv.tif)" = "photo letter form" ] && same_pixels mv.tif 1 letter.tif 3 && libtiff_reads mv.tif'
run move mv.tif 2 --before 3
check "a page already in place: nothing to do" grep -q "nothing to do" out
before=$(sum_of mv.tif)
run move mv.tif 4 --before 1
check "a page out of range: unchanged" eval 'failed_with mv.tif "page 4 out of range" && [ "$(sum_of mv.tif)" = "$before" ]'
cp multi_plain.tif mmv.tif
run move mmv.tif 4 --before 2
check "move in a tiffcp file (no page table), in place too" eval 'status_is 0 && ! grep -q rebuild out &&
    same_pixels mmv.tif 1 multi_plain.tif 1 mmv.tif 2 multi_plain.tif 4 mmv.tif 3 multi_plain.tif 2 mmv.tif 4 multi_plain.tif 3 && libtiff_reads mmv.tif'

run props letter.tif
check "props shows the properties" eval 'grep -q "title: \"Sample letter\"" out && grep -q "comments: " out'
cp letter.tif pr.tif
run props pr.tif --title "New title" --comments "Gr$(printf '\xc3\xbc')ße, \"quoted\""
run info --json pr.tif
check "props changes the given properties only" json_is '[j["properties"][k] for k in ("title","comments","author","subject")]==
    ["New title","Grüße, \"quoted\"","qvtav_samples","What the library writes"]'
check "... pages, texts and data stay" eval '[ "$(page_names pr.tif)" = "letter form photo" ] && same_pixels pr.tif 2 letter.tif 2 pr.tif 3 letter.tif 3'
long=$(printf 'x%.0s' $(seq 400))
run props pr.tif --keywords "$long"
run info --json pr.tif
check "a text that needs more room is stored; data stays, libtiff reads it" \
    eval 'json_is "j[\"properties\"][\"keywords\"]==\"$long\"" && same_pixels pr.tif 1 letter.tif 1 && libtiff_reads pr.tif'
cp letter.tif locked.tif
before=$(sum_of locked.tif)
$PY - "$Q" >lock.txt <<'EOF2'
import fcntl, os, struct, subprocess, sys
fd = os.open("locked.tif", os.O_RDWR)
fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack("hhqqi", fcntl.F_WRLCK, 0, 0, 0, 0))
r = subprocess.run([sys.argv[1], "props", "locked.tif", "--title", "x"], capture_output=True, text=True)
print(r.returncode, r.stderr)
EOF2
check "props on a file another process holds for writing: 13 from errno, unchanged" eval 'grep -q "^1 qvtav: locked.tif: cannot update the document properties: error 13 " lock.txt &&
    [ "$(sum_of locked.tif)" = "$before" ]'
echo "text" >notes.txt
for cmd in "props notes.txt --title x" "move notes.txt 2 --before 1" "props missing.tif --title x"; do
    run $cmd
    check "$cmd: an error line" failed_with "$(echo $cmd | cut -d' ' -f2)" "error"
done
finish
