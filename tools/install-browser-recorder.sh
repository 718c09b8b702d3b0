#!/bin/sh
# Makes the browser recorder the http and https handler of a Wine prefix:
#   install-browser-recorder.sh PREFIX 'C:\path\browser_recorder.exe'
# ShellExecuteW of an http:// or https:// address then starts the recorder with the address as
# its one argument, and the recorder writes it to browser_recorder.log beside itself.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 PREFIX RECORDER_WINPATH" >&2
    exit 2
fi
export WINEPREFIX="$1"
export WINEDEBUG="${WINEDEBUG:--all}"
command="\"$2\" \"%1\""
for scheme in http https; do
    wine reg add "HKCR\\$scheme\\shell\\open\\command" /ve /t REG_SZ /d "$command" /f >/dev/null
done
