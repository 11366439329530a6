#!/bin/sh
# Builds, then runs kxprobe under Wine on a machine profile (the bundled
# sample machine unless KX_PROFILE names one), asking with the bundled
# sample card definition files unless --folder names another folder. Extra
# arguments go to kxprobe; paths are taken from the folder this is run in.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}
if [ ! -f "$build/bin/kxprobe.exe" ]; then
    mkdir -p "$build"
    echo "probe: building into $build first; the log goes to $build/build.log" >&2
fi
if ! sh "$root/tools/build.sh" >"$build/build.log" 2>&1; then
    echo "probe: the build failed; the end of $build/build.log:" >&2
    tail -n 20 "$build/build.log" >&2
    exit 1
fi
build=$(cd "$build" && pwd)
profile=${KX_PROFILE:-$root/samples/machines/win98-pc.reg}
exec sh "$root/tools/wine-run" "$build/wineprefix" "$build/bin/kxprobe.exe" --profile "$profile" \
    --folder "$root/samples" "$@"
