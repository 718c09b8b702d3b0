#!/bin/sh
# Runs every test: the portable core natively, then the 32-bit build (unit, Win32 and
# end-to-end tests under Wine) and the 64-bit build (unit and Win32 tests under Wine), then
# checks that two clean builds of VarnekIT.exe are byte-identical. After the 32-bit stage the
# benchmarks run once on small sizes (a check that they work; their figures are no verdict).
# The fuzz stage runs each fuzz target of the input parsers for a bounded time (clang, native).
# Each stage prints ctest's summary; the exit code is non-zero when any test failed.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
sh tools/scripts/setup.sh || exit 1

failed=""
for preset in native i686 x86_64 fuzz; do
    echo "=== $preset ==="
    cmake --workflow --preset "$preset" || failed="$failed $preset"
    if [ "$preset" = i686 ]; then
        # The benchmarks build and run once, on small sizes, with the 32-bit test build.
        echo "=== benchmarks (small) ==="
        VARNEK_BENCH_BUILD="$here/build/i686" bash bench/run-all.sh --small ||
            failed="$failed benchmarks"
    fi
done
echo "=== reproducible build ==="
sh cmake/check-reproducible.sh || failed="$failed reproducible"
if [ -n "$failed" ]; then
    echo "FAILED:$failed"
    exit 1
fi
echo "All test stages passed."
