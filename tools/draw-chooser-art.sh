#!/usr/bin/env bash
# Draws the chooser's pictures into resources/chooser/. The PNGs are committed;
# run this again only to change them. Needs ImageMagick's /usr/bin/convert.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/resources/chooser"
mkdir -p "$out"
im=/usr/bin/convert
# No time stamps in the files, so redrawing gives the same bytes.
png=(-define png:exclude-chunks=date,time,tIME +set date:create +set date:modify)

# Image1: a strip of knitted stitches (three rows of V shapes), 35 x 13, transparent.
args=()
for row in 0 1 2; do
  y=$((1 + row * 4))
  case $row in 0) col='#B03A48' ;; 1) col='#F2E6A0' ;; 2) col='#3A6EA5' ;; esac
  pts=""
  for x in $(seq 0 4 32); do
    pts+="line $x,$y $((x + 2)),$((y + 3)) line $((x + 2)),$((y + 3)) $((x + 4)),$y "
  done
  args+=(-stroke "$col" -draw "$pts")
done
"$im" -size 35x13 xc:none -strokewidth 1 -fill none "${args[@]}" "${png[@]}" "$out/image1.png"

# OK: a green tick.
"$im" -size 16x16 xc:none -fill none -stroke '#1E8C2E' -strokewidth 2.5 \
  -draw "polyline 2.5,8.5 6.5,12.5 13.5,3.5" "${png[@]}" "$out/ok.png"

# New ledger: a small book with a plus.
"$im" -size 16x16 xc:none -fill '#FFFFFF' -stroke '#3A6EA5' -strokewidth 1 \
  -draw "rectangle 2.5,1.5 11.5,14.5" -fill none -stroke '#3A6EA5' -draw "line 4.5,1.5 4.5,14.5" \
  -stroke '#D08A1A' -strokewidth 2 -draw "line 12,7 12,15 line 8,11 16,11" "${png[@]}" "$out/new.png"

# Quit: a red cross.
"$im" -size 16x16 xc:none -fill none -stroke '#C0262D' -strokewidth 2.5 \
  -draw "line 3.5,3.5 12.5,12.5 line 12.5,3.5 3.5,12.5" "${png[@]}" "$out/close.png"
