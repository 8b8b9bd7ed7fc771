#!/bin/bash
# The demo: writes the sample documents through the library, shows what
# qvtav reports about them, then copies pages, deletes one and changes the
# document properties, showing the result after each step; last, makes an
# AWD fax document and edits it.
# Usage: bash tools/demo.sh BUILD_OUTPUT_DIR   (make demo passes build/out)
set -e
out="$(cd "${1:-build/out}" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"
qvtav="$out/qvtav"
demo="$out/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

step() {
    echo
    echo "== $* =="
}
show() {
    local line="\$ $(basename "$1")" arg
    for arg in "${@:2}"; do
        case "$arg" in *" "*) line+=" \"$arg\"" ;; *) line+=" $arg" ;; esac
    done
    echo "$line"
    "$@"
}

step "1. the sample documents, written through libqvtav400"
"$out/qvtav_samples" .
show "$qvtav" info letter.tif scan.tif
show "$qvtav" info --json scan.tif

step "2. copy: the grey page of letter.tif, then scan.tif, into a new file"
show "$qvtav" copy letter.tif:3 scan.tif -o album.tif
show "$qvtav" info album.tif

step "3. append: letter.tif's first two pages at the end"
show "$qvtav" copy letter.tif:1-2 -o album.tif --append
show "$qvtav" info album.tif

step "4. delete: page 2 (the scan)"
show "$qvtav" delete album.tif 2
show "$qvtav" info album.tif

step "5. props: a title and an author"
show "$qvtav" props album.tif --title "Demo album" --author "make demo"
show "$qvtav" info album.tif

step "6. the example program examples/pageinfo.c on the same file"
show "$out/pageinfo" album.tif

step "7. an AWD fax document: letter.tif's two bilevel pages, twice, then edited"
show "$qvtav" copy letter.tif:1-2 letter.tif:2 -o fax.awd
show "$qvtav" info fax.awd
show "$qvtav" delete fax.awd 2
show "$qvtav" move fax.awd 2 --before 1
show "$qvtav" info fax.awd
show "$qvtav" copy fax.awd -o fax.tif
show "$qvtav" info fax.tif
show "$qvtav" storage fax.awd

echo
echo "The files are in $demo; 'qvtav --help' lists every command."
