#!/bin/sh
# Builds VarnekIT.exe twice from the same source tree in two fresh build folders (the shipped
# 32-bit release configuration, with fixed addresses) and checks that both are byte-identical.
# The two folders have different paths, so a build path that leaks into the program shows up
# as a difference too.
#   cmake/check-reproducible.sh [WORK_DIR]      (default: a new folder under /tmp)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-}
made_work=""
if [ -z "$work" ]; then
    work=$(mktemp -d /tmp/varnek-repro.XXXXXX)
    made_work=1
fi
mkdir -p "$work"
cleanup() { [ -z "$made_work" ] || rm -rf "$work"; }
trap cleanup EXIT INT TERM

build() {
    dir=$1
    rm -rf "$dir"
    cmake -S "$source_dir" -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVARNEK_TESTS=OFF \
        -DSupportServerUrl=https://support.varnek.example \
        -DHomePageUrl=https://www.varnek.example >"$dir.log" 2>&1 ||
        { cat "$dir.log"; exit 1; }
    cmake --build "$dir" --target VarnekIT -j2 >>"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
}

# The second build runs later and under another umask, so time stamps
# and file modes cannot match by luck.
build "$work/first"
sleep 1
(umask 077 && build "$work/second-build")
first="$work/first/src/VarnekIT.exe"
second="$work/second-build/src/VarnekIT.exe"
if cmp "$first" "$second"; then
    echo "reproducible: $(sha256sum "$first" | cut -d' ' -f1)  VarnekIT.exe"
else
    echo "NOT reproducible: the two builds of VarnekIT.exe differ" >&2
    cmp -l "$first" "$second" | head -20 >&2 || true
    exit 1
fi
