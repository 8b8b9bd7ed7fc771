#!/bin/bash
# qvtav dump: a page's stored data equals the raw strips libtiff finds, and a
# single strip stops at its recorded count (option 23, SHORT or LONG).
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
for kind in short1 long1 short3; do oracle make $kind.tif $kind; done

same_dump() { # same_dump FILE PAGE: dump -o equals libtiff's raw strips
    run dump "$1" "$2" -o d.bin && oracle raw-strips "$1" "$2" ref.bin && cmp -s d.bin ref.bin
}
for page in 1 2 3 4; do check "tiffcp page $page" same_dump multi.tif $page; done
check "a library-written PackBits page in four strips" same_dump letter.tif 2
for kind in short1 long1 short3; do
    check "$kind byte counts: the strips without the bytes behind them" same_dump $kind.tif 1
    run info --json $kind.tif
    check "info shows the $kind counts as stored" json_is "j['pages'][0]['stripBytes']==[$(oracle strip-counts $kind.tif 1 | tr ' ' ,)]"
done
run dump multi.tif 3 -o p3.bin
"$Q" dump multi.tif 3 >p3.out
check "standard output gets the same bytes" cmp -s p3.out p3.bin
script -qec "$Q dump multi.tif 1" /dev/null >tty.txt 2>&1; rc=$?
check "binary data is not written to a terminal: status 2" eval 'status_is 2 && grep -q terminal tty.txt'

run dump multi.tif 9 -o x.bin
check "a page above the count: 298, no output left" eval 'failed_with multi.tif "page 9: .*error 298" && [ ! -e x.bin ]'
run dump multi.tif 0 -o x.bin
check "page 0: status 2" status_is 2
run dump missing.tif 1 -o x.bin
check "a missing file" failed_with missing.tif "cannot open: error"
head -c $(($(stat -c %s short3.tif) - 600)) short3.tif >cut.tif
run dump cut.tif 1 -o x.bin
check "strips cut short: an error line, no output left" eval 'failed_with cut.tif strip && [ ! -e x.bin ]'
finish
