#!/bin/sh
# Makes (or refreshes) the Wine prefix that the Win32 tests of a build run in.
set -eu
prefix=$1
export WINEPREFIX="$prefix"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
test -f "$prefix/system.reg"
