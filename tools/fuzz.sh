#!/bin/sh
# Builds one of the text readers natively with clang's libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer and fuzzes it, starting
# from its seed corpus in tests/fuzz/corpus/<reader>/:
#
#   sh tools/fuzz.sh pci_field -max_total_time=600
#
# Arguments after the reader's name go to libFuzzer. New inputs go to
# build/fuzz/<reader>-corpus/ (or below $KX_BUILD_DIR), never into the
# seed corpus; a crashing input is written there as crash-*.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
reader=$1
shift
[ -f "$root/tests/fuzz/${reader}_fuzz.cpp" ] || { echo "usage: fuzz.sh READER [libFuzzer options]" >&2; exit 2; }
# The reader's source lies beside the code that uses it.
source=$root/inventory/${reader}.cpp
[ -f "$source" ] || source=$root/profile/${reader}.cpp
sh "$root/tools/setup.sh"
out=${KX_BUILD_DIR:-$root/build}/fuzz
mkdir -p "$out/${reader}-corpus"
clang++ -std=c++17 -g -O1 -I"$root" -I"$root/tests" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -o "$out/${reader}_fuzz" "$root/tests/fuzz/${reader}_fuzz.cpp" "$source"
cd "$out"
exec "./${reader}_fuzz" -artifact_prefix="$out/${reader}-" "$@" "${reader}-corpus" "$root/tests/fuzz/corpus/$reader"
