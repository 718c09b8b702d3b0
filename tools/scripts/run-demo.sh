#!/bin/sh
# Builds the 32-bit program (its addresses on 127.0.0.1:18080), starts the bundled demo support
# server on loopback and runs VarnekIT.exe under Wine in a prefix of its own. Uses the desktop's
# display when DISPLAY is set, otherwise a virtual one (Xvfb) whose screen is saved as a
# screenshot now and then. Stops the server when the program ends (its menu's Exit).
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
sh tools/scripts/setup.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686 --target VarnekIT standin_client

build="$here/build/i686"
demo="$build/demo"
server_root="$demo/server"
mkdir -p "$server_root/VarnekITApp"
# The server offers what this build is: its own version and the stand-in client.
printf '%s' "$(sed -n 's/^project(VarnekIT VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
    >"$server_root/VarnekITApp/VersionVarnekIT.txt"
date +%-d/%-m/%Y | tr -d '\n' >"$server_root/VarnekITApp/VersionTeamViewer.txt"
cp "$build/src/VarnekIT.exe" "$server_root/VarnekITApp/New_VarnekIT.zip"
cp "$build/tools/standin_client.exe" "$server_root/VarnekITApp/Varnek_TeamViewer.zip"
printf '{"demo": "demo"}\n' >"$demo/users.json"

export WINEPREFIX="$demo/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
    Xvfb :93 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids="$pids $!"
    export DISPLAY=:93
    echo "No DISPLAY: running on the virtual display :93 (screenshots in $demo/screen.png)."
    (while sleep 5; do import -display :93 -window root "$demo/screen.png" 2>/dev/null; done) &
    pids="$pids $!"
fi
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }

python3 tools/support_server.py --root "$server_root" --port 18080 --users "$demo/users.json" \
    --log "$demo/server.log" &
pids="$pids $!"

program="$WINEPREFIX/drive_c/Varnek"
mkdir -p "$program"
cp "$build/src/VarnekIT.exe" "$program/VarnekIT.exe"
cp "$build/tools/standin_client.exe" "$program/Varnek_TeamViewer.exe"
echo "VarnekIT runs in the notification area (Wine System Tray). Its menu's Exit ends the demo."
wine 'C:\Varnek\VarnekIT.exe'
wineserver -w
