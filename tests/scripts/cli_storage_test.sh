#!/bin/bash
# qvtav storage: the tree of a compound file made by gsf createole, as text
# and JSON; a file that is no compound file.
source "$(dirname "$0")/cli_lib.sh" "$1" "$2"

mkdir -p src/sub/inner
printf 'hello' >src/a
: >src/empty
head -c 4097 /dev/zero >src/sub/b
printf '0123456789' >"src/sub/inner/with space"
(cd src && gsf createole ../tree.ole a empty sub >/dev/null 2>&1)

run storage tree.ole
check "text: streams with sizes, storages with a slash, nesting by indent" eval 'status_is 0 &&
    grep -q "^  \"a\"  5 bytes" out && grep -q "^  \"sub\"/" out && grep -q "^      \"with space\"  10 bytes" out'
run storage --json tree.ole
check "JSON: the whole tree" json_is 'sorted((c["name"],c["kind"],c.get("size")) for c in j["children"])==[("a","stream",5),("empty","stream",0),("sub","storage",None)] and
    [c for c in j["children"] if c["name"]=="sub"][0]["children"][1]["children"][0]=={"name":"with space","kind":"stream","size":10}'
echo "plain text" >notes.txt
run storage notes.txt
check "a file that is no compound file" failed_with notes.txt "not a compound file"
run storage --help
check "storage --help" grep -q "usage: qvtav storage" out
finish
