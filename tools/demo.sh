#!/usr/bin/env bash
# The main job: through the command-line host, connect each build to the virtual scanner,
# read what it supports, set a resolution and a pixel type, scan, and turn every page into PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
out=demo-output
rm -rf "$out"; mkdir -p "$out"
host=tools/velmar-host

run() {
  echo "\$ $host $*"
  "$host" "$@"
  echo
}

run --build macos 'Twain.About()' 'Twain.Connect()' \
  'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps)' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r)' \
  'Twain.SetSourceCapability("XRESOLUTION", 150, "YRESOLUTION", 150, "PIXELTYPE", 2)' \
  "Twain.ScanToFile(\"$out/page-mac.pict\")" \
  "Twain.ScanToFile(\"$out/page-mac-file.png\", 0, 7)" \
  'Twain.Disconnect()'

run --build windows 'Twain.About()' 'Twain.Connect()' \
  'Twain.GetSourceCapRange("SUPPORTEDCAPS", $caps)' \
  'Twain.SetSourceCapability("XRESOLUTION", 100, "PIXELTYPE", 1)' \
  "Twain.ScanToFile(\"$out/page-win.bmp\")" \
  "Twain.ScanToFile(\"$out/page-win-file.tif\", 0, 0)" \
  'Twain.Disconnect()'

for f in "$out"/*; do
  case "$f" in *.png) continue ;; esac
  [ -f "$f" ] || continue
  /usr/bin/convert "$f" "${f%.*}.png"
done
echo "Pages, converted to PNG by ImageMagick:"
for f in "$out"/*.png; do
  [ -f "$f" ] && printf '  %s  %s\n' "$f" "$(/usr/bin/identify -format '%wx%h %[type]' "$f")"
done
