#!/bin/sh
# Installs what building and testing the program needs on Debian 12 or 13 (as root, or
# through sudo). Quick when everything is already there. squid is the proxy of the Win32
# tests, which start their own on a free port (where systemd runs, Debian also starts its
# service on port 3128; the tests do not use it). Only packages both releases have, by
# their names without a version, so each release brings its own.
#
# Debian's registry sometimes answers an index with the wrong size for a while ("Mirror sync in
# progress?"), most often an i386 index. So each step is tried again a few times with a pause,
# and the 32-bit part is apart from the rest: it is asked for only where this machine runs
# 32-bit programs, and where it cannot be installed the set-up still succeeds: the test command
# and the demo then use the 64-bit build, as on a machine that runs no 32-bit programs, and say
# why (tools/scripts/wine-bits.sh). Anything else that cannot be installed stops the set-up,
# naming the packages.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
packages="cmake ninja-build g++ googletest python3 g++-mingw-w64-i686-posix
g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool x11-utils imagemagick
tesseract-ocr tesseract-ocr-eng fonts-dejavu-core fonts-wine
nsis osslsigncode openssl wixl msitools squid
libbenchmark-dev libssl-dev curl clang libclang-rt-dev llvm iproute2"
wine32=wine32:i386

# missing PACKAGE...: prints those of the packages that are not installed.
missing() {
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            printf ' %s' "$package"
    done
}

# retry TRIES COMMAND...: runs the command until it succeeds, at most TRIES times, with a pause
# of 15 s before the second try that doubles before each further one.
retry() {
    tries=$1
    shift
    try=1
    pause=15
    until "$@"; do
        [ "$try" -lt "$tries" ] || return 1
        echo "setup: that failed (try $try of $tries); trying again in $pause s"
        sleep "$pause"
        try=$((try + 1))
        pause=$((pause * 2))
    done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
native=$(dpkg --print-architecture)

# The packages of this machine's own architecture; the lists of a foreign one (i386, added by
# an earlier set-up) are not asked for, so their faults cannot stop these.
install_native() {
    $sudo apt-get update -qq -o APT::Architectures="$native" &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            -o APT::Architectures="$native" $absent
}
absent=$(missing $packages)
if [ -n "$absent" ]; then
    echo "Installing:$absent"
    if ! retry 5 install_native; then
        echo "setup: cannot install:$(missing $packages)" >&2
        exit 1
    fi
fi

# wine32 only where this machine runs 32-bit programs (VARNEK_WINE_BITS=64: as if it did not).
[ "${VARNEK_WINE_BITS:-}" != 64 ] || exit 0
sh "$here/tools/scripts/runs-32bit.sh" || exit 0
[ -n "$(missing $wine32)" ] || exit 0
install_wine32() {
    # An update that fails for one index may still leave lists the install can use.
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $wine32
}
echo "Installing: $wine32"
$sudo dpkg --add-architecture i386
if ! retry 3 install_wine32; then
    echo "setup: $wine32 could not be installed: the Wine tests and the demo use the 64-bit build"
fi
exit 0
