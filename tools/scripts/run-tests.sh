#!/bin/sh
# Runs every test: the portable core natively, then the 32-bit build (unit, Win32 and
# end-to-end tests under Wine) and the 64-bit build (unit and Win32 tests under Wine). After the
# 32-bit stage the benchmarks run once on small sizes (a check that they work; their figures
# are no verdict). The fuzz stage runs each fuzz target of the input parsers for a bounded time
# (clang, native). Last, a second build of VarnekIT.exe with the 32-bit test build's settings,
# in another folder, must be byte-identical to that build's.
# Each stage prints ctest's summary, and the end a line with each stage's time; the exit code
# is non-zero when any test failed.
#
# As root the end-to-end tests run side by side, each in a network namespace of its own (the
# build's port and the X server's sockets are then its own); elsewhere one at a time.
#
# Some machines run no 32-bit programs (their kernel's 32-bit emulation is switched off), so
# Wine cannot start a 32-bit Windows program there; on others the set-up could not install
# wine32 (the package registry's i386 index was broken that hour). On such a machine the 32-bit build is made
# and its tests that need no Wine run; the Wine tests, the end-to-end tests among them, run on
# the 64-bit build with Wine's 64-bit loader, and the installer's test on that build's own
# 64-bit installer (the shipped one is a 32-bit program). The first line after the set-up and
# the last line then say that the 32-bit Wine tests did not run, and why.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"

failed=""
times=""
clock=$(date +%s)
# timed NAME: ends the running stage's clock and notes its time.
timed() {
    now=$(date +%s)
    times="$times $1 $((now - clock)) s,"
    clock=$now
}

sh tools/scripts/setup.sh || exit 1
timed setup

VARNEK_ROOT=$here
. "$here/tools/scripts/wine-bits.sh"
wine32=yes
notice=""
if [ "$WINE_BITS" = 64 ]; then
    wine32=no
    notice="*** The 32-bit Wine tests did not run: $WINE_BITS_WHY; the Wine tests run on the 64-bit build. ***"
    echo "$notice"
fi

stage() { # preset [extra configure arguments...]
    preset=$1
    shift
    cmake --preset "$preset" "$@" && cmake --build --preset "$preset" &&
        ctest --preset "$preset" ${ctest_args:-} || failed="$failed $preset"
}

for preset in native i686 x86_64 fuzz; do
    echo "=== $preset ==="
    ctest_args=""
    if [ "$wine32" = yes ] || [ "$preset" = native ] || [ "$preset" = fuzz ]; then
        cmake --workflow --preset "$preset" || failed="$failed $preset"
    elif [ "$preset" = i686 ]; then
        # Built; of its tests only those that run no Windows program.
        ctest_args="-R ^deploy_(publish|signing)$" stage i686
    else
        stage x86_64 -DVARNEK_E2E=ON
    fi
    timed "$preset"
    bench_build=""
    [ "$wine32" = yes ] && [ "$preset" = i686 ] && bench_build="$here/build/i686"
    [ "$wine32" = no ] && [ "$preset" = x86_64 ] && bench_build="$here/build/x86_64"
    if [ -n "$bench_build" ]; then
        # The benchmarks build and run once, on small sizes, with a test build; the size
        # figure is the 32-bit test build's.
        echo "=== benchmarks (small) ==="
        VARNEK_BENCH_BUILD="$bench_build" VARNEK_BENCH_SIZE_BUILD="$here/build/i686" \
            bash bench/run-all.sh --small ||
            failed="$failed benchmarks"
        timed benchmarks
    fi
done
echo "=== reproducible build ==="
# The 32-bit test build is made in every case; a second build of its settings is compared.
sh cmake/check-reproducible.sh --against "$here/build/i686" || failed="$failed reproducible"
timed reproducible
echo "Stage times:${times%,}"
status=0
if [ -n "$failed" ]; then
    echo "FAILED:$failed"
    status=1
else
    echo "All test stages passed."
fi
[ -z "$notice" ] || echo "$notice"
exit $status
