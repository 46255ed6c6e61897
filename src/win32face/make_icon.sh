#!/bin/sh
# Draws the program's icon (a chip receiving a downward arrow) and writes loader.ico with
# the sizes Windows asks for. Run again after changing the drawing; needs ImageMagick.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#2b2f36' -stroke '#14171c' -strokewidth 6 -draw 'roundrectangle 48,96 208,236 14,14' \
  -stroke '#c9a227' -strokewidth 10 \
  -draw 'line 72,236 72,252' -draw 'line 104,236 104,252' -draw 'line 136,236 136,252' \
  -draw 'line 168,236 168,252' -draw 'line 192,236 192,252' \
  -stroke none -fill '#3cb043' -draw 'polygon 128,176 72,112 104,112 104,8 152,8 152,112 184,112' \
  -fill '#d8d8d8' -draw 'circle 72,212 80,212' \
  "$tmp/loader-256.png"
for size in 16 24 32 48 64; do
  convert "$tmp/loader-256.png" -resize ${size}x${size} "$tmp/loader-$size.png"
done
convert "$tmp/loader-16.png" "$tmp/loader-24.png" "$tmp/loader-32.png" "$tmp/loader-48.png" \
  "$tmp/loader-64.png" "$tmp/loader-256.png" loader.ico
