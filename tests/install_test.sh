#!/bin/bash
# make install's tree, used from outside the source tree: installed with
# DESTDIR under one prefix and used where it lies (so every file must find
# its neighbours relative to itself), a C program built through pkg-config,
# a C++ program through find_package(qvtav), the Python example run with
# only PYTHONPATH pointing into the tree, each reading the sample documents;
# the man pages render without warnings.
#   install_test.sh BUILD_DIR SOURCE_DIR
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
cd "$T" || exit 1
export LC_ALL=C
passed=0 failed=0
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok    $name"
    else failed=$((failed + 1)); echo "FAIL  $name"; fi
}

DESTDIR="$T/dest" cmake --install "$BUILD" --prefix /opt/qvtav >install.log 2>&1
check "cmake --install with DESTDIR" test $? -eq 0
P="$T/dest/opt/qvtav"
check "the library with its SONAME links" eval '[ "$(readlink "$P/lib/libqvtav400.so")" = libqvtav400.so.4 ] &&
    [ "$(readlink "$P/lib/libqvtav400.so.4")" = libqvtav400.so.4.0.0 ] && [ -f "$P/lib/libqvtav400.so.4.0.0" ]'
check "the outside stand-ins beside it" test -f "$P/lib/libqvrpc400.so" -a -f "$P/lib/libxiffr3_0.so" \
    -a -f "$P/lib/libawview32.so" -a -f "$P/lib/libawdenc32.so"
check "headers, tool, pkg-config file, CMake package, man pages, Python module" eval '
    for f in include/qvtav.h include/qvtav_tables.h include/qvtav.hpp bin/qvtav lib/pkgconfig/qvtav.pc lib/cmake/qvtav/qvtavConfig.cmake \
             lib/cmake/qvtav/qvtavConfigVersion.cmake share/man/man1/qvtav.1 share/man/man3/qvtav.3 \
             lib/python3/dist-packages/qvtav/__init__.py \
             lib/python3/dist-packages/qvtav/qvtav_tables.h; do [ -f "$P/$f" ] || { echo "missing $f"; exit 1; }; done'
check "nothing of the build tree named in the installed files" eval '! grep -rlq "$BUILD" "$P/lib/cmake" "$P/lib/pkgconfig"'

mkdir samples
"$P/bin/qvtav_samples" samples >/dev/null
check "the installed tool reads the samples" eval '"$P/bin/qvtav" info samples/letter.tif | grep -q "letter.tif: TIFF, 3 pages"'
check "the installed tool makes and reads an AWD file" eval '"$P/bin/qvtav" copy samples/letter.tif:1-2 -o samples/fax.awd >/dev/null &&
    "$P/bin/qvtav" info samples/fax.awd | grep -q "fax.awd: AWD, 2 pages"'
/usr/bin/python3 - "$SRC/python/tests" samples/page.xif <<'PY'
import pathlib, sys
sys.path.insert(0, sys.argv[1])
from conftest import xiff_grey
xiff_grey(pathlib.Path(sys.argv[2]), 30, 5, bytes(150))
PY
check "the installed library finds the XIFF reader beside it" eval '"$P/bin/qvtav" info samples/page.xif | grep -q "XIFF, 1 page"'
FILES="samples/letter.tif samples/scan.tif samples/page.xif"

# Outside the source tree: a copy of the examples.
cp -r "$SRC/examples" src
export PKG_CONFIG_PATH="$P/lib/pkgconfig"
cc -std=c99 -Wall -Werror src/pageinfo.c $(pkg-config --cflags --libs qvtav) \
   -Wl,-rpath,"$(pkg-config --variable=libdir qvtav)" -o pageinfo_c
check "C example built through pkg-config" test -x pageinfo_c
./pageinfo_c $FILES >c.out
check "... reads the samples" eval 'grep -q "letter.tif: file type 3, 3 page(s)" c.out && grep -q "page.xif: file type 13" c.out'

cmake -S src/consumer -B cxx -G Ninja -DCMAKE_PREFIX_PATH="$P" >cxx.log 2>&1 && cmake --build cxx >>cxx.log 2>&1
check "C++ example built through find_package(qvtav)" test -x cxx/pageinfo_cpp
cxx/pageinfo_cpp $FILES >cpp.out
check "... lists the same pages" eval 'grep -v "^    read" cpp.out | cmp -s - <(grep -v "^libqvtav400" c.out)'

env -i PATH=/usr/bin:/bin PYTHONPATH="$P/lib/python3/dist-packages" /usr/bin/python3 src/pageinfo.py $FILES >py.out
check "Python example with only PYTHONPATH into the prefix: the same pages, the same data read" cmp -s py.out cpp.out
check "... and the pages were read" eval 'grep -q "read 40960 bytes" py.out'
"$P/bin/qvtav" errors --json >errors.json
check "the installed module reads the error table beside it: the installed tool's rows" env -i PATH=/usr/bin:/bin \
    PYTHONPATH="$P/lib/python3/dist-packages" /usr/bin/python3 -c 'import json, qvtav
rows = [{"code": c, "name": n, "meaning": m} for n, (c, m) in qvtav.ERRORS.items()]
exit(json.load(open("errors.json")) != rows or not qvtav._codes._tables_path().startswith(qvtav.__path__[0]))'

for page in man1/qvtav.1 man3/qvtav.3; do
    MANWIDTH=80 man --warnings -l "$P/share/man/$page" >man.out 2>man.err
    check "man -l $page renders without warnings" eval '[ -s man.out ] && [ ! -s man.err ]'
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
