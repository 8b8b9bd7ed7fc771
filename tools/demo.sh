#!/bin/bash
# The demo: shows what the library reports about the bundled sample files.
set -e
out="$1"
here="$(cd "$(dirname "$0")/.." && pwd)"
echo "== libqvtav400: page information of the bundled samples =="
"$out/pageinfo" "$here"/samples/* || true
