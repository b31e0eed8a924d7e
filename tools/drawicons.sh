#!/usr/bin/env bash
# Draws the workspace pictures (32 x 32, full colour, transparent ground) into
# resources/workspace/. Run by hand after changing a picture; the PNGs are committed.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/resources/workspace"
mkdir -p "$out"
im=/usr/bin/convert

draw() { # name, then draw arguments
    local name=$1
    shift
    "$im" -size 32x32 xc:none "$@" -strip -define png:compression-level=9 "PNG32:$out/$name.png"
}

page=(-fill white -stroke '#5a6070' -strokewidth 1 -draw "path 'M5.5,2.5 L19.5,2.5 L25.5,8.5 L25.5,29.5 L5.5,29.5 Z'"
      -fill '#d8dce6' -draw "path 'M19.5,2.5 L19.5,8.5 L25.5,8.5 Z'"
      -stroke '#9aa3b5' -draw 'line 9,12 21,12' -draw 'line 9,16 21,16' -draw 'line 9,20 17,20')

draw add "${page[@]}" -stroke '#1d7a22' -fill '#3cb043' -draw 'circle 23,23 23,15.5' \
    -stroke white -strokewidth 3 -draw 'line 23,18 23,28' -draw 'line 18,23 28,23'
draw del "${page[@]}" -stroke '#8e1b1b' -fill '#e0392e' -draw 'circle 23,23 23,15.5' \
    -stroke white -strokewidth 3 -draw 'line 19.5,19.5 26.5,26.5' -draw 'line 26.5,19.5 19.5,26.5'
draw edit "${page[@]}" -stroke '#6b4a12' -strokewidth 1 -fill '#f2c230' \
    -draw "path 'M28,12 L31,15 L18,28 L15,25 Z'" -fill '#e59c9c' -draw "path 'M28,12 L31,15 L29.5,16.5 L26.5,13.5 Z'" \
    -fill '#f4deb0' -draw "path 'M15,25 L18,28 L13,30 Z'"
draw change -stroke '#3b2410' -strokewidth 1 \
    -fill '#2f6fb8' -draw "path 'M3.5,6.5 L15.5,4.5 L15.5,26.5 L3.5,28.5 Z'" \
    -fill '#c0392b' -draw "path 'M16.5,4.5 L28.5,6.5 L28.5,28.5 L16.5,26.5 Z'" \
    -stroke white -strokewidth 1 -draw 'line 6,10 13,9' -draw 'line 19,9 26,10' \
    -stroke '#1d7a22' -fill '#46c34c' -strokewidth 1 -draw "path 'M8,19 L20,19 L20,15 L27,21.5 L20,28 L20,24 L8,24 Z'"
draw author -stroke '#3b2a1a' -strokewidth 1 \
    -fill '#2d5fa8' -draw "path 'M4.5,30.5 C4.5,20 9,17.5 16,17.5 C23,17.5 27.5,20 27.5,30.5 Z'" \
    -fill '#f3c99b' -draw 'circle 16,10.5 16,3.5' \
    -fill '#4a2e18' -stroke none -draw "path 'M9,9 C9,2 23,2 23,9 C20,6 13,6 9,9 Z'" \
    -fill white -draw "path 'M13,18 L16,23 L19,18 Z'"
draw customers -stroke '#55422a' -strokewidth 1 \
    -fill '#fff6d6' -draw 'roundrectangle 2.5,6.5 29.5,27.5 3,3' \
    -fill '#c46a2b' -stroke none -draw 'rectangle 3,7 29,11' \
    -fill '#2d5fa8' -draw "path 'M5,25 C5,18 15,18 15,25 Z'" -fill '#f3c99b' -draw 'circle 10,16.5 10,13' \
    -stroke '#7d7d7d' -strokewidth 1.5 -draw 'line 18,16 27,16' -draw 'line 18,20 27,20' -draw 'line 18,24 24,24'
draw shipments -stroke '#2a2a2a' -strokewidth 1 \
    -fill '#d9412c' -draw 'rectangle 1.5,8.5 19.5,23.5' \
    -fill '#2f6fb8' -draw "path 'M19.5,12.5 L26.5,12.5 L30.5,18.5 L30.5,23.5 L19.5,23.5 Z'" \
    -fill '#bfe3ff' -draw "path 'M21.5,14.5 L25.5,14.5 L28,18.5 L21.5,18.5 Z'" \
    -fill '#333333' -draw 'circle 8,25 8,21.5' -draw 'circle 25,25 25,21.5' \
    -fill '#bbbbbb' -stroke none -draw 'circle 8,25 8,23.5' -draw 'circle 25,25 25,23.5' \
    -fill white -draw 'rectangle 4,12 17,14'
draw purchases -stroke '#7a1f4a' -strokewidth 1 -fill '#e5629b' -draw 'circle 15,17 15,4.5' \
    -fill none -stroke '#fbd3e4' -strokewidth 1.5 \
    -draw "path 'M5,12 C11,15 19,15 26,10'" -draw "path 'M3.5,18 C11,21 20,21 27.5,16'" \
    -draw "path 'M6,25 C12,26 19,25 25,22'" -draw "path 'M12,5 C9,12 10,22 14,29'" \
    -stroke '#7a1f4a' -strokewidth 1.5 -draw "path 'M26,24 C29,27 30,29 31,31'" \
    -stroke '#c08a3e' -strokewidth 2 -draw 'line 20,2 31,13' -draw 'line 24,1 30,7'
