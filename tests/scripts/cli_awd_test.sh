#!/bin/bash
# qvtav on AWD fax documents: info, dump, copy in and out, delete, move.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
# Bilevel pages of three widths, each telling which it is.
$PY - <<'PYEOF'
from PIL import Image, ImageDraw
for name, size in (("a.tif", (120, 40)), ("b.tif", (96, 30)), ("c.tif", (80, 20))):
    im = Image.new("1", size, 1)
    ImageDraw.Draw(im).rectangle((5, 5, size[0] // 2, size[1] - 5), fill=0)
    im.save(name, compression="group4", dpi=(200, 200))
PYEOF
widths() { $PY -c 'import json; j=json.loads(open("out").readline()); print(",".join(str(p["width"]) for p in j["pages"]))'; }

run copy a.tif b.tif c.tif -o fax.awd
check "copy makes an AWD file of bilevel pages" grep -q "copied 3 pages into fax.awd" out
run info --json fax.awd
check "info: type 12, three pages, decoded, display settings" json_is 'j["fileType"]==12 and j["pageCount"]==3 and
    [p["width"] for p in j["pages"]]==[120,96,80] and j["pages"][0]["compressionName"]=="none" and
    j["pages"][0]["display"]=={"rotation":0,"xScale":100,"yScale":100,"flags":0x20000000,"viewed":True} and
    j["pages"][0]["xResolution"]["numerator"]==200'
run info fax.awd
check "info as text names the display settings" grep -q "display: rotation 0, scale 100% x 100%, viewed" out
run dump fax.awd 2 -o p2.pbm
check "dump writes the page as PBM" oracle same-image b.tif 1 p2.pbm
run copy fax.awd:3,1 -o back.tif
check "AWD pages into a TIFF file: T.6, libtiff reads it, same pixels" eval \
    'libtiff_reads back.tif && same_pixels back.tif 1 c.tif 1 back.tif 2 a.tif 1 && tiffinfo back.tif 2>/dev/null | grep -q "CCITT Group 4"'

run move fax.awd 3 --before 1
check "move: the last document comes first" grep -q "moved the last document (holding page 3) before page 1" out
run info --json fax.awd
check "... the pages in their new order" eval '[ "$(widths)" = "80,120,96" ]'
run move fax.awd 2 --before 1
check "move of another page: refused, nothing changed" eval 'failed_with fax.awd "only the last document" && status_is 1'
run delete fax.awd 2
check "delete reports the pages left" grep -q "fax.awd: deleted page 2, 2 pages left" out
run copy c.tif -o fax.awd --append
check "append to an AWD file" grep -q "appended 1 page to fax.awd" out
run info --json fax.awd
check "... the pages after the edits" eval '[ "$(widths)" = "80,96,80" ]'
run copy rgb.tif -o colour.awd
check "a colour page: refused, no file" eval 'failed_with rgb.tif "bilevel pages only" && [ ! -e colour.awd ]'
run copy g4.tif --server . -o remote.awd
check "no AWD file remotely" eval 'failed_with remote.awd "error 22" && [ ! -e remote.awd ]'
run delete fax.awd 1 3
check "deleting every page removes the file" eval 'grep -q "no page was left" out && [ ! -e fax.awd ]'
finish
