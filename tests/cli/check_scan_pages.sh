#!/usr/bin/env bash
# Twain.ScanPages end to end through tools/velmar-host, for the Mac build and the Windows build
# (under Wine), against the virtual scanner's feeder: batches of 1, 3 and 40 pages, every page
# compared pixel by pixel (ImageMagick) with the page of a single Twain.ScanToFile; a page limit
# above the feeder; a file-transfer batch (PNG written by the scanner); and the next call after
# each. One line per check and a closing count.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
host="$repo/tools/velmar-host"
source "$repo/tests/support/checks.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# run BUILD [OPTIONS] CALL...: the output in $out.
run() {
  local build="$1" status
  shift
  out="$("$host" --build "$build" "$@" 2>"$scratch/stderr")"
  status=$?
  [ "$status" -eq 0 ] || fail "$build: velmar-host exits 0" "exit $status: $(cat "$scratch/stderr")"
}

for build in macos windows; do
  if [ "$build" = macos ]; then ext=pict; else ext=bmp; fi
  rm -f "$scratch"/*.pict "$scratch"/*.bmp "$scratch"/*.png

  # A feeder of 40 pages at every enable: one page, three, then all of them.
  run "$build" --scanner-control 'pending 40' 'Twain.Connect()' "Twain.ScanToFile(\"reference.$ext\")" \
    "Twain.ScanPages(\"one.$ext\", \$n, 0, 1, 1)" "Twain.ScanPages(\"three.$ext\", \$n, 0, 1, 3)" \
    "Twain.ScanPages(\"forty.$ext\", \$n)" "Twain.ScanPages(\"png.png\", \$n, 0, 7, 3)" 'Twain.Disconnect()'
  expect "$build: batches of 1, 3 and 40 pages and a PNG batch answer 0 with their counts" \
    "Twain.ScanToFile(\"reference.$ext\") -> 0" \
    "Twain.ScanPages(\"one.$ext\", \$n, 0, 1, 1) -> 0" '  $n = 1' \
    "Twain.ScanPages(\"three.$ext\", \$n, 0, 1, 3) -> 0" '  $n = 3' \
    "Twain.ScanPages(\"forty.$ext\", \$n) -> 0" '  $n = 40' \
    "Twain.ScanPages(\"png.png\", \$n, 0, 7, 3) -> 0" '  $n = 3' 'Twain.Disconnect() -> 0'
  convert "reference.$ext" -alpha off -type TrueColor -depth 8 reference.png
  same_pixels "$build: a batch of one page, under the name as it stands" "one.$ext" reference.png
  same_pixels_pages "$build: 3 pages" three "$ext" 3 reference.png
  same_pixels_pages "$build: 40 pages" forty "$ext" 40 reference.png
  same_pixels_pages "$build: PNG pages the scanner wrote" png png 3 reference.png

  # A limit above what the feeder holds: the feeder's pages, and the next call works.
  rm -f more-*
  run "$build" --scanner-control 'pending 2' 'Twain.Connect()' "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10)" \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10)"
  if [ "$build" = macos ]; then again='7' count='  $n = 0'; else again='0' count='  $n = 2'; fi
  expect "$build: a limit of 10 with 2 pages in the feeder gives 2 pages; again: $again" \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10) -> 0" '  $n = 2' \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10) -> $again" "$count"
  same_pixels_pages "$build: a limit above the feeder" more "$ext" 2 reference.png
done

summary
