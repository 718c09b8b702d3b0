# Sourced by the scripts that run Windows programs, with VARNEK_ROOT set to the repository:
# sets WINE_BITS to 32 where Wine can start 32-bit programs (the shipped build), else to 64 and
# puts cmake/wine64-only first on the PATH.
# Some machines run no 32-bit programs at all (their kernel's 32-bit emulation is switched off),
# and there Wine's 32-bit loader, which the distribution's `wine` always starts, cannot start.
# VARNEK_WINE_BITS=64 makes a machine that could run them behave as such a machine.
if [ "${VARNEK_WINE_BITS:-}" != 64 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    WINE_BITS=32
else
    WINE_BITS=64
    PATH="$VARNEK_ROOT/cmake/wine64-only:$PATH"
    export PATH
fi