draw deliveries -stroke '#0e4d4d' -strokewidth 1 -fill '#1f9e9e' \
    -draw "path 'M11.5,3.5 L20.5,3.5 L29.5,9.5 L26.5,16.5 L23.5,14.5 L23.5,29.5 L8.5,29.5 L8.5,14.5 L5.5,16.5 L2.5,9.5 Z'" \
    -fill '#f7f7f7' -draw "path 'M11.5,3.5 C13,7 19,7 20.5,3.5 Z'" \
    -stroke '#7fd4d4' -strokewidth 1 -draw 'line 8.5,26 23.5,26' -draw 'line 8.5,24 23.5,24' \
    -draw 'line 12,9 12,22' -draw 'line 16,8 16,22' -draw 'line 20,9 20,22'
draw report -stroke '#5a6070' -strokewidth 1 -fill white -draw 'rectangle 2.5,2.5 29.5,29.5' \
    -stroke none -fill '#2f6fb8' -draw 'rectangle 6,18 10,26' -fill '#3cb043' -draw 'rectangle 12,12 16,26' \
    -fill '#f2c230' -draw 'rectangle 18,15 22,26' -fill '#e0392e' -draw 'rectangle 24,7 27,26' \
    -stroke '#333333' -strokewidth 1 -draw 'line 5,26.5 28,26.5'
draw form1 -stroke '#6e1414' -strokewidth 1 -fill '#c0392b' \
    -draw "path 'M11.5,3.5 L20.5,3.5 L29.5,9.5 L26.5,16.5 L23.5,14.5 L23.5,29.5 L8.5,29.5 L8.5,14.5 L5.5,16.5 L2.5,9.5 Z'" \
    -fill '#f7f7f7' -draw "path 'M11.5,3.5 C13,7 19,7 20.5,3.5 Z'" \
    -stroke '#f2c230' -strokewidth 2 -draw 'line 8.5,19 23.5,19' -draw 'line 8.5,23 23.5,23'
draw about -stroke '#173d73' -strokewidth 1 -fill '#2f6fb8' -draw 'circle 16,16 16,2.5' \
    -stroke none -fill white -draw 'circle 16,9 16,6.7' -draw 'roundrectangle 13.5,13 18.5,25 1,1'
draw phone -stroke '#2a2a2a' -strokewidth 1 -fill '#d9412c' \
    -draw "path 'M5.5,14.5 L26.5,14.5 L28.5,28.5 L3.5,28.5 Z'" \
    -fill '#e95d49' -draw "path 'M3.5,9.5 C8,3 24,3 28.5,9.5 L26.5,13.5 L21.5,12.5 L21.5,9.5 C18,8 14,8 10.5,9.5 L10.5,12.5 L5.5,13.5 Z'" \
    -fill white -draw 'circle 16,21.5 16,17.5' -fill '#2a2a2a' -stroke none -draw 'circle 16,21.5 16,20'
draw home -stroke '#3b2410' -strokewidth 1 \
    -fill '#f2d58a' -draw 'rectangle 6.5,14.5 25.5,29.5' \
    -fill '#c0392b' -draw "path 'M2,16 L16,3 L30,16 L27,16 L16,6.5 L5,16 Z'" -draw "path 'M5,16 L16,6.5 L27,16 Z'" \
    -fill '#7a4a1e' -draw 'rectangle 13.5,20.5 18.5,29.5' -fill '#bfe3ff' -draw 'rectangle 8.5,17.5 11.5,21.5' \
    -draw 'rectangle 20.5,17.5 23.5,21.5'
draw mail -stroke '#5a4a2a' -strokewidth 1 -fill '#fff4d0' -draw 'rectangle 2.5,7.5 29.5,25.5' \
    -fill '#f2d58a' -draw "path 'M2.5,7.5 L16,18 L29.5,7.5 Z'" -fill none -draw "path 'M2.5,25.5 L13,15.5'" -draw "path 'M29.5,25.5 L19,15.5'" \
    -fill '#e0392e' -stroke none -draw 'rectangle 22,9.5 27,13'
draw program -stroke '#0e4d4d' -strokewidth 1 -fill '#e5629b' -draw 'circle 12,20 12,9.5' \
    -fill none -stroke '#fbd3e4' -strokewidth 1.5 -draw "path 'M4,16 C9,19 15,19 21,15'" -draw "path 'M3,22 C9,25 16,25 22,21'" \
    -draw "path 'M9,11 C7,17 8,25 12,30'" \
    -stroke '#c08a3e' -strokewidth 2 -draw 'line 14,3 29,18' -draw 'line 20,1 30,11' \
    -stroke '#2f6fb8' -strokewidth 1 -fill '#2f6fb8' -draw 'roundrectangle 21.5,21.5 30.5,30.5 2,2' \
    -stroke none -fill white -draw 'rectangle 23,23 29,24.6' -draw 'rectangle 25.2,23 26.8,29'
ls -l "$out"
