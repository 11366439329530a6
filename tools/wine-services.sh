#!/bin/sh
# wine-services.sh PREFIX start|stop
# Keeps the server and services of a Wine prefix running from "start" to
# "stop", so that each Wine program in between starts in a fraction of the
# time. The services keep whatever output the program that starts them had
# open, and whoever reads that output waits for them to end: they are
# started here with none. "start" also ends a server that an interrupted
# run left behind; "stop" ends the server and every program of the prefix.
set -e
case $2 in
    start|stop) ;;
    *) echo "usage: wine-services.sh PREFIX start|stop" >&2; exit 2 ;;
esac
case $1 in
    /*) prefix=$1 ;;
    *) prefix=$PWD/$1 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
exec </dev/null >/dev/null 2>&1
wineserver -k || true
[ "$2" = stop ] && exit 0
wineserver -w
sh "$here/wine-run" "$prefix"
wineserver -p
sh "$here/wine-run" "$prefix" cmd /c exit
