#!/bin/sh
# Runs the chosen ctest tests N times in one build (no rebuild between runs) and prints how
# many runs of each passed: a way to see a test that fails now and then.
#   tools/scripts/repeat-tests.sh N REGEX [BUILD_DIR]
# REGEX is ctest's -R; BUILD_DIR defaults to the build the Wine tests run on here (build/i686,
# or build/x86_64 where the machine runs no 32-bit programs). The runs are side by side as in
# the test command (ctest -j, VARNEK_TEST_JOBS, default 4). Each failed run's ctest log is kept
# in BUILD_DIR/repeat-logs/. The exit code is 1 when any run of any test failed.
set -eu
if [ $# -lt 2 ] || ! [ "$1" -ge 1 ] 2>/dev/null; then
    echo "usage: $0 N REGEX [BUILD_DIR]" >&2
    exit 2
fi
runs=$1
regex=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
VARNEK_ROOT=$here
. "$here/tools/scripts/wine-bits.sh"
build=${3:-}
if [ -z "$build" ]; then
    build=$here/build/i686
    [ "$WINE_BITS" = 64 ] && build=$here/build/x86_64
fi
build=$(cd "$build" && pwd)
logs=$build/repeat-logs
rm -rf "$logs"
mkdir -p "$logs"
results=$logs/results.txt
: >"$results"

run=1
while [ "$run" -le "$runs" ]; do
    started=$(date +%s)
    ctest --test-dir "$build" -R "$regex" -j "${VARNEK_TEST_JOBS:-4}" --output-on-failure \
        --output-junit "$logs/run-$run.xml" >"$logs/run-$run.out" 2>&1 && status=passed ||
        status=failed
    # One line per test of the run: name and whether it passed.
    python3 - "$logs/run-$run.xml" >>"$results" <<'PY'
import sys
import xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    failed = case.get("status") not in ("run", None) or case.find("failure") is not None
    print(case.get("name"), "failed" if failed else "passed")
PY
    echo "run $run of $runs: $status in $(( $(date +%s) - started )) s"
    if [ "$status" = failed ]; then
        cp "$build/Testing/Temporary/LastTest.log" "$logs/run-$run-LastTest.log"
        grep -E "\*\*\*|Failed|Timeout|Not Run" "$logs/run-$run.out" | sed 's/^/    /' || true
    else
        rm -f "$logs/run-$run.out"
    fi
    run=$((run + 1))
done

echo "passed runs of each test ($runs runs, $build):"
awk '{ total[$1]++; if ($2 == "passed") passed[$1]++ }
     END { for (t in total) printf "  %-28s %d of %d\n", t, passed[t] + 0, total[t] }' \
    "$results" | sort
# Every run of every test passed.
! grep -q " failed$" "$results"
