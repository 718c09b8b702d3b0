#!/usr/bin/env bash
# Builds what the benchmarks need and runs every one of them, then prints one table:
# figure, value, reference (measured in the same run), ratio, goal, met?
#
#   bench/run-all.sh [--small]
#
# --small runs short variants (CI): two start-ups each, 2 UI cycles, 5 s of idle, 8 MiB, the
# four Wine benchmarks side by side (their figures are then no verdict, only a check that they
# run; most of their time is the wait for the program's 30th-tick check).
# As root each Wine benchmark runs in a network namespace of its own (cmake/isolated.sh), so
# its support server has the build's port to itself.
# Build directories: build/h-bench (i686, URLs on 127.0.0.1:18090, a port of its own so the
# benchmarks can run beside the tests) and build/h-bench-native. VARNEK_BENCH_BUILD names
# another 32-bit build with loopback URLs instead (the test command passes its own).
# Exit code 1 when a benchmark failed to run (a goal not met is a figure, not a failure).
set -euo pipefail

SMALL=0
[[ "${1:-}" == "--small" ]] && SMALL=1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WIN=${VARNEK_BENCH_BUILD:-$ROOT/build/h-bench}
TOOLCHAIN=$ROOT/cmake/mingw-i686.cmake
# A machine that runs no 32-bit programs runs Wine's 64-bit loader and the 64-bit build.
VARNEK_ROOT=$ROOT
. "$ROOT/tools/scripts/wine-bits.sh"
if [[ $WINE_BITS == 64 ]]; then
    TOOLCHAIN=$ROOT/cmake/mingw-x86_64.cmake
    WIN=${VARNEK_BENCH_BUILD:-$ROOT/build/h-bench-x86_64}
fi
# The size figure is the shipped 32-bit program's: on a machine that runs no 32-bit programs it
# comes from a 32-bit build of its own (VARNEK_BENCH_SIZE_BUILD names another, the test
# command's), of which only the program and the reference are built.
SIZE_BUILD=${VARNEK_BENCH_SIZE_BUILD:-$WIN}
if [[ $WINE_BITS == 64 ]]; then
    SIZE_BUILD=${VARNEK_BENCH_SIZE_BUILD:-$ROOT/build/h-bench}
fi
NATIVE=$ROOT/build/h-bench-native
OUT=$WIN/bench-results
mkdir -p "$OUT"
FIGURES=$OUT/figures.jsonl
: >"$FIGURES"

if [[ ! -f $WIN/build.ninja ]]; then
    cmake -S "$ROOT" -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DSupportServerUrl=http://127.0.0.1:18090 \
        -DHomePageUrl=http://127.0.0.1:18090/home.html >"$OUT/configure.log"
fi
# The support server listens where the build looks for it.
PORT=$(sed -n 's|^SupportServerUrl:STRING=http://127\.0\.0\.1:\([0-9]*\)$|\1|p' "$WIN/CMakeCache.txt")
if [[ -z $PORT ]]; then
    echo "$WIN is not a build with a loopback SupportServerUrl" >&2
    exit 1
fi
cmake --build "$WIN" -j2 --target VarnekIT reference_tray varnek_tools gui_counts >"$OUT/build.log"
if [[ $SIZE_BUILD != "$WIN" ]]; then
    if [[ ! -f $SIZE_BUILD/build.ninja ]]; then
        cmake -S "$ROOT" -B "$SIZE_BUILD" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
            -DSupportServerUrl=http://127.0.0.1:18090 \
            -DHomePageUrl=http://127.0.0.1:18090/home.html >"$OUT/configure-size.log"
    fi
    cmake --build "$SIZE_BUILD" -j2 --target VarnekIT reference_tray >>"$OUT/build.log"
fi
if [[ ! -f $NATIVE/build.ninja ]]; then
    cmake -S "$ROOT/bench/digest" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        >"$OUT/configure-native.log"
fi
cmake --build "$NATIVE" -j2 >"$OUT/build-native.log"

export VARNEK_SUPPORT_PORT=$PORT
export VARNEK_EXE=$WIN/src/VarnekIT.exe VARNEK_TOOLS_DIR=$WIN/tools VARNEK_SOURCE_DIR=$ROOT
export VARNEK_E2E_TEMPLATE=$WIN/e2e-template VARNEK_E2E_ARTIFACTS=$WIN/bench-artifacts
export VARNEK_REFERENCE_TRAY=$WIN/bench/reference_tray/reference_tray.exe
export PYTHONDONTWRITEBYTECODE=1
PYTHONPATH="$ROOT/tests/e2e" python3 -m harness make-template "$VARNEK_E2E_TEMPLATE" \
    >"$OUT/template.log"

if ((SMALL)); then
    MIN_TIME=0.1 RUNS=2 CYCLES=2 IDLE=5 MIB=8
else
    MIN_TIME=1 RUNS=10 CYCLES=${VARNEK_BENCH_CYCLES:-1000} IDLE=60 MIB=256
fi

ISOLATED=()
if "$ROOT/cmake/isolated.sh" true 2>/dev/null; then
    ISOLATED=("$ROOT/cmake/isolated.sh")
fi

# run NAME COMMAND...: the command prints figure lines into NAME.jsonl; a failure adds an
# error line and leaves NAME.failed.
run() {
    local name=$1
    shift
    echo "running: $name" >&2
    rm -f "$OUT/$name.failed"
    if ! "$@" >"$OUT/$name.jsonl" 2>"$OUT/$name.err"; then
        touch "$OUT/$name.failed"
        python3 -c 'import json, sys; print(json.dumps({"figure": sys.argv[1],
            "error": sys.argv[2] or "failed"}))' "$name" "$(tail -n1 "$OUT/$name.err")" \
            >>"$OUT/$name.jsonl"
    fi
}

digest() {
    "$NATIVE/digest_bench" --benchmark_min_time="$MIN_TIME" --benchmark_format=json \
        >"$OUT/digest.json" &&
        python3 "$ROOT/bench/table.py" digest "$OUT/digest.json"
}
WINE_BENCH=("${ISOLATED[@]}" python3 "$ROOT/bench/wine/wine_bench.py")
run digest digest
run size python3 "$ROOT/bench/table.py" size "$SIZE_BUILD/src/VarnekIT.exe" \
    "$SIZE_BUILD/bench/reference_tray/reference_tray.exe"
if ((SMALL)); then
    run startup "${WINE_BENCH[@]}" startup --runs "$RUNS" &
    run handles "${WINE_BENCH[@]}" handles --cycles "$CYCLES" &
    run idle "${WINE_BENCH[@]}" idle --seconds "$IDLE" &
    run download "${WINE_BENCH[@]}" download --mib "$MIB" &
    wait
else
    run startup "${WINE_BENCH[@]}" startup --runs "$RUNS"
    run handles "${WINE_BENCH[@]}" handles --cycles "$CYCLES"
    run idle "${WINE_BENCH[@]}" idle --seconds "$IDLE"
    run download "${WINE_BENCH[@]}" download --mib "$MIB"
fi
status=0
for name in digest size startup handles idle download; do
    cat "$OUT/$name.jsonl" >>"$FIGURES"
    [[ ! -e $OUT/$name.failed ]] || status=1
done

echo
echo "VarnekIT benchmarks ($( ((SMALL)) && echo small || echo full)), $(nproc) cores," \
    "$(lscpu | sed -n 's/^Model name: *//p'), $(date -u '+%Y-%m-%d %H:%M UTC')"
python3 "$ROOT/bench/table.py" print "$FIGURES" || status=1
exit $status
