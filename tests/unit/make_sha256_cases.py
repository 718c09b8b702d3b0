#!/usr/bin/python3
"""Writes the digest cases for sha256_test.cpp as a C++ header.

The expected digests come from Python's hashlib over the low byte of each UTF-16 code unit, so
the unit tests compare CSHA256 with an implementation that shares no code with it. The texts are
drawn from a fixed start value: every build writes the same file.

Usage: make_sha256_cases.py OUTPUT.h
"""

import hashlib
import random
import sys

START_VALUE = 20240611
RANDOM_TEXTS = 160
# Lengths around the block and padding edges: 55 bytes still fit the length in one block, 56 don't.
EDGE_LENGTHS = [0, 1, 3, 4, 5, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 300]


def random_unit(rng):
    kind = rng.random()
    if kind < 0.5:
        return rng.randrange(0x20, 0x7F)  # printable ASCII
    if kind < 0.7:
        return rng.randrange(0x80, 0x100)  # Latin-1, e.g. the Danish letters
    return rng.randrange(0x100, 0x10000)  # anything else; only the low byte counts


def digest(units):
    return hashlib.sha256(bytes(u & 0xFF for u in units)).hexdigest()


def icbrt(n):
    """Largest m with m**3 <= n."""
    lo, hi = 0, 1 << (n.bit_length() // 3 + 1)
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if mid**3 <= n:
            lo = mid
        else:
            hi = mid - 1
    return lo


def round_constants():
    """First 32 fraction bits of the cube roots of the first 64 primes."""
    primes = [p for p in range(2, 312) if all(p % d for d in range(2, p))]
    assert len(primes) == 64
    return [icbrt(p << 96) & 0xFFFFFFFF for p in primes]


def main():
    rng = random.Random(START_VALUE)
    lengths = EDGE_LENGTHS + [rng.randrange(0, 301) for _ in range(RANDOM_TEXTS)]
    texts = [[random_unit(rng) for _ in range(n)] for n in lengths]
    # The euro sign counts as its low byte 0xAC.
    texts.append([ord(c) for c in "Pris: 100 €"])
    cases = [(t, digest(t)) for t in texts]
    # At least one digest must have a word below 0x10000000, so leading zeros are checked.
    assert any(d[i] == "0" for _, d in cases for i in range(0, 64, 8))

    out = [
        "// Written by tests/unit/make_sha256_cases.py; do not edit.",
        "#pragma once",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "namespace sha256_cases {",
        "",
        "struct Case {",
        "    std::size_t offset; // into kUnits",
        "    std::size_t length;",
        "    const char* digest;",
        "};",
        "",
        "inline constexpr char16_t kUnits[] = {",
    ]
    all_units = [u for t, _ in cases for u in t]
    for i in range(0, len(all_units), 12):
        out.append("    " + ", ".join("0x%04x" % u for u in all_units[i : i + 12]) + ",")
    out.append("};")
    out.append("")
    out.append("inline constexpr Case kCases[] = {")
    offset = 0
    for t, d in cases:
        out.append('    {%d, %d, "%s"},' % (offset, len(t), d))
        offset += len(t)
    out.append("};")
    out.append("")
    out.append("inline constexpr std::uint32_t kRoundConstants[64] = {")
    k = round_constants()
    for i in range(0, 64, 8):
        out.append("    " + ", ".join("0x%08x" % v for v in k[i : i + 8]) + ",")
    out.append("};")
    out.append("")
    out.append("} // namespace sha256_cases")
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
