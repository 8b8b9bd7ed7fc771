#!/bin/bash
# Runs one libFuzzer harness of build-fuzz/out.
#
#   fuzz/run.sh HARNESS replay      every committed seed, every input of the
#                                   kept corpus fuzz/corpus/HARNESS and every
#                                   fixed finding in fuzz/regress/HARNESS, each
#                                   once: the same inputs on every run (CI)
#   fuzz/run.sh HARNESS runs N      N inputs grown from the seeds with seed 1
#   fuzz/run.sh HARNESS seconds S   S seconds, growing build-fuzz/corpus/HARNESS
#
# An input that crashes, leaks, hangs (10 s) or allocates absurdly is kept
# in build-fuzz/artifacts/ and the run fails, printing the harness's finding
# and the sanitizer's report. A finding that is fixed goes into
# fuzz/regress/HARNESS so that every later run replays it; `make fuzz-corpus`
# merges what the runs grew into fuzz/corpus/.
set -uo pipefail
cd "$(dirname "$0")/.."
h=$1 mode=$2 amount=${3:-}

case $h in
    gif|tga|pcx|bmp|jpeg) seeds=(-dict=fuzz/formats.dict fuzz/format_seeds/$h) ;;
    dcx) seeds=(-dict=fuzz/formats.dict fuzz/format_seeds/pcx) ;;
    storage) seeds=(fuzz/storage_seeds) ;;
    session) seeds=(fuzz/session_seeds) ;;
    render) seeds=(-dict=fuzz/formats.dict fuzz/render_seeds fuzz/format_seeds/{gif,pcx,bmp,tga,jpeg}) ;;
    *) seeds=(-dict=fuzz/tiff.dict fuzz/seeds) ;;
esac
# The corpus kept in fuzz/corpus/HARNESS (grown by earlier runs, merged down
# to the inputs that add coverage) and the fixed findings come with them.
for kept in fuzz/corpus/$h fuzz/regress/$h; do [ -d "$kept" ] && seeds+=("$kept"); done

case $mode in
    replay) corpus=""; limit=(-runs=0); echo "fuzzing: $h, every seed and kept finding once" ;;
    runs) corpus=build-fuzz/fixed-corpus/$h; rm -rf "$corpus"; limit=(-seed=1 -runs="$amount")
          echo "fuzzing: $h, $amount inputs from seed 1" ;;
    seconds) corpus=build-fuzz/corpus/$h; limit=(-max_total_time="$amount"); echo "fuzzing: $h for $amount s" ;;
    *) echo "usage: fuzz/run.sh HARNESS replay|runs N|seconds S" >&2; exit 2 ;;
esac
mkdir -p build-fuzz/artifacts ${corpus:+"$corpus"} || exit 1
log=build-fuzz/$h.log
if ! build-fuzz/out/${h}_fuzzer "${limit[@]}" -timeout=10 -malloc_limit_mb=512 \
        -artifact_prefix=build-fuzz/artifacts/$h- -print_final_stats=1 \
        ${corpus:+"$corpus"} "${seeds[@]}" 2>"$log"; then
    # The finding first (the harness's own words or the sanitizer's report),
    # then how the run ended.
    grep -m1 -A40 -e "^qvtav fuzz:" -e "^==[0-9]*==ERROR" -e "ERROR: libFuzzer" "$log"
    echo "..."
    tail -n 12 "$log"
    exit 1
fi
grep -h -e "^stat::number_of_executed_units" -e "^#.*DONE" -e "^#.*INITED" "$log"
