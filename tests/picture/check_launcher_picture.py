#!/usr/bin/env python3
"""Checks that the launcher picture's painted buttons lie under their click areas.

Usage: check_launcher_picture.py PATH-TO-launcher.jpg
Needs ImageMagick's `convert` and `identify` (Debian package: imagemagick).

For every click area it reads the ring of pixels 4 px inside the rectangle's
edge (the button face) and the ring 3 px outside it (the background). The
inner ring must be one even, dark, blue face colour, the same family for all
buttons; the outer ring must be clearly different from that face. Along the
straight stretches of the edges (away from the rounded corners) the face must
also reach 1 px inside the edge and stop before 1 px outside it, so a face
shifted by even one pixel is caught. Finally, each face must carry a light
label whose ink is centred in the area. Exit code 0 when everything holds, 1 with
the reasons otherwise.
"""

import subprocess
import sys

WIDTH, HEIGHT = 640, 480

# The launcher's click areas: left, top, width, height in picture pixels.
CLICK_AREAS = [
    ("Hjemmeside", (16, 264, 169, 49)),
    ("Fjernstyring", (216, 264, 161, 49)),
    ("Support System", (400, 264, 201, 49)),
    ("Indstillinger", (376, 424, 153, 49)),
    ("Luk", (560, 424, 73, 49)),
]

INSET = 4
OUTSET = 3
FACE_SPREAD = 60  # max distance of a face pixel from the face's mean colour
FAMILY_SPREAD = 40  # max distance between two buttons' mean face colours
MIN_CONTRAST = 100  # min distance of a background pixel from the face colour
CORNER = 8  # the rounded corners are left out of the 1 px edge test
ALLOWED_MISSES = 0.01
LABEL_INK = 170  # mean channel value above which a face pixel is label ink
CENTRE_X = 2  # max difference between the label's left and right margins
CENTRE_Y = 4  # the same for top and bottom (labels without descenders sit high)  # share of ring pixels that may miss (JPEG ringing)


def run(args):
    try:
        return subprocess.run(args, check=True, capture_output=True).stdout
    except FileNotFoundError:
        sys.exit("FAIL: ImageMagick's '%s' was not found (apt-get install -y imagemagick)" % args[0])
    except subprocess.CalledProcessError as error:
        sys.exit("FAIL: %s could not read the picture: %s" % (args[0], error.stderr.decode().strip()))


def read_pixels(path):
    data = run(["convert", path, "-colorspace", "sRGB", "-depth", "8", "ppm:-"])
    # Binary PPM: "P6", width, height, maxval, one whitespace byte, then RGB.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1 :]


def ring(left, top, right, bottom):
    """Pixels on the border of the inclusive box (left, top)-(right, bottom)."""
    for x in range(left, right + 1):
        yield x, top
        yield x, bottom
    for y in range(top + 1, bottom):
        yield left, y
        yield right, y


def straight(left, top, right, bottom):
    """The ring's pixels that are at least CORNER px away from its corners."""
    for x, y in ring(left, top, right, bottom):
        if left + CORNER <= x <= right - CORNER or top + CORNER <= y <= bottom - CORNER:
            yield x, y


def distance(a, b):
    return sum((p - q) ** 2 for p, q in zip(a, b)) ** 0.5


def mean(colours):
    return tuple(sum(c[i] for c in colours) / len(colours) for i in range(3))


