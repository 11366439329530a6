#!/bin/sh
# Builds, then runs every test under Wine with CTest.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}
sh "$root/tools/build.sh"
cd "$build"
exec ctest --output-on-failure "$@"
