#!/bin/sh
# Makes (or refreshes) the Wine prefix that the Win32 tests of a build run in. Programs left
# over in this prefix by an earlier, interrupted run are ended first.
set -eu
prefix=$1
export WINEPREFIX="$prefix"
if [ -d "$prefix" ]; then
    wineserver -k 2>/dev/null || true
fi
wineboot -i >/dev/null 2>&1 || true
wineserver -w
test -f "$prefix/system.reg"
