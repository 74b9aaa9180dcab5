#!/usr/bin/env bash
# A 1200 dpi colour legal page (10200 x 16800 pixels, 514 MB of pixels) by native transfer
# into a PNG and into a PDF (its images lossless), through tools/velmar-host, for each Windows
# build in KV_BUILDS.
# The 64-bit build answers 0 and writes the page whole: its pixels, read by ImageMagick (from
# the PNG) and by pdfimages (from the PDF), are the scanner's page exactly. The 32-bit build
# may lack the address space for a page this size: it answers 0 with the same page, or 2 with
# no file left behind; either way the next scan works. One line per check, a count at the end.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
host="$repo/tools/velmar-host"
source "$repo/tests/support/checks.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# ImageMagick's system policy stops at 16,000 pixels a side and 128 megapixels; this page is
# larger on both counts.
mkdir magick
cat >magick/policy.xml <<'EOF'
<policymap>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="disk" value="8GiB"/>
</policymap>
EOF
export MAGICK_CONFIGURE_PATH="$scratch/magick"

width=10200 height=16800
# The scanner's page at 1200 dpi on a legal glass, as 8-bit RGB: the eight colour bars over
# the top half of the letter page (rows whose centre lies above 5.5 inches), the grey ramp over
# its bottom half (column i: 256 (i + 1/2) / 10200 rounded down), the white lid below 11 inches.
awk -v w=$width 'BEGIN { printf "P2\n%d 1\n255\n", w; for (i = 0; i < w; i++) print int(256 * (2 * i + 1) / (2 * w)) }' >ramp.pgm
convert \( xc:'#ffffff' xc:'#ffff00' xc:'#00ffff' xc:'#00ff00' xc:'#ff00ff' xc:'#ff0000' xc:'#0000ff' xc:'#000000' \
  +append -sample ${width}x6600! \) \( ramp.pgm -sample ${width}x6600! \) \( -size ${width}x3600 xc:white \) \
  -append -colorspace sRGB -type TrueColor -depth 8 rgb:expected.rgb || fail "the expected page is made" "convert failed"

# same_page NAME FILE: FILE, read by ImageMagick, holds the expected page's pixels exactly.
same_page() {
  local name="$1" file="$2" size
  size="$(identify -format '%wx%h' "$file" 2>&1 | head -1)"
  if [ "$size" != "${width}x${height}" ]; then
    fail "$name" "$file is '$size', not ${width}x${height}"
    return
  fi
  convert "$file" -alpha off -colorspace sRGB -type TrueColor -depth 8 rgb:actual.rgb 2>convert.err
  if cmp -s actual.rgb expected.rgb; then
    pass "$name ($size)"
  else
    fail "$name" "$(cat convert.err; cmp actual.rgb expected.rgb 2>&1 | head -1)"
  fi
  rm -f actual.rgb
}

settings='Twain.SetSourceCapability("PIXELTYPE", 2, "XRESOLUTION", 1200, "YRESOLUTION", 1200, "FRAMES", "0,0,8.5,14")'
for build in $checked_builds; do
  [ "$build" = macos ] && continue  # a Mac picture is at most 4095 pixels wide: no native page this size
  rm -f legal.png legal.pdf small.png
  out="$("$host" --build "$build" 'Twain.SetOption("TRANSFER", "NATIVE", "PDFIMAGES", "LOSSLESS")' 'Twain.Connect()' \
    "$settings" 'Twain.ScanPages("legal.png", $n, 0, 7, 1)' \
    "$settings" 'Twain.ScanPages("legal.pdf", $m, 0, 10, 1)' \
    'Twain.ScanPages("small.png", $k, 0, 7, 1)' 2>"$scratch/stderr")"
  status=$?
  [ "$status" -eq 0 ] || fail "$build: velmar-host exits 0" "exit $status: $(cat "$scratch/stderr")"
  for kind in png pdf; do
    var='$n'
    call="Twain.ScanPages(\"legal.png\", \$n, 0, 7, 1)"
    if [ $kind = pdf ]; then var='$m' call="Twain.ScanPages(\"legal.pdf\", \$m, 0, 10, 1)"; fi
    answer="$(grep -F -x -A1 -- "$call -> 0" <<<"$out")"
    if [ -n "$answer" ]; then
      expect "$build: the legal page into $kind answers 0, one page" "$call -> 0" "  $var = 1"
      if [ $kind = png ]; then
        same_page "$build: the PNG holds the page (ImageMagick)" legal.png
      else
        qpdf --check legal.pdf >/dev/null 2>&1 || fail "$build: qpdf --check passes on the PDF" "$(qpdf --check legal.pdf 2>&1 | tail -3)"
        list="$(pdfimages -list legal.pdf 2>&1 | awk 'NR == 3 { print $4, $5, $6, $9, $13, $14 }')"
        if [ "$list" = "$width $height rgb image 1200 1200" ]; then pass "$build: the PDF's image (pdfimages -list: $list)"
        else fail "$build: the PDF's image" "pdfimages -list: $list"; fi
        pdfimages -png legal.pdf extracted 2>/dev/null
        same_page "$build: the PDF holds the page (pdfimages, then ImageMagick)" extracted-000.png
        rm -f extracted-*
      fi
    elif [ "$build" = windows ]; then
      expect "$build: the legal page into $kind answers 2 where the address space is too small" "$call -> 2"
      if [ -e legal.$kind ]; then fail "$build: no $kind is left after 2" "legal.$kind exists"; else pass "$build: no $kind is left after 2"; fi
    else
      fail "$build: the legal page into $kind answers 0" "output was:"$'\n'"$out"
    fi
  done
  expect "$build: the next scan works" 'Twain.ScanPages("small.png", $k, 0, 7, 1) -> 0' '  $k = 1'
done
summary
