#!/usr/bin/env bash
# Redraws the up and down arrows of the rules editor's move buttons with
# ImageMagick. The .ico files are kept in the repository; run this only to
# change them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for name in up down; do
  points='96,24 176,144 16,144'
  [ "$name" = down ] && points='96,168 176,48 16,48'
  convert -size 192x192 xc:none -fill '#2060b0' -stroke '#103060' -strokewidth 8 \
    -draw "polygon $points" "$tmp/$name.png"
  sizes=()
  for px in 16 24 32; do
    convert "$tmp/$name.png" -resize ${px}x${px} "$tmp/$name-$px.png"
    sizes+=("$tmp/$name-$px.png")
  done
  convert "${sizes[@]}" "arrow_$name.ico"
done
