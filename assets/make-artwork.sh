#!/usr/bin/env bash
# Redraws the program's own artwork with ImageMagick. The outputs are committed; run this only
# to change them.
set -euo pipefail
cd "$(dirname "$0")"
font=DejaVu-Sans-Bold
font2=DejaVu-Sans

# Logo of the main window: 538 x 181, 24-bit.
convert -size 538x181 gradient:'#e8f4fb'-'#9fcbe6' \
    -fill '#1f5f8b' -draw "path 'M 0,150 C 90,128 180,178 270,152 S 450,128 538,150 L 538,181 L 0,181 Z'" \
    -fill '#2f80b7' -draw "path 'M 0,163 C 100,145 190,185 280,165 S 460,145 538,166 L 538,181 L 0,181 Z'" \
    -fill '#0b3d62' -draw "path 'M 70,28 C 70,28 38,70 38,92 A 32,32 0 0 0 102,92 C 102,70 70,28 70,28 Z'" \
    -fill white -draw "ellipse 58,86 6,11 0,360" \
    -font "$font" -pointsize 54 -fill '#0b3d62' -annotate +125+80 'MERIVAL' \
    -font "$font2" -pointsize 17 -fill '#1f5f8b' -annotate +128+110 'Supervision de la qualité de l’eau' \
    -type TrueColor BMP3:logo.bmp

# Picture of a flow-meter / dual-resistivity row, read from the current directory at run time.
convert -size 88x82 xc:'#c0c0c0' \
    -fill '#808080' -draw 'rectangle 0,52 87,64' \
    -fill '#404040' -draw 'rectangle 0,52 87,53' \
    -fill '#e0e0e0' -draw 'roundrectangle 20,6 68,48 4,4' \
    -fill '#202020' -draw 'rectangle 26,12 62,26' \
    -fill '#00ff00' -font "$font" -pointsize 10 -annotate +29+23 '12,5' \
    -fill '#0000c0' -draw 'circle 34,38 34,42' -fill '#c00000' -draw 'circle 54,38 54,42' \
    -fill '#606060' -draw 'rectangle 40,48 48,52' \
    -type TrueColor BMP3:instrum1.bmp

# Design-time picture of a row (any instrument): a small probe.
convert -size 88x33 xc:'#c0c0c0' \
    -fill '#e0e0e0' -draw 'roundrectangle 6,3 50,29 3,3' \
    -fill '#202020' -draw 'rectangle 11,8 45,18' \
    -fill '#ffff00' -font "$font" -pointsize 8 -annotate +14+16 '7,02' \
    -fill '#404040' -draw 'rectangle 50,14 74,17' \
    -fill '#0000c0' -draw 'rectangle 74,11 84,20' \
    -type TrueColor PNG24:probe.png

# Decoration behind the rows of the measurement window (stretched to the frame's height).
convert -size 64x256 gradient:'#d6e9f5'-'#7fb3d5' -type TrueColor PNG24:backdrop.png

# Program icon.
convert -size 64x64 xc:none \
    -fill '#0b3d62' -draw "path 'M 32,4 C 32,4 10,34 10,44 A 22,18 0 0 0 54,44 C 54,34 32,4 32,4 Z'" \
    -fill '#9fcbe6' -draw "ellipse 24,40 4,8 0,360" \
    PNG32:merival.png
