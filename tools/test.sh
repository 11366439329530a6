#!/bin/sh
# Builds, then runs every test with CTest, as many at a time as there are
# processors; arguments go to ctest. CTest starts the servers and services
# of the tests' Wine prefixes before the first test and stops them after
# the last; should ctest be interrupted, they are stopped here.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}
sh "$root/tools/build.sh"
build=$(cd "$build" && pwd)
trap 'sh "$root/tools/wine-services.sh" stop "$build"/wineprefix*/' EXIT
trap 'exit 130' INT TERM
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
