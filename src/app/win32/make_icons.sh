#!/usr/bin/env bash
# Redraws the program's icons with ImageMagick. The .ico files are kept in the
# repository so that a build needs no image tools; run this only to change them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Each picture is drawn once at 192 px and scaled down, so the small sizes stay
# in proportion.
draw_app() {
  convert -size 192x192 xc:none \
    -fill '#1f5fa8' -draw 'roundrectangle 8,8 184,184 36,36' \
    -fill white -draw 'ellipse 96,96 70,44 0,360' \
    -fill '#1f5fa8' -draw 'circle 96,96 96,130' \
    -fill white -draw 'circle 96,96 96,110' \
    -stroke '#f0b020' -strokewidth 16 -draw 'line 128,128 168,168' \
    "$1"
}
draw_send() {
  convert -size 192x192 xc:none \
    -fill '#fdfdfd' -stroke '#3a5f8a' -strokewidth 12 \
    -draw 'rectangle 16,44 176,148' \
    -fill none -draw 'polyline 16,44 96,108 176,44' \
    "$1"
}
draw_settings() {
  convert -size 192x192 xc:none \
    -stroke '#505050' -strokewidth 14 \
    -draw 'line 24,48 168,48' -draw 'line 24,96 168,96' -draw 'line 24,144 168,144' \
    -fill '#2f7fd0' -stroke '#1f4f80' -strokewidth 6 \
    -draw 'circle 64,48 64,70' -draw 'circle 128,96 128,118' -draw 'circle 88,144 88,166' \
    "$1"
}

for name in app send settings; do
  "draw_$name" "$tmp/$name.png"
  sizes=()
  for px in 16 24 32 48; do
    convert "$tmp/$name.png" -resize ${px}x${px} "$tmp/$name-$px.png"
    sizes+=("$tmp/$name-$px.png")
  done
  convert "${sizes[@]}" "$name.ico"
done
