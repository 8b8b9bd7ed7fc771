# Shared by the qvtav command-line tests (sourced): $1 the build output
# directory, $2 the source tree. Each test runs in a fresh temporary directory.
OUT=$(cd "$1" && pwd)
Q="$OUT/qvtav"
PY=/usr/bin/python3
ORACLE="$(cd "$2" && pwd)/tests/scripts/cli_oracle.py"

# The independent tools the checks compare with. Without one the test is
# skipped (status 77), or fails where oracles are required (CI).
missing=""
for tool in tiffinfo tiffcp convert; do command -v $tool >/dev/null 2>&1 || missing="$missing $tool"; done
$PY -c 'import PIL' >/dev/null 2>&1 || missing="$missing Pillow"
if [ -n "$missing" ]; then
    echo "oracle tools missing:$missing"
    [ -n "${QVTAV_REQUIRE_ORACLES:-}" ] && exit 1
    exit 77
fi
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
cd "$T" || exit 1
export LC_ALL=C
passed=0 failed=0

# check NAME COMMAND...: passes when the command succeeds.
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok    $name"
    else failed=$((failed + 1)); echo "FAIL  $name"; sed 's/^/      stderr: /' err 2>/dev/null | head -3; fi
}
# Runs the tool: stdout in out, stderr in err, the status in $rc. A
# sanitizer report counts as a failure of its own.
run() {
    "$Q" "$@" >out 2>err; rc=$?
    if grep -q -e "Sanitizer" -e "runtime error:" err; then check "no sanitizer report: qvtav $*" false; fi
}
# The last run failed cleanly: status 1 and an error line matching FILE TEXT.
failed_with() { [ "$rc" -eq 1 ] && grep -q "^qvtav: .*$1.*$2" err; }
status_is() { [ "$rc" -eq "$1" ]; }
sum_of() { md5sum "$1" | cut -d' ' -f1; }
oracle() { $PY "$ORACLE" "$@"; }
# Page A of file a and page B of file b decode to the same pixels: same_pixels a A b B ...
same_pixels() { while [ $# -ge 4 ]; do oracle same-pixels "$1" "$2" "$3" "$4" || return 1; shift 4; done; }
# libtiff reads every page without complaint (its warning about tag 32934 aside).
libtiff_reads() { tiffinfo -D "$1" >/dev/null 2>tiff.err && ! grep -v "tag 32934" tiff.err | grep -q .; }
# A Python expression on the first JSON object of out (j) is true.
json_is() { $PY -c 'import json,sys; j=json.loads(open("out").readline()); sys.exit(not eval("(" + sys.argv[1] + ")"))' "$1"; }

# Pages from independent writers (ImageMagick), joined by tiffcp.
make_fixtures() {
    convert -size 200x100 xc:white -fill black -draw "rectangle 10,10 60,50" -monochrome -compress Group4 g4.tif
    convert -size 300x150 gradient: -depth 8 -compress LZW lzw.tif
    convert -size 120x80 plasma:fractal -depth 8 -compress None rgb.tif
    convert -size 90x60 gradient:red-blue -colors 16 -type Palette -compress RLE pal.tif
    tiffcp -s -r 16 rgb.tif rgb_strips.tif
    tiffcp g4.tif lzw.tif rgb_strips.tif pal.tif multi.tif
    tiffcp -c lzw:1 lzw.tif lzw_plain.tif  # without a predictor, which the library's writer records
    tiffcp g4.tif lzw_plain.tif rgb_strips.tif pal.tif multi_plain.tif
    "$OUT/qvtav_samples" . >/dev/null
} 2>/dev/null

finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; }
