#!/bin/bash
# Draws the programs' icons with ImageMagick and writes them beside this script:
#   tunerpad.ico  the agent (notification area, resource 50): 16x16 and 32x32, 32-bit with alpha
#   shutdown.ico  the "switch off" command (resource 110):      16x16 and 32x32, 32-bit with alpha
#   clearway.ico  the uninstall wizard (resource 128):          one 32x32 image, 16 colours (4 bits)
# Only vector drawing commands are used, so the same ImageMagick makes the same
# bytes every time. Run it again after changing a drawing and commit the .ico files.
set -euo pipefail

# /usr/local/bin may hold another "convert"; this is ImageMagick's.
CONVERT=${CONVERT:-/usr/bin/convert}
OUT=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$CONVERT" -version | grep -q ImageMagick || { echo "make-icons: $CONVERT is not ImageMagick" >&2; exit 1; }

# Every image starts transparent; -strip keeps dates and names out of the data.
canvas() { echo -size "$1x$1" xc:none; }

# --- tunerpad: a small TV set with rabbit-ear antennas and a remote in front ---
"$CONVERT" $(canvas 32) \
  -stroke '#5b6270' -strokewidth 1.5 -draw 'line 15,9 9,2' -draw 'line 17,9 23,2' \
  -stroke none -fill '#9aa3b2' -draw 'circle 9,2 9,3.3' -draw 'circle 23,2 23,3.3' \
  -fill '#2b2f38' -draw 'roundrectangle 1,8 28,27 3,3' \
  -fill '#4a505e' -draw 'roundrectangle 2,9 27,26 2,2' \
  -fill '#0d2a4f' -draw 'roundrectangle 4,11 21,24 2,2' \
  -fill '#2f86e0' -draw 'roundrectangle 5,12 20,23 2,2' \
  -fill '#8cc8ff' -draw 'polygon 6,13 12,13 6,18' \
  -fill '#c7ccd6' -draw 'circle 24.5,14 24.5,15.5' -draw 'circle 24.5,19 24.5,20.5' \
  -fill '#2b2f38' -draw 'rectangle 5,27 8,29' -draw 'rectangle 21,27 24,29' \
  -stroke '#0a0a0a' -strokewidth 1 -fill '#30343c' -draw 'roundrectangle 21,15 30,31 2,2' \
  -stroke none -fill '#ff3b30' -draw 'circle 25.5,18.5 25.5,20' \
  -fill '#b9c0cc' -draw 'rectangle 23,22 24,23' -draw 'rectangle 27,22 28,23' \
                  -draw 'rectangle 23,25 24,26' -draw 'rectangle 27,25 28,26' \
                  -draw 'rectangle 25,28 26,29' \
  -strip "PNG32:$WORK/tunerpad-32.png"

"$CONVERT" $(canvas 16) \
  -stroke '#5b6270' -strokewidth 1 -draw 'line 7,4 4,0' -draw 'line 8,4 11,0' \
  -stroke none -fill '#2b2f38' -draw 'roundrectangle 0,4 13,13 1,1' \
  -fill '#2f86e0' -draw 'rectangle 2,6 10,11' \
  -fill '#8cc8ff' -draw 'polygon 3,7 6,7 3,9' \
  -fill '#30343c' -stroke '#0a0a0a' -strokewidth 1 -draw 'rectangle 11,7 15,15' \
  -stroke none -fill '#ff3b30' -draw 'rectangle 12,8 14,9' \
  -fill '#b9c0cc' -draw 'point 12,11' -draw 'point 14,11' -draw 'point 12,13' -draw 'point 14,13' \
  -strip "PNG32:$WORK/tunerpad-16.png"

"$CONVERT" "$WORK/tunerpad-16.png" "$WORK/tunerpad-32.png" "$OUT/tunerpad.ico"

# --- shutdown: the power symbol on a red round button ---
"$CONVERT" $(canvas 32) \
  -fill '#7a0d0d' -draw 'circle 15.5,15.5 15.5,0.5' \
  -fill '#d32f2f' -draw 'circle 15.5,15.5 15.5,1.8' \
  -fill '#e85c5c' -draw 'ellipse 15.5,9 10,5 180,360' \
  -fill none -stroke white -strokewidth 3 -draw 'arc 7,8 24,25 -45,225' \
  -draw 'line 15.5,5.5 15.5,15.5' \
  -strip "PNG32:$WORK/shutdown-32.png"

