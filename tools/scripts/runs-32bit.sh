#!/bin/sh
# Exits with 0 where this machine's kernel runs 32-bit (i386) programs, else with 1. Some
# kernels have their 32-bit emulation switched off; Wine's 32-bit loader cannot start there, so
# nothing 32-bit needs to be installed. The check runs the smallest i386 program (it ends with
# code 42 through the kernel's 32-bit system call), written into the repository's build folder:
# /tmp may be mounted without the right to run programs.
here=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$here/build" || exit 1
probe="$here/build/.runs-32bit.$$"
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
code=$?
rm -f "$probe"
[ "$code" -eq 42 ]
