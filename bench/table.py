#!/usr/bin/env python3
"""Turns the benchmarks' figures into one table.

    table.py digest DIGEST.json     # Google Benchmark JSON -> figure lines (JSON) on stdout
    table.py size PROGRAM REFERENCE # the shipped (i686) program's size -> a figure line
    table.py print FIGURES.jsonl    # figure lines -> the table

A figure line: {"figure", "value", "reference", "unit", "goal", "met"} (see wine/wine_bench.py);
a line {"figure", "error"} stands for a benchmark that failed."""
import json
import struct
import sys
from pathlib import Path

MIB = 1024 * 1024
KIB = 1024
SIZE_GOAL_KIB = 400
MACHINE_I386 = 0x14C


def digest_figures(path):
    runs = {b["name"]: b for b in json.load(open(path))["benchmarks"]
            if b.get("run_type", "iteration") == "iteration"}

    def rate(kind, size):  # MiB/s of processor time
        return runs[f"BM_{kind}/{size}"]["bytes_per_second"] / MIB

    ours, theirs = rate("CSHA256", MIB), rate("OpenSSL", MIB)
    yield {"figure": "SHA-256 of 1 MiB: CSHA256 vs OpenSSL", "value": round(ours, 1),
           "reference": round(theirs, 1), "unit": "MiB/s", "goal": "-", "met": None}
    for size, name in ((64 * 1024, "64 KiB"), (4 * MIB, "4 MiB")):
        yield {"figure": f"CSHA256 linearity: {name} vs 1 MiB",
               "value": round(rate("CSHA256", size), 1), "reference": round(ours, 1),
               "unit": "MiB/s", "goal": "0.8x..1.25x",
               "met": 0.8 <= rate("CSHA256", size) / ours <= 1.25}


def machine(path):
    """The machine type in a Windows program's header."""
    data = Path(path).read_bytes()[:4096]
    header = struct.unpack_from("<I", data, 0x3C)[0] if data[:2] == b"MZ" else -1
    if header < 0 or header + 6 > len(data) or data[header:header + 4] != b"PE\0\0":
        raise ValueError(f"{path} is no Windows program")
    return struct.unpack_from("<H", data, header + 4)[0]


def size_figure(program, reference):
    """The shipped program's file size against the reference tray program's, which carries the
    same icon and launcher picture. Both are unsigned; the shipped one also carries its
    signature."""
    for path in (program, reference):
        if machine(path) != MACHINE_I386:
            raise ValueError(f"{path} is not a 32-bit (i686) program, as the shipped one is")
    value = Path(program).stat().st_size / KIB
    ref = Path(reference).stat().st_size / KIB
    return {"figure": "size of the i686 VarnekIT.exe (ref: reference_tray.exe, same icon and "
                      "picture)", "value": round(value, 1), "reference": round(ref, 1),
            "unit": "KiB", "goal": f"<= {SIZE_GOAL_KIB} KiB", "met": value <= SIZE_GOAL_KIB,
            "note": "unsigned"}


def cell(value):
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "NO"
    return str(value)


def print_table(path):
    rows = [("figure", "value", "reference", "ratio", "goal", "met?")]
    for line in open(path):
        if not line.strip():
            continue
        f = json.loads(line)
        if "error" in f:
            rows.append((f["figure"], "FAILED", "-", "-", "-", f["error"][:60]))
            continue
        unit = f" {f['unit']}" if f.get("unit") else ""
        value, ref = f["value"], f["reference"]
        ratio = f"{value / ref:.2f}x" if ref else "-"
        extra = f" ({f['note']})" if f.get("note") else ""
        rows.append((f["figure"] + extra, f"{value}{unit}", f"{ref}{unit}", ratio, f["goal"],
                     cell(f["met"])))
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for n, row in enumerate(rows):
        print(" | ".join(c.ljust(w) for c, w in zip(row, widths)))
        if n == 0:
            print("-+-".join("-" * w for w in widths))
    failed = sum(1 for r in rows[1:] if r[1] == "FAILED")
    return 1 if failed else 0


def main(argv):
    if len(argv) == 2 and argv[0] == "digest":
        for figure in digest_figures(argv[1]):
            print(json.dumps(figure))
        return 0
    if len(argv) == 3 and argv[0] == "size":
        print(json.dumps(size_figure(argv[1], argv[2])))
        return 0
    if len(argv) == 2 and argv[0] == "print":
        return print_table(argv[1])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
