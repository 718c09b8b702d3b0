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
frames=""
for size in $sizes; do
    frames="$frames $tmp/icon$size.png"
done
# shellcheck disable=SC2086 # one argument per frame
convert $frames "$here/VarnekIT.ico"
