#!/usr/bin/env bash
# The main job (`make demo`, after the set-up and both builds): through the command-line host,
# connect each build to the virtual scanner, read what it supports, set a resolution and a
# pixel type, scan, and turn every page into PNG with ImageMagick.
#   Mac build:     a native scan written as PICT, a file transfer in PNG, a picture field
#   Windows build: a native scan written as BMP, a file transfer in TIFF, a picture field;
#                  the same on the 64-bit Windows build; then one scan on each through the
#                  TWAIN 2 manager, TWAINDSM.DLL
# Then the document workflow on each build: a five-page feeder with a blank sheet third,
# scanned by memory transfer into one PDF with blank pages left out, and what came out
# (pdfinfo, pdfimages -list, the page count and the pages discarded).
# Everything lands in build/demo/ (KV_DEMO_DIR replaces it).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${KV_DEMO_DIR:-build/demo}"
host=tools/velmar-host
rm -rf "$out"
mkdir -p "$out/png"

# The Mac build names files the Mac way: a partial pathname, which starts with a colon and
# goes from the working directory ("::" climbs one level, as ".." does).
macpath() {
  local rel part out=""
  rel="$(realpath -m --relative-to=. "$1")"
  IFS=/ read -ra parts <<<"$rel"
  for part in "${parts[@]}"; do
    [ "$part" = ".." ] && part=""
    out+=":$part"
  done
  printf '%s' "$out"
}

run() {
  echo "\$ $host $*"
  "$host" "$@"
  echo
}

echo "== Mac build (build/macos/Kardivelle.bundle)"
run --build macos 'Twain.About()' 'Twain.Connect()' \
  'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps)' \
  'Twain.GetSourceCapRange("XRESOLUTION", $resolutions, "PIXELTYPE", $types)' \
  'Twain.SetSourceCapability("XRESOLUTION", 150, "YRESOLUTION", 150, "PIXELTYPE", 2)' \
  'Twain.GetSourceCapability("XRESOLUTION", $x, "PIXELTYPE", $type)' \
  "Twain.ScanToFile(\"$(macpath "$out/page-mac.pict")\")" \
  'Twain.SetSourceCapability("XRESOLUTION", 75, "YRESOLUTION", 75, "PIXELTYPE", 0)' \
  "Twain.ScanToFile(\"$(macpath "$out/page-mac-file.png")\", 0, 7)" \
  'Twain.ScanToField($page:picture)' \
  'Twain.Disconnect()'

# The same calls on each Windows build; $2 names its files.
windows_calls() {
  local build=$1 name=$2
  run --build "$build" 'Twain.About()' 'Twain.Connect()' \
    'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps)' \
    'Twain.GetSourceCapRange("XRESOLUTION", $resolutions, "PIXELTYPE", $types)' \
    'Twain.SetSourceCapability("XRESOLUTION", 100, "YRESOLUTION", 100, "PIXELTYPE", 1)' \
    'Twain.GetSourceCapability("XRESOLUTION", $x, "PIXELTYPE", $type)' \
    "Twain.ScanToFile(\"$out/page-$name.bmp\")" \
    'Twain.SetSourceCapability("XRESOLUTION", 75, "YRESOLUTION", 75, "PIXELTYPE", 2)' \
    "Twain.ScanToFile(\"$out/page-$name-file.tif\", 0, 0)" \
    'Twain.ScanToField($page:picture)' \
    'Twain.Disconnect()'
}
echo "== Windows build (build/windows/Kardivelle.dll, under Wine)"
windows_calls windows win
echo "== Windows 64-bit build (build/windows64/Kardivelle.dll, under Wine's 64-bit loader)"
windows_calls windows64 win64

# One scan through the TWAIN 2 manager (TWAINDSM.DLL of the prefix's system folder) on each
# Windows build, whatever its default manager.
twaindsm_scan() {
  local build=$1 name=$2
  run --build "$build" 'Twain.SetOption("DSM", "TWAINDSM")' 'Twain.Connect()' \
    'Twain.GetOption("DSM", $dsm, "DSMINUSE", $inUse)' \
    "Twain.ScanToFile(\"$out/page-$name-twaindsm.bmp\")" \
    'Twain.Disconnect()'
}
echo "== TWAIN 2: a scan through TWAINDSM.DLL on each Windows build"
twaindsm_scan windows win
twaindsm_scan windows64 win64

# A feeder of five pages, the third a blank sheet, into one PDF by memory transfer.
document() {
  local build=$1 name=$2
  run --build "$build" --scanner-control 'pages 5' --scanner-control 'blank-at 3' 'Twain.Connect()' \
    'Twain.SetSourceCapability("XRESOLUTION", 150, "YRESOLUTION", 150, "PIXELTYPE", 2)' \
    'Twain.SetOption("TRANSFER", "MEMORY", "BLANKPAGES", "DISCARD")' \
    "Twain.ScanPages(\"$name\", \$pages, 0, 10)" \
    'Twain.GetOption("DISCARDED", $discarded)' \
    'Twain.Disconnect()'
}

status=0
echo "== Documents: five sheets, the third blank, into one PDF"
document macos "$(macpath "$out/document-mac.pdf")"
document windows "$out/document-win.pdf"
document windows64 "$out/document-win64.pdf"
for f in "$out"/document-*.pdf; do
  [ -f "$f" ] || continue
  echo "\$ pdfinfo $f"
  pdfinfo "$f" | grep -E '^(Producer|Pages|Page size|PDF version)'
  echo "\$ pdfimages -list $f"
  pdfimages -list "$f"
  qpdf --check "$f" >/dev/null || { echo "  qpdf finds $f damaged" >&2; status=1; }
  [ "$(pdfinfo "$f" | awk '/^Pages:/ { print $2 }')" = 4 ] || { echo "  $f does not hold the 4 written pages" >&2; status=1; }
  echo
done

echo "== Pages"
for f in "$out"/page-*; do
  [ -f "$f" ] || continue
  name="$(basename "$f")"
  png="$out/png/${name%.*}.png"
  if /usr/bin/convert "$f" "$png"; then
    printf '  %-28s %9d bytes  ->  %s: %s\n' "$f" "$(stat -c %s "$f")" "$png" "$(file -b "$png")"
  else
    printf '  %-28s could not be converted\n' "$f"
    status=1
  fi
done
for expected in page-mac.pict page-mac-file.png page-win.bmp page-win-file.tif page-win64.bmp page-win64-file.tif \
  page-win-twaindsm.bmp page-win64-twaindsm.bmp document-mac.pdf document-win.pdf document-win64.pdf; do
  if [ ! -f "$out/$expected" ]; then
    echo "  $out/$expected is missing" >&2
    status=1
  fi
done
exit "$status"
