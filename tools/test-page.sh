#!/usr/bin/env bash
# Writes the test page that real sources scan: 400 x 600 pixels at 200 dpi (2 x 3 inches),
# as an uncompressed 24-bit BMP (BMP3, bottom-up rows, 40-byte header).
#   tools/test-page.sh OUT.bmp
# Top third: eight colour bars of 50 pixels, white to black. Middle third: sixteen grey steps
# of 25 pixels, 0 to 255 in steps of 17 (none at 128, where black and white divides). Bottom
# third: fine detail of pixels whose channels are 0 or 255: a one-pixel checkerboard on the
# left; on the right, red in stripes of one pixel, green of two, both across, blue of three,
# upright. A 10 x 10 red square in the top left corner of the white bar shows which way up
# the page is.
set -euo pipefail
if [ $# -ne 1 ]; then echo "usage: $0 OUT.bmp" >&2; exit 2; fi
draw=()
x=0
for colour in '#ffffff' '#ffff00' '#00ffff' '#00ff00' '#ff00ff' '#ff0000' '#0000ff' '#000000'; do
  draw+=(-fill "$colour" -draw "rectangle $x,0 $((x + 49)),199")
  x=$((x + 50))
done
for i in $(seq 0 15); do
  v=$((i * 17))
  draw+=(-fill "rgb($v,$v,$v)" -draw "rectangle $((i * 25)),200 $((i * 25 + 24)),399")
done
convert -size 400x600 xc:black "${draw[@]}" -fill '#ff0000' -draw 'rectangle 0,0 9,9' \
  \( -size 200x200 pattern:gray50 \) -geometry +0+400 -composite \
  \( -size 200x200 xc:black -channel R -fx 'j%2' -channel G -fx 'floor(j/2)%2' \
     -channel B -fx 'floor(i/3)%2' +channel \) -geometry +200+400 -composite \
  -alpha off -type TrueColor -depth 8 -density 200 -units PixelsPerInch "BMP3:$1"
