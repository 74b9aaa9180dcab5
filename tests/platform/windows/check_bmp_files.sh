#!/usr/bin/env bash
# The independent reader for the Windows suite, run after it in its working directory:
# ImageMagick must read the BMP of the suite's native scan (kept as scan-native-kept.bmp) as the 850x1100 chart, at the
# scanner's default 100 dpi (3937 pixels per metre, which ImageMagick gives per centimetre).
set -euo pipefail
f=${1:-scan-native-kept.bmp}
[ "$(convert "$f" -format '%w %h' info:)" = "850 1100" ] || { echo "$f: wrong size" >&2; exit 1; }
res=$(identify -format '%[fx:int(resolution.x*2.54+.5)] %[fx:int(resolution.y*2.54+.5)] %U' "$f")
[ "$res" = "100 100 PixelsPerCentimeter" ] || { echo "$f: resolution '$res' (dpi)" >&2; exit 1; }
bars=(255,255,255 255,255,0 0,255,255 0,255,0 255,0,255 255,0,0 0,0,255 0,0,0)
for k in 0 1 2 3 4 5 6 7; do
  x=$(( (2 * k + 1) * 10625 / 200 ))
  got=$(convert "$f" -format "%[fx:int(255*p{$x,275}.r+.5)],%[fx:int(255*p{$x,275}.g+.5)],%[fx:int(255*p{$x,275}.b+.5)]" info:)
  [ "$got" = "${bars[$k]}" ] || { echo "$f: bar $k is $got" >&2; exit 1; }
done
for x in 0 100 425 700 849; do
  want=$(( 256 * (2 * x + 1) / 1700 )); [ $want -gt 255 ] && want=255
  got=$(convert "$f" -format "%[fx:int(255*p{$x,825}.r+.5)]" info:)
  [ "$got" = "$want" ] || { echo "$f: ramp at $x is $got, not $want" >&2; exit 1; }
done
echo "$f: 850x1100 at 100 dpi, chart colours as expected"
