#!/bin/sh
# Builds, then runs kxprobe under Wine on a machine profile (the bundled
# sample machine unless one is given), from the folder of the sample card
# definition files. Extra arguments go to kxprobe.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}
sh "$root/tools/build.sh" >/dev/null
profile=${KX_PROFILE:-$root/samples/machines/win98-pc.reg}
cd "$root/samples"
exec sh "$root/tools/wine-run" "$build/wineprefix" "$build/bin/kxprobe.exe" --profile "$profile" "$@"
