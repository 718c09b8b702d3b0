#!/bin/sh
# Builds the program (its addresses on 127.0.0.1:18080), starts the bundled demo support
# server on loopback and runs VarnekIT.exe under Wine in a prefix of its own. Uses the desktop's
# display when DISPLAY is set, otherwise a virtual one (Xvfb) whose screen is saved as a
# screenshot whenever it changes. Stops the server when the program ends (its menu's Exit).
#
# The demo's remote-control client is a stand-in that shows how it was started. Web addresses
# open in the desktop's browser where there is one; elsewhere a small viewer shows the address
# and the demo server's answer (for the login: whether the user and digest were accepted).
# On a machine that runs no 32-bit programs, or where wine32 could not be installed, the 64-bit
# build is shown (see run-tests.sh).
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
sh tools/scripts/setup.sh

preset=i686
VARNEK_ROOT=$here
. "$here/tools/scripts/wine-bits.sh"
if [ "$WINE_BITS" = 64 ]; then
    preset=x86_64
    echo "The demo runs the 64-bit build: $WINE_BITS_WHY."
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target VarnekIT demo_viewer

build="$here/build/$preset"
demo="$build/demo"
server_root="$demo/server"
mkdir -p "$server_root/VarnekITApp"
# The server offers what this build is: its own version and the demo's client.
printf '%s' "$(sed -n 's/^project(VarnekIT VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
    >"$server_root/VarnekITApp/VersionVarnekIT.txt"
date +%-d/%-m/%Y | tr -d '\n' >"$server_root/VarnekITApp/VersionTeamViewer.txt"
cp "$build/src/VarnekIT.exe" "$server_root/VarnekITApp/New_VarnekIT.zip"
cp "$build/tools/demo_viewer.exe" "$server_root/VarnekITApp/Varnek_TeamViewer.zip"
printf '{"demo": "demo"}\n' >"$demo/users.json"

export WINEPREFIX="$demo/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

desktop=yes
if [ -z "${DISPLAY:-}" ]; then
    desktop=no
    Xvfb :93 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids="$pids $!"
    export DISPLAY=:93
    echo "No DISPLAY: running on the virtual display :93 (screenshots in $demo/screens/)."
    mkdir -p "$demo/screens"
    (
        last=""
        while sleep 2; do
            import -display :93 -window root "$demo/screen.png" 2>/dev/null || continue
            sum=$(md5sum "$demo/screen.png" | cut -d' ' -f1)
            [ "$sum" = "$last" ] && continue
            last=$sum
            cp "$demo/screen.png" "$demo/screens/$(date +%H%M%S).png"
        done
    ) &
    pids="$pids $!"
fi
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }

program="$WINEPREFIX/drive_c/Varnek"
mkdir -p "$program" "$WINEPREFIX/drive_c/demo"
cp "$build/src/VarnekIT.exe" "$program/VarnekIT.exe"
cp "$build/tools/demo_viewer.exe" "$program/Varnek_TeamViewer.exe"
cp "$build/tools/demo_viewer.exe" "$WINEPREFIX/drive_c/demo/demo_viewer.exe"
# Wine hands web addresses to the desktop's browser; without one, to the demo's viewer.
if [ "$desktop" = yes ] && xdg-settings get default-web-browser 2>/dev/null | grep -q .; then
    echo "Web addresses open in the desktop's browser."
else
    sh tools/install-browser-recorder.sh "$WINEPREFIX" 'C:\demo\demo_viewer.exe'
    echo "Web addresses open in the demo's viewer."
fi

python3 tools/support_server.py --root "$server_root" --port 18080 --users "$demo/users.json" \
    --log "$demo/server.log" &
pids="$pids $!"

echo "VarnekIT runs in the notification area (Wine System Tray). Its menu's Exit ends the demo."
wine 'C:\Varnek\VarnekIT.exe'
wineserver -w
