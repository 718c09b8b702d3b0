#!/bin/sh
# Checks that two builds of VarnekIT.exe from the same source tree are byte-identical, and so
# are their Windows Installer packages where the build makes one (wixl and msibuild present).
# The two build folders have different paths, and the second build runs later and under another
# umask, so a build path, a time stamp or a file mode that leaks into the program or the
# package shows up as a difference.
#   cmake/check-reproducible.sh [WORK_DIR]
#       builds the shipped 32-bit release configuration (fixed addresses, not signed) twice
#   cmake/check-reproducible.sh --against BUILD_DIR [WORK_DIR]
#       compares BUILD_DIR's VarnekIT.exe (a build made anyway, the test command's) with a new
#       build of the same settings (toolchain, build type, addresses, the other values the
#       program is made with) in WORK_DIR
# WORK_DIR defaults to a new folder under /tmp, removed at the end.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
against=""
if [ "${1:-}" = "--against" ]; then
    against=$(cd "${2:?--against needs a build folder}" && pwd)
    shift 2
fi
work=${1:-}
made_work=""
if [ -z "$work" ]; then
    work=$(mktemp -d /tmp/varnek-repro.XXXXXX)
    made_work=1
fi
mkdir -p "$work"
cleanup() { [ -z "$made_work" ] || rm -rf "$work"; }
trap cleanup EXIT INT TERM

# The settings of the release configuration, or those BUILD_DIR was made with: every cache
# value that goes into the program.
settings=$work/settings
if [ -n "$against" ]; then
    : >"$settings"
    for name in CMAKE_TOOLCHAIN_FILE CMAKE_BUILD_TYPE SupportServerUrl HomePageUrl \
        VARNEK_READ_STALL_SECONDS VARNEK_CLIENT_PUBLISHER VARNEK_VERSION_OVERRIDE \
        VARNEK_UPDATE_ROOTS VARNEK_CLIENT_ROOTS; do
        line=$(grep -m1 "^$name:[A-Z]*=" "$against/CMakeCache.txt") ||
            { echo "$against/CMakeCache.txt has no $name" >&2; exit 1; }
        printf '%s\n' "-D$name=${line#*=}" >>"$settings"
    done
else
    printf '%s\n' "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DSupportServerUrl=https://support.varnek.example \
        -DHomePageUrl=https://www.varnek.example -DVARNEK_UNSIGNED_RELEASE=ON >"$settings"
fi

build() {
    dir=$1
    rm -rf "$dir"
    # One argument per line of the settings file (values may hold spaces and commas).
    (
        set --
        while IFS= read -r argument; do set -- "$@" "$argument"; done <"$settings"
        cmake -S "$source_dir" -B "$dir" -G Ninja -DVARNEK_TESTS=OFF "$@"
    ) >"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
    cmake --build "$dir" --target $(targets "$dir") -j2 >>"$dir.log" 2>&1 ||
        { cat "$dir.log"; exit 1; }
}

# targets DIR: the program, and the package where the build in DIR makes one.
targets() {
    if cmake --build "$1" --target help 2>/dev/null | grep -q '^msi:'; then
        echo VarnekIT msi
    else
        echo VarnekIT
    fi
}

# same NAME FIRST SECOND: compares the two builds' files.
same() {
    if cmp "$2" "$3"; then
        echo "reproducible: $(sha256sum "$2" | cut -d' ' -f1)  $1 ($2 and $3)"
    else
        echo "NOT reproducible: the two builds of $1 differ ($2, $3)" >&2
        cmp -l "$2" "$3" | head -20 >&2 || true
        exit 1
    fi
}

if [ -n "$against" ]; then
    # Up to date with the source (nothing to do when the test build has just been made).
    cmake --build "$against" --target $(targets "$against") -j2 >"$work/against.log" 2>&1 ||
        { cat "$work/against.log"; exit 1; }
    first=$against
else
    build "$work/first"
    first=$work/first
    sleep 1
fi
(umask 077 && build "$work/second-build")
second=$work/second-build
same VarnekIT.exe "$first/src/VarnekIT.exe" "$second/src/VarnekIT.exe"
if [ "$(targets "$first")" != VarnekIT ]; then
    package=$(cd "$first/installer" && ls VarnekIT-*.msi)
    same "$package" "$first/installer/$package" "$second/installer/$package"
fi
