#!/bin/sh
# Draws the program icon (a white "V" on a deep blue rounded tile) at 16, 24, 32 and 48 pixels
# and writes VarnekIT.ico beside this script. Needs ImageMagick and fonts-dejavu-core.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || { echo "missing $font (fonts-dejavu-core)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 24 32 48; do
    radius=$((size / 6))
    convert -size ${size}x${size} xc:none -fill '#0B3D91' \
        -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $radius,$radius" \
        -fill white -font "$font" -pointsize $((size * 3 / 4)) -gravity center \
        -annotate +0+0 V -strip "PNG32:$tmp/icon$size.png"
done
convert "$tmp/icon16.png" "$tmp/icon24.png" "$tmp/icon32.png" "$tmp/icon48.png" \
    "$here/VarnekIT.ico"
