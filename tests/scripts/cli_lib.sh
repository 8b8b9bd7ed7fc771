# Shared by the qvtav command-line tests (sourced, not run).
# Arguments of every test: $1 the build output directory, $2 the source tree.
OUT=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
Q="$OUT/qvtav"
SAMPLES="$OUT/qvtav_samples"
PY=/usr/bin/python3
ORACLE="$SRC/tests/scripts/cli_oracle.py"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
cd "$T" || exit 1
export LC_ALL=C

passed=0
failed=0
skipped=0

ok() { passed=$((passed + 1)); echo "ok    $1"; }
bad() { failed=$((failed + 1)); echo "FAIL  $1"; [ -s "$T/err" ] && sed 's/^/      stderr: /' "$T/err" | head -5; return 0; }
skip() { skipped=$((skipped + 1)); echo "SKIP  $1"; }
check() { # check NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then ok "$name"; else bad "$name"; fi
}

# Runs the tool: standard output in $T/out, standard error in $T/err, the
# exit status in $rc.
# A sanitizer report in any run counts as a failure of its own.
run() {
    "$Q" "$@" >"$T/out" 2>"$T/err"
    rc=$?
    if grep -q -e "Sanitizer" -e "runtime error:" "$T/err"; then
        bad "sanitizer report while running: qvtav $*"
    fi
}
# True when the last run failed because a library piece is not built yet
# (the library answers 293 for operations it does not have).
not_built() { [ "$rc" -ne 0 ] && grep -q "error 293 " "$T/err"; }
# True when the last run failed cleanly: status 1 and one error line naming
# the file and a library code with its meaning (or the given text).
failed_with() { # failed_with FILE TEXT
    [ "$rc" -eq 1 ] && grep -q "^qvtav: .*$1.*$2" "$T/err"
}
# A run that ended in a crash has a status of 128 or more.
no_crash() { [ "$rc" -lt 128 ]; }

# Checksums that ignore nothing: the file is unchanged when they agree.
sum_of() { md5sum "$1" | cut -d' ' -f1; }

# Test files made by independent writers: ImageMagick pages joined by tiffcp.
make_fixtures() {
    convert -size 200x100 xc:white -fill black -draw "rectangle 10,10 60,50" -monochrome \
        -compress Group4 g4.tif 2>/dev/null
    convert -size 300x150 gradient: -depth 8 -compress LZW lzw.tif 2>/dev/null
    convert -size 120x80 plasma:fractal -depth 8 -compress None rgb.tif 2>/dev/null
    convert -size 90x60 gradient:red-blue -colors 16 -type Palette -compress RLE pal.tif 2>/dev/null
    tiffcp -s -r 16 rgb.tif rgb_strips.tif
    tiffcp g4.tif lzw.tif rgb_strips.tif pal.tif multi.tif
    # The same without LZW's predictor (the library's writer records none).
    tiffcp -c lzw:1 lzw.tif lzw_plain.tif
    tiffcp g4.tif lzw_plain.tif rgb_strips.tif pal.tif multi_plain.tif
}

finish() {
    echo "$skipped skipped"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

if [ ! -x "$Q" ]; then
    echo "qvtav not built in $OUT"
    echo "0 passed, 1 failed"
    exit 1
fi
