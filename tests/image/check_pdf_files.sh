#!/usr/bin/env bash
# The independent reader of the PDFs the extension writes, run after a suite in its working
# directory over DIR/manifest.txt (DIR: pdf-files, scan-pdf). Lines:
#   pdf FILE PAGES                    qpdf --check passes; pdfinfo counts PAGES
#   page FILE N WIDTH HEIGHT          page N is WIDTH x HEIGHT points (pdfinfo, to 0.01)
#   image FILE N ENC BITS COLOUR XPPI YPPI REF KIND
#                                     page N's image as pdfimages -list gives it (encoding
#                                     "image" for Flate or "jpeg", bits a component, gray or
#                                     rgb, resolution); extracted, it has REF's pixels: exactly
#                                     (KIND exact), or within a root mean square error of 4 %
#                                     of full scale (KIND jpeg)
#   stream FILE N JPEG                page N's image is the JPEG stream JPEG byte for byte
#   absent FILE                       there is no such file
set -uo pipefail
dir=${1:-pdf-files}
manifest="$dir/manifest.txt"
[ -s "$manifest" ] || { echo "$manifest: missing or empty" >&2; exit 1; }
jpeg_tolerance=0.04
failures=0
checked=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; failures=$((failures + 1)); }

# pdfimages -list's line for the image of page n (one image a page).
image_line() { pdfimages -f "$2" -l "$2" -list "$1" 2>/dev/null | awk 'NR > 2 { print; exit }'; }

while read -r what file a b c d e f g h; do
  path="$dir/$file"
  checked=$((checked + 1))
  if [ "$what" = absent ]; then
    [ ! -e "$path" ] || fail "$file: exists"
    continue
  fi
  [ -f "$path" ] || { fail "$file: no file"; continue; }
  case "$what" in
    pdf)
      qpdf --check "$path" >"$scratch/qpdf" 2>&1 || fail "$file: qpdf --check: $(tail -3 "$scratch/qpdf")"
      grep -q "No syntax or stream encoding errors" "$scratch/qpdf" || fail "$file: qpdf finds errors: $(tail -3 "$scratch/qpdf")"
      n=$(pdfinfo "$path" 2>/dev/null | awk '/^Pages:/ { print $2 }')
      [ "$n" = "$a" ] || fail "$file: ${n:-no} pages, not $a"
      producer=$(pdfinfo "$path" 2>/dev/null | sed -n 's/^Producer: *//p')
      [ "$producer" = "Kardivelle 1.2" ] || fail "$file: producer '$producer'"
      grep -q '^CreationDate: ' <<<"$(pdfinfo "$path" 2>/dev/null)" || fail "$file: no creation date" ;;
    page)
      size=$(pdfinfo -f "$a" -l "$a" "$path" 2>/dev/null | sed -n "s/^Page *$a size: *\([0-9.]*\) x \([0-9.]*\) pts.*/\1 \2/p")
      awk -v s="$size" -v w="$b" -v h="$c" 'BEGIN { split(s, v, " "); d1 = v[1] - w; d2 = v[2] - h
        exit !(s != "" && d1 < 0.011 && d1 > -0.011 && d2 < 0.011 && d2 > -0.011) }' ||
        fail "$file: page $a is '${size}' points, not $b x $c" ;;
    image)
      enc=$b bits=$c colour=$d xppi=$e yppi=$f ref="$dir/$g" kind=$h
      read -r _ _ _ _ _ lcolour _ lbits lenc _ _ _ lx ly _ < <(image_line "$path" "$a")
      [ "$lenc $lbits $lcolour $lx $ly" = "$enc $bits $colour $xppi $yppi" ] ||
        fail "$file: page $a's image is '$lenc $lbits $lcolour $lx $ly', not '$enc $bits $colour $xppi $yppi'"
      rm -f "$scratch"/img-*
      pdfimages -png -f "$a" -l "$a" "$path" "$scratch/img" 2>/dev/null
      extracted=$(ls "$scratch"/img-* 2>/dev/null | head -1)
      [ -n "$extracted" ] || { fail "$file: page $a: no image extracted"; continue; }
      if [ "$kind" = jpeg ]; then
        err=$(compare -metric RMSE "$extracted" "$ref" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p')
        awk -v e="$err" -v t="$jpeg_tolerance" 'BEGIN { exit !(e != "" && e <= t) }' ||
          fail "$file: page $a: RMSE ${err:-?} above $jpeg_tolerance"
      else
        n=$(compare -metric AE "$extracted" "$ref" null: 2>&1)
        [ "$n" = 0 ] || fail "$file: page $a: $n pixels differ from $g"
      fi ;;
    stream)
      rm -f "$scratch"/img-*
      pdfimages -all -f "$a" -l "$a" "$path" "$scratch/img" 2>/dev/null
      cmp -s "$scratch"/img-000.jpg "$dir/$b" || fail "$file: page $a's image is not $b as it came" ;;
    *) fail "manifest: unknown line '$what $file'" ;;
  esac
done < <(tr -d '\r' <"$manifest")  # the Windows suite writes its lines with CR LF

echo "$dir: $checked checks, $failures failed"
[ "$failures" -eq 0 ]
