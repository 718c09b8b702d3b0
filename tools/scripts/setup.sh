#!/bin/sh
# Installs what building and testing the program needs on Debian 12 or 13 (as root, or
# through sudo). Quick when everything is already there. Only packages both releases have, by
# their names without a version, so each release brings its own.
set -eu
packages="cmake ninja-build g++ googletest python3 g++-mingw-w64-i686-posix
g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xdotool x11-utils imagemagick
tesseract-ocr tesseract-ocr-eng fonts-dejavu-core fonts-wine
nsis osslsigncode openssl
libbenchmark-dev libssl-dev curl clang libclang-rt-dev llvm iproute2"

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
