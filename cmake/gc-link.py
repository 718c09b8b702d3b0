#!/usr/bin/env python3
"""Links a mingw-w64 program so that --gc-sections drops the functions nothing calls.

    gc-link.py COMPILER ARGUMENT...     (the target's link launcher: the link command follows)

A function in a section of its own (-ffunction-sections, and every template instance) has its
unwind information in a section named after it: .eh_frame$f for the 32-bit DWARF tables,
.pdata$f and .xdata$f for the 64-bit Windows tables. The default linker script keeps every one
of those sections, and each names its function, so no function of an object in the link can be
dropped. Here the script keeps the unwind sections of the functions that are kept and no others:
linked with none kept, the functions the program reaches are listed from the linker's map, their
unwind sections kept in the next link, which may reach a few more (an exception table names its
types); until a link keeps no new function. The other unwind sections are dropped. The last link
must then be a clean one in which every function keeps the unwind sections its object has for
it, and every unwind section its function; it writes the map beside the program (PROGRAM.map).
"""
import re
import subprocess
import sys
from pathlib import Path

UNWIND = (".eh_frame", ".pdata", ".xdata")
SAFE_NAME = re.compile(r"^[A-Za-z0-9_.$]+$")


def fail(message: str) -> None:
    print(f"gc-link.py: {message}", file=sys.stderr)
    sys.exit(1)


def default_script(compiler: str) -> str:
    ld = subprocess.run([compiler, "-print-prog-name=ld"], check=True, capture_output=True,
                        text=True).stdout.strip()
    verbose = subprocess.run([ld, "--verbose"], check=True, capture_output=True,
                             text=True).stdout
    parts = re.split(r"^={20,}\s*$", verbose, flags=re.M)
    if len(parts) != 3:
        fail(f"{ld} --verbose printed no linker script")
    return parts[1]


def script_keeping(script: str, suffixes: set) -> str:
    """The default script with each `KEEP(*(.eh_frame*))`-like rule keeping the plain unwind
    section and those of the given function suffixes only (in input order, as the default)."""
    found = 0
    for unwind in UNWIND:
        rule = f"KEEP(*({unwind}*))"
        if rule in script:
            found += 1
            names = []
            for suffix in sorted(suffixes):
                if not SAFE_NAME.match(suffix):
                    fail(f"a section name the script cannot hold: {unwind}{suffix}")
                names.append(unwind + suffix)
            script = script.replace(rule, f"KEEP(*({' '.join([unwind] + names)}))")
    if not found:
        fail("the default linker script keeps no unwind section as expected: "
             + ", ".join(f"KEEP(*({u}*))" for u in UNWIND))
    # The others go: left to the linker they would be placed as they are (it never collects
    # them), naming functions that are not in the program.
    end = script.rstrip().rfind("}")
    others = " ".join(f"*({u}$*) *({u}.*)" for u in UNWIND)
    return script[:end] + f"  /DISCARD/ : {{ {others} }}\n" + script[end:]


def read_map(map_file: Path) -> tuple:
    """(section, file) of the input sections the map places in the program, and of those it
    lists as discarded (duplicates, sections collected as unused, those the script drops)."""
    placed, discarded = set(), set()
    into = None
    pending = None
    for line in map_file.read_text(errors="replace").splitlines():
        if line.startswith("Discarded input sections"):
            into = discarded
            continue
        if line.startswith("Memory Configuration"):
            into = None
            continue
        if line.startswith("Linker script and memory map"):
            into = placed
            continue
        if into is None:
            continue
        entry = re.match(r"^ (\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S.*)$", line)
        if entry:
            into.add((entry.group(1), entry.group(2).strip()))
            pending = None
            continue
        if pending:
            rest = re.match(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S.*)$", line)
            if rest:
                into.add((pending, rest.group(1).strip()))
        name = re.match(r"^ (\.\S+)\s*$", line)
        pending = name.group(1) if name else None
    return placed, discarded


def kept_sections(map_file: Path) -> set:
    return read_map(map_file)[0]


def unwind_mismatches(placed: set, discarded: set) -> list:
    """Functions placed without the unwind sections their file has for them, and unwind
    sections placed without their function."""
    wrong = []
    for name, file in placed:
        if name.startswith(".text") and len(name) > len(".text"):
            for unwind in UNWIND:
                section = unwind + name[len(".text"):]
                if (section, file) in discarded and (section, file) not in placed:
                    wrong.append(f"{name} in {file} without its {section}")
        for unwind in UNWIND:
            if name.startswith(unwind) and len(name) > len(unwind):
                text = ".text" + name[len(unwind):]
                if (text, file) not in placed and (text, file) in discarded:
                    wrong.append(f"{name} in {file} without its function")
    return sorted(wrong)


def text_suffixes(kept: set) -> set:
    return {name[len(".text"):] for name, _ in kept if name.startswith(".text") and
            len(name) > len(".text")}


def main(command: list) -> int:
    if "-o" not in command:
        fail("no -o in the link command")
    at = command.index("-o") + 1
    program = Path(command[at])
    work = program.parent / (program.name + ".gc")
    work.mkdir(exist_ok=True)
    script = default_script(command[0])

    def link(suffixes: set, output: Path, map_file: Path, final: bool):
        script_file = work / "link.ld"
        script_file.write_text(script_keeping(script, suffixes))
        args = command[:at] + [str(output)] + command[at + 1:] + [
            f"-Wl,-T,{script_file}", f"-Wl,-Map,{map_file}"]
        if not final:
            # A link that keeps too few unwind sections may lose the routine they name; its map
            # is all that is wanted of it.
            args.append("-Wl,--noinhibit-exec")
        return subprocess.run(args, capture_output=True, text=True)

    suffixes = set()
    for _ in range(20):
        trial_map = work / "trial.map"
        trial_map.unlink(missing_ok=True)
        trial = link(suffixes, work / "trial.exe", trial_map, final=False)
        if not trial_map.exists():
            sys.stderr.write(trial.stderr)
            fail("a trial link wrote no map")
        reached = text_suffixes(kept_sections(trial_map))
        if reached <= suffixes:
            break
        suffixes |= reached
    else:
        fail("the kept functions did not settle in 20 links")

    map_file = program.parent / (program.name + ".map")
    result = link(suffixes, program, map_file, final=True)
    sys.stdout.write(result.stdout)
    sys.stderr.write(result.stderr)
    if result.returncode != 0:
        return result.returncode
    wrong = unwind_mismatches(*read_map(map_file))
    if wrong:
        program.unlink()
        fail(f"{len(wrong)} functions and unwind sections do not match, first: {wrong[0]}")
    for name in ("trial.exe", "trial.map"):
        (work / name).unlink(missing_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
