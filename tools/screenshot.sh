#!/bin/sh
# Builds, then shows kxcapture's window on the sample machine under Wine on
# a virtual X display (Xvfb), as a customer sees it once the capture is
# saved, and writes a picture of it to build/kxcapture.png (or
# $KX_BUILD_DIR). Installs Xvfb, ImageMagick, Wine's fonts and DejaVu's
# where they are missing.
# The tests need no display; this is for people who want to see the window.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$root/build}

if [ "$1" != --on-display ]; then
    mkdir -p "$build"
    echo "screenshot: building into $build; the log goes to $build/build.log" >&2
    if ! KX_EXTRA_PACKAGES="xvfb xauth imagemagick fonts-wine fonts-dejavu-core" sh "$root/tools/build.sh" >"$build/build.log" 2>&1; then
        echo "screenshot: the build failed; the end of $build/build.log:" >&2
        tail -n 20 "$build/build.log" >&2
        exit 1
    fi
    exec xvfb-run -a -s "-screen 0 640x560x24" sh "$0" --on-display
fi

build=$(cd "$build" && pwd)
# A prefix of its own: the tests' prefixes draw nowhere.
export WINEPREFIX="$build/wineprefix-screenshot" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "screenshot: making the Wine prefix $WINEPREFIX, once" >&2
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# Wine has no Courier New, which every Windows has since 3.1 and which the
# answers box is set in: DejaVu Sans Mono stands in for it.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" /d "DejaVu Sans Mono" /f >/dev/null 2>&1
# The program in a folder of its own, beside the DLL, as a customer has it.
folder=$build/screenshot
rm -rf "$folder"
mkdir -p "$folder"
cp "$build/bin/kxcapture.exe" "$build/bin/KXVozaDa.dll" "$folder/"
cd "$folder"
# Wine's own desktop draws the title bar, as Windows does: a bare X server
# has no window manager to. kxprobe replays the sample machine while the
# program runs.
wine explorer /desktop=kxcapture,640x560 "$build/bin/kxprobe.exe" \
    --profile "$root/samples/machines/win98-pc.reg" --run "$(winepath -w "$folder/kxcapture.exe")" \
    >/dev/null 2>&1 &
tries=0
until ls "$folder"/*.reg >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -gt 120 ]; then
        echo "screenshot: kxcapture saved nothing in a minute" >&2
        wineserver -k
        exit 1
    fi
    sleep 0.5
done
sleep 2
picture=$build/kxcapture.png
# The dialog, centred on the desktop, without the desktop around it.
import -window root "$picture.full.png"
wineserver -k
convert "$picture.full.png" -trim +repage "$picture"
rm -f "$picture.full.png"
echo "screenshot: $picture ($(identify -format '%wx%h' "$picture"), $(wc -c <"$picture") bytes)"
