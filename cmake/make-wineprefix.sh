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
# The dialog fonts a Windows system has (Wine's own versions), so captions have their sizes.
for font in ms_sans_serif.ttf sserife.fon tahoma.ttf tahomabd.ttf; do
    if [ -f "/usr/share/wine/fonts/$font" ]; then
        cp "/usr/share/wine/fonts/$font" "$prefix/drive_c/windows/Fonts/"
    fi
done
# There is no window manager on the tests' displays: windows are not managed, so showing one
# does not wait for a manager that never answers.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