def areas_from_program(header):
    """The click areas as the program declares them (twips, 15 per pixel at 96 DPI)."""
    import re
    names = {"b_Hjemmeside": "Hjemmeside", "b_Fjernstyring": "Fjernstyring",
             "b_SupportSystem": "Support System", "b_Indstillinger": "Indstillinger",
             "i_Luk": "Luk"}
    text = open(header, encoding="utf-8").read()
    found = re.findall(r'\{"(\w+)", Area::\w+, (\d+), (\d+), (\d+), (\d+)(?:, "[^"]*")?\}', text)
    areas = [(names[name], tuple(int(v) // 15 for v in values)) for name, *values in found]
    if [label for label, _ in areas] != [label for label, _ in CLICK_AREAS]:
        sys.exit("FAIL: %s does not declare the five click areas in order" % header)
    return areas


def main():
    global CLICK_AREAS
    if len(sys.argv) == 4 and sys.argv[2] == "--areas-from":
        CLICK_AREAS = areas_from_program(sys.argv[3])
        del sys.argv[2:]
    if len(sys.argv) != 2:
        sys.exit("usage: check_launcher_picture.py PATH-TO-launcher.jpg")
    path = sys.argv[1]
    problems = []

    info = run(["identify", "-format", "%m %w %h %[interlace] %[colorspace]\n", path])
    kind, width, height, interlace, colourspace = info.decode().split("\n")[0].split()
    if kind != "JPEG":
        problems.append("the file is %s, not JPEG" % kind)
    if (int(width), int(height)) != (WIDTH, HEIGHT):
        problems.append("the picture is %sx%s, not %dx%d" % (width, height, WIDTH, HEIGHT))
    if interlace != "None":
        problems.append("the JPEG is %s, not baseline" % interlace)
    if colourspace != "sRGB":
        problems.append("the colour space is %s, not sRGB" % colourspace)
    if problems:
        print("FAIL: " + path)
        for problem in problems:
            print("  " + problem)
        return 1

    width, height, pixels = read_pixels(path)

    def at(x, y):
        i = 3 * (y * width + x)
        return tuple(pixels[i : i + 3])

    faces = []
    for label, (x, y, w, h) in CLICK_AREAS:
        right, bottom = x + w - 1, y + h - 1
        inner = [at(px, py) for px, py in ring(x + INSET, y + INSET, right - INSET, bottom - INSET)]
        outer = [at(px, py) for px, py in ring(x - OUTSET, y - OUTSET, right + OUTSET, bottom + OUTSET)]
        face = mean(inner)
        faces.append((label, face))
        r, g, b = face

        uneven = sum(1 for c in inner if distance(c, face) > FACE_SPREAD)
        if uneven > ALLOWED_MISSES * len(inner):
            problems.append("%s: %d of %d pixels 4 px inside the area are not the face colour"
                            % (label, uneven, len(inner)))
        if not (b > r + 40 and b > g + 20 and 0.299 * r + 0.587 * g + 0.114 * b < 120):
            problems.append("%s: the face colour rgb(%d, %d, %d) is not a dark blue" % (label, r, g, b))
        close = sum(1 for c in outer if distance(c, face) < MIN_CONTRAST)
        if close > ALLOWED_MISSES * len(outer):
            problems.append("%s: %d of %d pixels 3 px outside the area look like the face"
                            % (label, close, len(outer)))

        edge_in = [at(px, py) for px, py in straight(x + 1, y + 1, right - 1, bottom - 1)]
        edge_out = [at(px, py) for px, py in straight(x - 1, y - 1, right + 1, bottom + 1)]
        short = sum(1 for c in edge_in if distance(c, face) > FACE_SPREAD)
        if short > ALLOWED_MISSES * len(edge_in):
            problems.append("%s: the face stops short of the area's edge at %d of %d pixels"
                            % (label, short, len(edge_in)))
        over = sum(1 for c in edge_out if distance(c, face) < MIN_CONTRAST)
        if over > ALLOWED_MISSES * len(edge_out):
            problems.append("%s: the face runs over the area's edge at %d of %d pixels"
                            % (label, over, len(edge_out)))

        ink = [(px, py) for px in range(x + INSET, right - INSET + 1)
               for py in range(y + INSET, bottom - INSET + 1) if sum(at(px, py)) / 3 > LABEL_INK]
        if not ink:
            problems.append("%s: the face carries no light label" % label)
        else:
            gaps = (min(p[0] for p in ink) - x, right - max(p[0] for p in ink),
                    min(p[1] for p in ink) - y, bottom - max(p[1] for p in ink))
            if abs(gaps[0] - gaps[1]) > CENTRE_X or abs(gaps[2] - gaps[3]) > CENTRE_Y:
                problems.append("%s: the label is off centre (margins left %d, right %d, top %d, "
                                "bottom %d)" % ((label,) + gaps))

    reference_label, reference = faces[0]
    for label, face in faces[1:]:
        if distance(face, reference) > FAMILY_SPREAD:
            problems.append("%s: its face colour differs from %s's by %.0f"
                            % (label, reference_label, distance(face, reference)))

    if problems:
        print("FAIL: " + path)
        for problem in problems:
            print("  " + problem)
        return 1
    print("PASS: %s: %d button faces lie under their click areas" % (path, len(CLICK_AREAS)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
