#!/bin/sh
# Fuzzes one of the text readers with its libFuzzer target, built natively
# with the tests (build/native/<reader>_fuzz) under AddressSanitizer and
# UndefinedBehaviorSanitizer, starting from its seed corpus in
# tests/fuzz/corpus/<reader>/:
#
#   sh tools/fuzz.sh pci_field -max_total_time=600
#
# Arguments after the reader's name go to libFuzzer. New inputs go to
# build/fuzz/<reader>-corpus/ (or below $KX_BUILD_DIR), never into the
# seed corpus; a crashing input is written there as crash-*.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
reader=$1
[ -f "$root/tests/fuzz/${reader}_fuzz.cpp" ] || { echo "usage: fuzz.sh READER [libFuzzer options]" >&2; exit 2; }
shift
build=${KX_BUILD_DIR:-$root/build}
if [ -f "$build/CMakeCache.txt" ]; then
    cmake --build "$build" --target kxnative
else
    sh "$root/tools/build.sh"
fi
build=$(cd "$build" && pwd)
out=$build/fuzz
mkdir -p "$out/${reader}-corpus"
cd "$out"
exec "$build/native/${reader}_fuzz" -artifact_prefix="$out/${reader}-" "$@" "${reader}-corpus" "$root/tests/fuzz/corpus/$reader"
