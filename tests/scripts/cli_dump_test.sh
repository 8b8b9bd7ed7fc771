#!/bin/bash
# qvtav dump: the stored data of a page equals the raw strips libtiff finds,
# single-strip pages included (the copy stops at the recorded byte count,
# which comes from option 23 for SHORT and LONG counts alike).
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"
make_fixtures
for kind in short1 long1 short3; do $PY "$ORACLE" make $kind.tif $kind; done

run dump multi.tif 1 -o p1.bin
if not_built; then
    skip "dump: page reading not built yet"
    finish
    exit $?
fi

for page in 1 2 3 4; do
    run dump multi.tif $page -o p$page.bin
    $PY "$ORACLE" raw-strips multi.tif $page ref$page.bin
    check "dump of tiffcp page $page equals libtiff's raw strips" cmp -s p$page.bin ref$page.bin
done
# Page 1 is a single strip with more of the file behind it.
check "a single-strip page stops at its recorded count" \
    [ "$(stat -c %s p1.bin)" -eq "$($PY "$ORACLE" strip-counts multi.tif 1)" ]

for kind in short1 long1 short3; do
    run dump $kind.tif 1 -o $kind.bin
    $PY "$ORACLE" raw-strips $kind.tif 1 $kind.ref
    check "dump with $kind byte counts equals the strips, without the bytes behind them" cmp -s $kind.bin $kind.ref
    run info --json $kind.tif
    check "info reports the $kind counts as stored" \
        [ "$($PY "$ORACLE" json-field out 'j["pages"][0]["stripBytes"]')" = "[$($PY "$ORACLE" strip-counts $kind.tif 1 | sed 's/ /, /g')]" ]
done

# Standard output, when it is not a terminal, gets the same bytes.
"$Q" dump multi.tif 3 >p3.out 2>err
check "dump to standard output equals dump -o" cmp -s p3.out p3.bin

# Binary data is not written to a terminal.
script -qec "$Q dump multi.tif 1" /dev/null >tty.txt 2>&1
rc=$?
check "dump to a terminal is refused with status 2" bash -c '[ '"$rc"' -eq 2 ] && grep -q "terminal" tty.txt'

"$SAMPLES" . >/dev/null 2>&1 && {
    run dump letter.tif 2 -o form.bin
    $PY "$ORACLE" raw-strips letter.tif 2 form.ref
    check "dump of a library-written PackBits page in four strips" cmp -s form.bin form.ref
}

# Pages out of range, missing and damaged files.
run dump multi.tif 9 -o x.bin
check "a page above the count: status 1, error 298" failed_with multi.tif "page 9: .*error 298"
check "... and no output file is left" [ ! -e x.bin ]
run dump multi.tif 0 -o x.bin
check "page 0 is a command-line mistake: status 2" [ "$rc" -eq 2 ]
run dump missing.tif 1 -o x.bin
check "a missing file: status 1" failed_with missing.tif "cannot open: error"
# The last page's strips run past the end of a cut file.
size=$(stat -c %s short3.tif)
head -c $((size - 500 - 100)) short3.tif >cut.tif
run dump cut.tif 1 -o x.bin
check "strips cut short: status 1 and an error line naming the file" failed_with cut.tif "strip"
check "... and no output file is left" [ ! -e x.bin ]
crashes=0
for cut in 8 50 134 200 400 700; do
    head -c $cut short3.tif >cut.tif
    run dump cut.tif 1 -o x.bin
    no_crash || crashes=$((crashes + 1))
done
check "dump of files cut anywhere never crashes" [ $crashes -eq 0 ]

finish
