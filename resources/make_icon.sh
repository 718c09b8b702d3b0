#!/bin/sh
# Draws the program icon (a white "V" on a deep blue rounded tile) at 16, 20, 24, 32, 40, 48
# and 256 pixels (the small and large icon sizes at 100, 125, 150, 200 and 250 %, and the
# shell's largest view) and writes VarnekIT.ico beside this script. Needs ImageMagick and fonts-dejavu-core.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || { echo "missing $font (fonts-dejavu-core)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sizes="16 20 24 32 40 48 256"
for size in $sizes; do
    radius=$((size / 6))
    convert -size ${size}x${size} xc:none -fill '#0B3D91' \
        -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $radius,$radius" \
        -fill white -font "$font" -pointsize $((size * 3 / 4)) -gravity center \
        -annotate +0+0 V -strip "PNG32:$tmp/icon$size.png"
done
# Every frame is stored as PNG, as Windows reads them since Vista: a third of the size of
# uncompressed frames, in the program that customers download at each update.
# shellcheck disable=SC2086 # one size per argument
python3 - "$tmp" "$here/VarnekIT.ico" $sizes <<'PACK'
import struct
import sys

folder, output, sizes = sys.argv[1], sys.argv[2], [int(size) for size in sys.argv[3:]]
frames = [open(f"{folder}/icon{size}.png", "rb").read() for size in sizes]
offset = 6 + 16 * len(frames)
header = struct.pack("<HHH", 0, 1, len(frames))
for size, frame in zip(sizes, frames):
    # A width or height of 256 is written as 0; 32 bits per pixel, one plane.
    header += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(frame), offset)
    offset += len(frame)
with open(output, "wb") as icon:
    icon.write(header + b"".join(frames))
PACK