"$CONVERT" $(canvas 16) \
  -fill '#7a0d0d' -draw 'circle 7.5,7.5 7.5,0' \
  -fill '#d32f2f' -draw 'circle 7.5,7.5 7.5,1' \
  -fill none -stroke white -strokewidth 1.6 -draw 'arc 3.5,4 11.5,12 -45,225' \
  -draw 'line 7.5,2.5 7.5,7.5' \
  -strip "PNG32:$WORK/shutdown-16.png"

"$CONVERT" "$WORK/shutdown-16.png" "$WORK/shutdown-32.png" "$OUT/shutdown.ico"

# --- clearway: an open carton with a green arrow leaving it, 16 colours ---
# The classic 16-colour palette, so the icon looks the same on any display depth.
PALETTE=(000000 800000 008000 808000 000080 800080 008080 c0c0c0
         808080 ff0000 00ff00 ffff00 0000ff ff00ff 00ffff ffffff)
"$CONVERT" -size 1x1 $(printf "xc:#%s " "${PALETTE[@]}") +append -depth 8 "$WORK/palette.png"
"$CONVERT" "$WORK/palette.png" -depth 8 "rgb:$WORK/palette.rgb"

"$CONVERT" $(canvas 32) +antialias \
  -stroke '#000000' -strokewidth 1 \
  -fill '#808080' -draw 'polygon 4,16 8,12 24,12 28,16' \
  -fill '#ffff00' -draw 'polygon 4,16 8,12 3,8 0,13' -draw 'polygon 28,16 24,12 29,8 31,13' \
  -fill '#00ff00' -draw 'polygon 13,16 13,8 8,8 16,0 24,8 19,8 19,16' \
  -stroke none -fill '#008000' -draw 'rectangle 17,9 18,15' \
  -stroke '#000000' -fill '#808000' -draw 'rectangle 4,16 28,30' \
  -stroke none -fill '#ffff00' -draw 'rectangle 5,17 27,18' \
  -fill '#ffffff' -draw 'rectangle 8,21 17,27' \
  -fill '#000000' -draw 'rectangle 9,23 16,23' -draw 'rectangle 9,25 14,25' \
  -strip "PNG32:$WORK/clearway-32.png"
"$CONVERT" "$WORK/clearway-32.png" -alpha off -dither None -remap "$WORK/palette.png" -depth 8 "rgb:$WORK/clearway.rgb"
"$CONVERT" "$WORK/clearway-32.png" -alpha extract -depth 8 "gray:$WORK/clearway.alpha"
python3 "$OUT/ico4.py" 32 "$WORK/palette.rgb" "$WORK/clearway.rgb" "$WORK/clearway.alpha" "$OUT/clearway.ico"

# Fail here, not in the resource compiler, if a format came out wrong.
check_ico() { # file, expected "WxH:bits" per image
  local f=$1; shift
  python3 - "$f" "$@" <<'PY'
import struct, sys
path, want = sys.argv[1], sys.argv[2:]
data = open(path, 'rb').read()
reserved, kind, count = struct.unpack_from('<HHH', data, 0)
if (reserved, kind) != (0, 1):
    sys.exit(f'{path}: not an icon file')
got = []
for i in range(count):
    w, h, colours, _, planes, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
    # The image's own header is authoritative for the depth.
    hdr_bits = struct.unpack_from('<H', data, offset + 14)[0]
    got.append(f'{w or 256}x{h or 256}:{hdr_bits}')
if sorted(got) != sorted(want):
    sys.exit(f'{path}: images {got}, expected {want}')
PY
}
check_ico "$OUT/tunerpad.ico" 16x16:32 32x32:32
check_ico "$OUT/shutdown.ico" 16x16:32 32x32:32
check_ico "$OUT/clearway.ico" 32x32:4
echo "make-icons: wrote tunerpad.ico shutdown.ico clearway.ico in $OUT"
