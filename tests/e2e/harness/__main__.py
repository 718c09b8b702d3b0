"""python3 -m harness make-template DIR: makes the Wine prefix template the tests copy."""

import sys
from pathlib import Path

from harness import make_template

USAGE = "usage: python3 -m harness make-template DIR"


def main(argv: list[str]) -> int:
    if len(argv) == 3 and argv[1] == "make-template":
        make_template(Path(argv[2]))
        return 0
    print(USAGE, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
