#!/bin/sh
# Builds, then runs kxbench under Wine: what each question of KXVozaDa.dll
# costs against the registry and file reads it cannot avoid. It rewrites the
# hardware tree of the build's Wine prefix, so run it while no test runs.
# Arguments go to kxbench (--runs N).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}
sh "$root/tools/build.sh"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$build/bin"
sh "$root/tools/wine-run" "$build/wineprefix" ./kxbench.exe "$@"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
