#!/bin/sh
# Installs what building and testing need on a Debian machine, only what is
# missing: the MinGW-w64 cross toolchain, CMake, GoogleTest's sources, Wine
# with its 32-bit half and its 64-bit wineserver, for the kit's tests NSIS
# and LLVM's linker for Microsoft-style links, and clang with its runtimes
# (libFuzzer and the sanitizers) for fuzzing the text readers natively.
# Safe to run again.
#
# Some virtual machines cannot run 32-bit Linux programs at all ("Exec
# format error"), and Wine's 32-bit half is one. There the machine gets
# QEMU's user-mode i386 emulator, registered with binfmt_misc so that every
# 32-bit program starts through it. It comes from bookworm-backports: the
# emulator of Debian 12 itself takes close to a minute to start one Wine
# process and crashes some, the backported one starts them in seconds.
set -e
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# A mirror in the middle of a sync, or a proxy that cached it then, serves
# a Packages file that does not match its Release file ("File has
# unexpected size"). The update is tried again; if it still fails, the
# install goes on with the lists that did come, and fails by itself if a
# package it needs was in the one that did not.
apt_update() {
    for try in 1 2 3; do
        $sudo apt-get update -qq && return 0
        [ "$try" -eq 3 ] || { echo "setup: apt-get update failed; trying again in 20 seconds" >&2; sleep 20; }
    done
    echo "setup: apt-get update failed three times; installing from the package lists that did come" >&2
}

packages="g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake make googletest wine wine32:i386 wine64 nsis lld clang libclang-rt-dev $KX_EXTRA_PACKAGES"
missing=
for p in $packages; do
    installed "$p" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    apt_update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# Whether this machine runs Wine's 32-bit loader, natively or emulated.
runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}
runs_32bit && exit 0

# The mirror this machine's apt already takes bookworm from (CI, a company
# proxy), in either format: one-line "deb [options] URI SUITE ..." lists and
# deb822 stanzas with "URIs:" and "Suites:" fields.
debian_mirror() {
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            /^[ \t]*deb[ \t]/ {
                sub(/\[[^]]*\][ \t]*/, "")
                if ($3 == "bookworm") { print $2; exit }
            }
            /^[ \t]*$/ { uris = ""; suites = "" }
            tolower($1) == "uris:" { uris = $2 }
            tolower($1) == "suites:" { suites = " " $0 " " }
            uris != "" && suites ~ / bookworm / { print uris; exit }
        ' "$f"
    done | head -n 1
}

backports=/etc/apt/sources.list.d/kx-bookworm-backports.list
if ! installed qemu-user-static || ! qemu-i386-static --version | grep -q "version \(9\|[1-9][0-9]\)\."; then
    echo "setup: this machine cannot run 32-bit programs; installing QEMU's i386 emulator for Wine"
    if [ ! -f "$backports" ]; then
        mirror=$(debian_mirror)
        [ -n "$mirror" ] || { echo "setup: no apt source for bookworm found in /etc/apt; add one, then run again" >&2; exit 1; }
        echo "deb $mirror bookworm-backports main" | $sudo tee "$backports" >/dev/null
    fi
    apt_update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -t bookworm-backports qemu-user-static >/dev/null
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -f "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
# F: the kernel keeps the emulator open, so it also serves programs started
# from other mount namespaces; an entry made for an older emulator goes first.
[ -f "$binfmt/qemu-i386" ] && echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee "$binfmt/register" >/dev/null
runs_32bit || { echo "setup: Wine's 32-bit loader still does not start" >&2; exit 1; }
