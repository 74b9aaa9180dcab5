#!/usr/bin/env bash
# The independent reader of the page writers' files, run after the suite in its working
# directory: every file of image-files/manifest.txt is read by ImageMagick and compared with
# its reference pixel by pixel (JPEG: a root mean square error of at most 4% of full scale,
# against the grey or colour of the page), with its bits a pixel, its resolution and its
# TIFF compression checked; tiffinfo counts the pages of multi-page TIFFs. Every TIFF page is
# also decoded by libtiff (tiffinfo -D, tiff2rgba) and compared: black-and-white and grey
# pages read back exactly by both. A palette TIFF is compared as libtiff reads it only: a
# colour map stored as value x 256 (white 0xFF00) is 255 to libtiff and 254 to ImageMagick.
set -uo pipefail
dir=${1:-image-files}
manifest="$dir/manifest.txt"
[ -s "$manifest" ] || { echo "$manifest: missing or empty" >&2; exit 1; }
jpeg_tolerance=0.04
failures=0
scratch=$(mktemp -d)
fail() { echo "$*" >&2; failures=$((failures + 1)); }

# Field `name` of TIFF directory n.
tiff_field() { tiffinfo "$1" 2>/dev/null | awk -v n="$2" -v k="$3" '/^TIFF Directory/ { d++ } d == n + 1 && index($0, k) { sub(/.*: */, ""); print; exit }'; }
page_of() { local p=${1##*\[}; [ "$p" = "$1" ] && echo 0 || echo "${p%\]}"; }

# Bits a pixel as the file stores them.
bits_of() {
  local f=$1 base=${1%%\[*}
  case "$base" in
    *.tif)
      local n; n=$(page_of "$f")
      echo $(( $(tiff_field "$base" "$n" "Bits/Sample:") * $(tiff_field "$base" "$n" "Samples/Pixel:") )) ;;
    *.png)
      local d t
      read -r d t < <(identify -format '%[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig]\n' "$f" 2>/dev/null | head -1)
      case "$t" in 0|3) echo "$d" ;; 2) echo $((d * 3)) ;; *) echo "type$t" ;; esac ;;
    *.bmp) od -An -tu2 -j28 -N2 "$base" | tr -d ' ' ;;
    *)
      local z c
      read -r z c < <(identify -format '%z %[colorspace]\n' "$f" 2>/dev/null | head -1)
      case "$c" in Gray) echo "$z" ;; sRGB|RGB) echo $((z * 3)) ;; *) echo "$c" ;; esac ;;
  esac
}

while read -r what file a b c d e f; do
  path="$dir/$file"
  base="$dir/${file%%\[*}"
  [ -f "$base" ] || { fail "$file: no file"; continue; }
  if [ "$what" = pages ]; then
    n=$(tiffinfo "$base" 2>/dev/null | grep -c '^TIFF Directory')
    [ "$n" = "$a" ] || fail "$file: $n pages, not $a"
    continue
  fi
  ref="$dir/$a" kind=$b bits=$c xdpi=$d ydpi=$e compression=$f
  if [ "$kind" = jpeg ]; then
    err=$(compare -metric RMSE "$path" "$ref" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p')
    awk -v e="$err" -v t="$jpeg_tolerance" 'BEGIN { exit !(e != "" && e <= t) }' || fail "$file: RMSE ${err:-?} above $jpeg_tolerance"
  else
    # Every TIFF page is read by libtiff too: its own decoder (tiff2rgba) gives the pixels
    # that ImageMagick then only compares.
    if [[ "$base" == *.tif ]]; then
      by_libtiff="$scratch/page.tif"
      rm -f "$scratch/one.tif" "$by_libtiff"
      if tiffcp "$base,$(page_of "$file")" "$scratch/one.tif" 2>/dev/null && tiffinfo -D "$scratch/one.tif" >/dev/null 2>&1 &&
         tiff2rgba "$scratch/one.tif" "$by_libtiff" 2>/dev/null; then
        ae=$(compare -metric AE -alpha off "$by_libtiff" "$ref" null: 2>&1)
        [ "$ae" = 0 ] || fail "$file: $ae pixels read by libtiff differ from $a"
      else
        fail "$file: libtiff cannot read it"
      fi
    fi
    # ImageMagick's own reading, except of a palette TIFF, whose colour map it reads as 254.
    if ! { [[ "$base" == *.tif ]] && [[ "$(tiff_field "$base" "$(page_of "$file")" Photometric)" == palette* ]]; }; then
      ae=$(compare -metric AE -alpha off "$path" "$ref" null: 2>&1)
      [ "$ae" = 0 ] || fail "$file: $ae pixels differ from $a"
    fi
  fi
  [ "$kind" = pict ] && continue  # ImageMagick gives every PICT 72 dpi and 32-bit pixels
  got=$(bits_of "$path")
  [ "$got" = "$bits" ] || fail "$file: $got bits a pixel, not $bits"
  res=$(convert "$path" -units PixelsPerInch -format '%[fx:round(resolution.x)] %[fx:round(resolution.y)]' info: 2>/dev/null)
  [ "$res" = "$(printf '%.0f %.0f' "$xdpi" "$ydpi")" ] || fail "$file: resolution $res, not $xdpi $ydpi"
  if [ "$compression" != - ]; then
    got=$(identify -format '%C\n' "$path" | head -1)
    [ "$got" = "$compression" ] || fail "$file: compression $got, not $compression"
  fi
done < <(tr -d '\r' < "$manifest")
rm -rf "$scratch"

checked=$(wc -l < "$manifest")
if [ $failures -gt 0 ]; then
  echo "page files: $failures of $checked checks failed" >&2
  exit 1
fi
echo "page files: $checked checks passed"
