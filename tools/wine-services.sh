#!/bin/sh
# wine-services.sh start|stop PREFIX...
# Keeps the server and services of each Wine prefix running from "start" to
# "stop", so that each Wine program in between starts in a fraction of the
# time. The services keep whatever output the program that starts them had
# open, and whoever reads that output waits for them to end: they are
# started here with none. "start" makes the first prefix on first use and
# the others as copies of it, and ends any server that an interrupted run
# left behind; "stop" ends the servers and every program of the prefixes.
set -e
action=$1
case $action in
    start|stop) shift ;;
    *) echo "usage: wine-services.sh start|stop PREFIX..." >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
# Wine takes only absolute prefixes.
for prefix; do
    case $prefix in
        /*) set -- "$@" "$prefix" ;;
        *) set -- "$@" "$PWD/$prefix" ;;
    esac
    shift
done
exec </dev/null >/dev/null 2>&1
export WINEARCH=win32 WINEDEBUG=-all
for prefix; do
    WINEPREFIX=$prefix wineserver -k || true
    WINEPREFIX=$prefix wineserver -w || true
done
[ "$action" = stop ] && exit 0
sh "$here/wine-run" "$1"
for prefix; do
    [ -f "$prefix/system.reg" ] || { rm -rf "$prefix"; cp -a "$1" "$prefix"; }
done
for prefix; do
    WINEPREFIX=$prefix wineserver -p
    sh "$here/wine-run" "$prefix" cmd /c exit &
done
wait
