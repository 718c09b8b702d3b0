# Sourced by the scripts that run Windows programs, with VARNEK_ROOT set to the repository:
# sets WINE_BITS to 32 where Wine can start 32-bit programs (the shipped build), else to 64 and
# puts cmake/wine64-only first on the PATH; WINE_BITS_WHY then says why.
# Some machines run no 32-bit programs at all (their kernel's 32-bit emulation is switched off),
# and there Wine's 32-bit loader, which the distribution's `wine` always starts, cannot start.
# Where they run but wine32 could not be installed (the package registry's i386 index was
# broken, say), the same holds. VARNEK_WINE_BITS=64 makes any machine behave as one without.
WINE_BITS=64
if [ "${VARNEK_WINE_BITS:-}" = 64 ]; then
    WINE_BITS_WHY="VARNEK_WINE_BITS=64 asks for the 64-bit build"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
    WINE_BITS=32
    WINE_BITS_WHY=""
elif sh "$VARNEK_ROOT/tools/scripts/runs-32bit.sh"; then
    WINE_BITS_WHY="wine32 could not be installed"
else
    WINE_BITS_WHY="this machine runs no 32-bit programs"
fi
if [ "$WINE_BITS" = 64 ]; then
    PATH="$VARNEK_ROOT/cmake/wine64-only:$PATH"
    export PATH
fi
