#!/bin/sh
# Runs a Windows test program under Wine on a display of its own (a fresh Xvfb), then stops
# that display by its process id. The exit code is the program's.
set -u
tmp=$(mktemp)
Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$tmp" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$tmp" ] && break
    sleep 0.1
done
DISPLAY=":$(head -n 1 "$tmp")"
export DISPLAY
rm -f "$tmp"
wine "$@"
code=$?
# The prefix serves one test at a time: what this one left running ends with it.
wineserver -k 2>/dev/null
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $code
