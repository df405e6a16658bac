#!/usr/bin/env bash
# Draws the program's four icons (our own artwork) with ImageMagick; the
# .ico files are committed, so this runs only when the artwork changes.
set -eu
cd "$(dirname "$0")"
draw() {  # name, draw commands for a 48x48 canvas
  local name=$1; shift
  convert -size 48x48 xc:none "$@" /tmp/$name-48.png
  convert /tmp/$name-48.png -resize 32x32 /tmp/$name-32.png
  convert /tmp/$name-48.png -resize 16x16 /tmp/$name-16.png
  # 16 and 32 pixels with 16 colours (4 bits a pixel) keep the program
  # small: 1,078 bytes an icon against 3,638 with 64 colours, which need a
  # 256-entry palette, and these drawings look the same either way.
  convert /tmp/$name-16.png /tmp/$name-32.png -colors 16 -type PaletteAlpha $name.ico
}
# 101: the program: a parcel with a downward arrow.
draw program -fill '#c8923e' -stroke '#6b4a1a' -strokewidth 2 -draw 'rectangle 6,18 42,44' \
  -fill '#e0b46a' -draw 'polygon 6,18 14,8 34,8 42,18' \
  -fill '#2f6fcf' -stroke '#173a70' -draw 'polygon 18,22 30,22 30,30 36,30 24,41 12,30 18,30'
# 102: passwords: a padlock.
draw lock -fill none -stroke '#555555' -strokewidth 5 -draw 'arc 13,4 35,30 180,360' \
  -fill '#e3b32c' -stroke '#7a5a0c' -strokewidth 2 -draw 'roundrectangle 8,20 40,44 4,4' \
  -fill '#3a2a05' -stroke none -draw 'circle 24,30 24,34' -draw 'rectangle 22,31 26,39'
# 103: replacing files: two sheets and a turning arrow.
draw replace -fill white -stroke '#4d4d4d' -strokewidth 2 -draw 'rectangle 4,4 26,32' \
  -draw 'rectangle 20,16 42,44' -fill none -stroke '#2a8a2a' -strokewidth 3 \
  -draw 'arc 8,26 30,46 90,200' -fill '#2a8a2a' -stroke none -draw 'polygon 18,46 24,40 24,48'
# 104: a valid signature: a seal with a ribbon.
draw seal -fill '#b22222' -stroke '#5a0f0f' -strokewidth 2 -draw 'polygon 16,28 12,46 20,40 24,46 24,30' \
  -draw 'polygon 32,28 36,46 28,40 24,46 24,30' -fill '#d4af37' -stroke '#7a6010' \
  -draw 'circle 24,20 24,4' -fill none -stroke '#7a6010' -strokewidth 3 -draw 'polyline 16,20 22,26 32,14'
