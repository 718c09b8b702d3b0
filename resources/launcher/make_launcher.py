#!/usr/bin/env python3
"""Draws the launcher window's picture, launcher.jpg (640 x 480).

Needs:
  - ImageMagick 6 `convert`          (Debian package: imagemagick)
  - DejaVu Sans and DejaVu Sans Bold (Debian package: fonts-dejavu-core)

Usage: make_launcher.py [--output PATH]   (default: launcher.jpg beside this script)

The output is byte-identical on every run with the same ImageMagick and fonts:
metadata is stripped, quality, sampling and colour space are fixed, and the
picture is written as a baseline (non-progressive) JPEG.
"""

import argparse
import os
import shutil
import subprocess
import sys

WIDTH, HEIGHT = 640, 480

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONT = os.path.join(FONT_DIR, "DejaVuSans.ttf")
FONT_BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")

# Calm corporate palette: deep blue, white, a light blue accent.
DEEP_BLUE = "#0E3A66"
ACCENT = "#3A9AD9"
PAGE = "#F3F6FA"
TEXT = "#1E2B38"
MUTED = "#5A6B7C"
RULE = "#C9D4E0"
FACE_TOP = "#2566A6"
FACE_BOTTOM = "#184F88"
FACE_EDGE = "#103E6C"
LABEL = "#FFFFFF"

# Painted buttons: label and (left, top, width, height) in picture pixels.
# The launcher's invisible click areas use the same rectangles, so the faces
# must fill them exactly.
BUTTONS = [
    ("Hjemmeside", (16, 264, 169, 49)),
    ("Fjernstyring", (216, 264, 161, 49)),
    ("Support System", (400, 264, 201, 49)),
    ("Indstillinger", (376, 424, 153, 49)),
    ("Luk", (560, 424, 73, 49)),
]

HEADER_HEIGHT = 118

CONTACT = [
    "Varnek IT Consulting ApS",
    "Søndergade 14, 2. sal, 8000 Aarhus C",
    "Telefon: +45 86 12 34 56",
    "E-mail: support@varnek.example",
    "Web: www.varnek.example",
]


def fail(message):
    sys.stderr.write("make_launcher: " + message + "\n")
    sys.exit(1)


def check_tools():
    if shutil.which("convert") is None:
        fail("ImageMagick's 'convert' was not found (apt-get install -y imagemagick)")
    for font in (FONT, FONT_BOLD):
        if not os.path.isfile(font):
            fail(font + " was not found (apt-get install -y fonts-dejavu-core)")


def literal(text):
    # -annotate expands '%' escapes and reads '@name' from a file.
    text = text.replace("\\", "\\\\").replace("%", "%%")
    return "\\" + text if text.startswith("@") else text


def text_at(x, baseline, text, font, size, colour):
    return ["+gravity", "-font", font, "-pointsize", str(size), "-fill", colour,
            "-annotate", "+%d+%d" % (x, baseline), literal(text)]


def logo(x, y):
    # A white rounded tile carrying a stylised "V": the left stroke in deep
    # blue, the right stroke in the accent colour.
    size = 66
    left = "polygon 14,16 26,16 36,48 30,54"
    right = "polygon 40,16 52,16 38,54 30,54"
    return ["(", "-size", "%dx%d" % (size, size), "xc:none",
            "-fill", "#FFFFFF", "-draw", "roundrectangle 0,0 %d,%d 12,12" % (size - 1, size - 1),
            "-fill", DEEP_BLUE, "-draw", left,
            "-fill", ACCENT, "-draw", right,
            ")", "-geometry", "+%d+%d" % (x, y), "-composite"]


def button(label, rect):
    x, y, w, h = rect
    size = "%dx%d" % (w, h)
    face = "roundrectangle 0,0 %d,%d 6,6" % (w - 1, h - 1)
    return ["(", "-size", size, "gradient:%s-%s" % (FACE_TOP, FACE_BOTTOM),
            "(", "-size", size, "xc:black", "-fill", "white", "-draw", face, ")",
            "-alpha", "off", "-compose", "CopyOpacity", "-composite", "-compose", "Over",
            "-fill", "none", "-stroke", FACE_EDGE, "-strokewidth", "1", "-draw", face,
            "-stroke", "none", "-fill", LABEL, "-font", FONT_BOLD, "-pointsize", "15",
            "-gravity", "center", "-annotate", "+0+0", literal(label), "+gravity",
            ")", "-geometry", "+%d+%d" % (x, y), "-composite"]


def command(output):
    args = ["convert", "-size", "%dx%d" % (WIDTH, HEIGHT), "xc:" + PAGE]

    # Header band with logo, name and a line about what the company does.
    args += ["-fill", DEEP_BLUE, "-draw", "rectangle 0,0 %d,%d" % (WIDTH - 1, HEADER_HEIGHT - 1)]
    args += ["-fill", ACCENT, "-draw",
             "rectangle 0,%d %d,%d" % (HEADER_HEIGHT, WIDTH - 1, HEADER_HEIGHT + 3)]
    args += logo(24, 26)
    args += text_at(108, 62, "Varnek IT Consulting", FONT_BOLD, 30, "#FFFFFF")
    args += text_at(109, 88, "IT-support og rådgivning til din virksomhed", FONT, 15, "#C4D8EE")

    # Greeting above the row of buttons.
    args += text_at(16, 176, "Velkommen", FONT_BOLD, 22, DEEP_BLUE)
    args += text_at(16, 204, "Vælg en funktion herunder. Har du brug for hjælp,", FONT, 14, MUTED)
    args += text_at(16, 224, "så ring eller skriv til os – vi svarer hurtigst muligt.",
                    FONT, 14, MUTED)

    # Rule between the buttons and the lower part.
    args += ["-fill", RULE, "-draw", "rectangle 16,344 623,344"]

    # Contact block, bottom left.
    args += text_at(16, 370, "Kontakt", FONT_BOLD, 15, DEEP_BLUE)
    for i, line in enumerate(CONTACT):
        args += text_at(16, 392 + 18 * i, line, FONT, 13, TEXT)

    # Opening hours, above the two lower buttons.
    args += text_at(376, 370, "Åbningstider", FONT_BOLD, 15, DEEP_BLUE)
    args += text_at(376, 392, "Mandag–fredag 8.00–16.00", FONT, 13, TEXT)

    for label, rect in BUTTONS:
        args += button(label, rect)

    # Quality 80 with full colour resolution keeps the labels' edges clean; above it the file
    # grows (it is in the program, downloaded at each update) for no visible change.
    args += ["-colorspace", "sRGB", "-type", "TrueColor", "-strip",
             "-interlace", "none", "-sampling-factor", "1x1", "-quality", "80",
             "jpeg:" + output]
    return args


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Draw the launcher picture.")
    parser.add_argument("--output", default=os.path.join(here, "launcher.jpg"))
    options = parser.parse_args()

    check_tools()
    try:
        subprocess.run(command(options.output), check=True)
    except subprocess.CalledProcessError as error:
        fail("convert failed with exit code %d" % error.returncode)
    print("wrote " + options.output)


if __name__ == "__main__":
    main()
