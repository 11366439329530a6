#!/bin/sh
# Installs what building and testing need on a Debian machine, only what is
# missing: the MinGW-w64 cross toolchain, CMake, GoogleTest's sources, Wine
# with its 32-bit half, for the kit's tests NSIS and LLVM's linker for
# Microsoft-style links, and clang with its runtimes (libFuzzer and the
# sanitizers) for fuzzing the text readers natively. Safe to run again.
set -e
packages="g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake make googletest wine wine32:i386 nsis lld clang libclang-rt-dev $KX_EXTRA_PACKAGES"
missing=
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup: installing$missing"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
