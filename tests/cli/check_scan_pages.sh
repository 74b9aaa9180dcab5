#!/usr/bin/env bash
# Twain.ScanPages end to end through tools/velmar-host, for the Mac build and the Windows build
# (under Wine), against the virtual scanner's feeder (`pages N`): batches of 1, 3 and 40 pages,
# every page compared pixel by pixel (ImageMagick) with what the scanner makes of it; a page
# limit above the feeder; a file-transfer batch (PNG written by the scanner); a paper jam at
# page 3; and the next call after each. One line per check and a closing count.
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

# expected_pages REFERENCE N: expected-0001.png to expected-N.png, the pages of one enable as
# the virtual scanner marks them at 100 dpi: page k carries k - 1 in binary as black squares
# (bit b: x from 0.25 to 0.5 inch, y from 0.25 + 0.3125 b inch, 0.25 inch high; a pixel is
# black when its centre lies inside), page 1 none: it is the page of a single scan.
expected_pages() {
  local reference="$1" n="$2" k b draw
  for k in $(seq 1 "$n"); do
    draw=""
    for b in $(seq 0 14); do
      (((k - 1) >> b & 1)) || continue
      # In quarter pixels: the first row whose centre reaches 0.25 + 0.3125 b inch, and the
      # first that reaches 0.5 + 0.3125 b inch.
      draw="$draw rectangle 25,$(((98 + 125 * b + 3) / 4)) 49,$(((198 + 125 * b + 3) / 4 - 1))"
    done
    if [ -n "$draw" ]; then
      convert "$reference" -fill black -draw "$draw" "$(printf 'expected-%04d.png' "$k")"
    else
      cp "$reference" "$(printf 'expected-%04d.png' "$k")"
    fi
  done
}

# marked_pages NAME STEM EXT LAST: STEM-0001.EXT to STEM-LAST.EXT are the marked pages of one
# enable, and STEM-(LAST+1).EXT was not written.
marked_pages() {
  local name="$1" stem="$2" ext="$3" last="$4" k
  for k in $(seq 1 "$last"); do
    same_pixels "$name: page $k" "$(printf '%s-%04d.%s' "$stem" "$k" "$ext")" "$(printf 'expected-%04d.png' "$k")"
  done
  k="$(printf '%s-%04d.%s' "$stem" $((last + 1)) "$ext")"
  if [ -e "$k" ]; then fail "$name: nothing after page $last" "$k exists"; else pass "$name: nothing after page $last"; fi
}

for build in $checked_builds; do
  if [ "$build" = macos ]; then ext=pict; else ext=bmp; fi
  rm -f "$scratch"/*.pict "$scratch"/*.bmp "$scratch"/*.png

  # A feeder of 40 pages at every enable: one page, three, then all of them.
  run "$build" --scanner-control 'pages 40' 'Twain.Connect()' "Twain.ScanToFile(\"reference.$ext\")" \
    "Twain.ScanPages(\"one.$ext\", \$n, 0, 1, 1)" "Twain.ScanPages(\"three.$ext\", \$n, 0, 1, 3)" \
    "Twain.ScanPages(\"forty.$ext\", \$n)" "Twain.ScanPages(\"png.png\", \$n, 0, 7, 3)" 'Twain.Disconnect()'
  expect "$build: batches of 1, 3 and 40 pages and a PNG batch answer 0 with their counts" \
    "Twain.ScanToFile(\"reference.$ext\") -> 0" \
    "Twain.ScanPages(\"one.$ext\", \$n, 0, 1, 1) -> 0" '  $n = 1' \
    "Twain.ScanPages(\"three.$ext\", \$n, 0, 1, 3) -> 0" '  $n = 3' \
    "Twain.ScanPages(\"forty.$ext\", \$n) -> 0" '  $n = 40' \
    "Twain.ScanPages(\"png.png\", \$n, 0, 7, 3) -> 0" '  $n = 3' 'Twain.Disconnect() -> 0'
  convert "reference.$ext" -alpha off -type TrueColor -depth 8 reference.png
  expected_pages reference.png 40
  same_pixels "$build: a batch of one page, under the name as it stands" "one.$ext" reference.png
  marked_pages "$build: 3 pages" three "$ext" 3
  marked_pages "$build: 40 pages" forty "$ext" 40
  marked_pages "$build: PNG pages the scanner wrote" png png 3

  # A limit above what the feeder holds: the feeder's pages, and the next call works.
  rm -f more-*
  run "$build" --scanner-control 'pages 2' 'Twain.Connect()' "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10)" \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10)"
  if [ "$build" = macos ]; then again='7' count='  $n = 0'; else again='0' count='  $n = 2'; fi
  expect "$build: a limit of 10 with 2 pages in the feeder gives 2 pages; again: $again" \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10) -> 0" '  $n = 2' \
    "Twain.ScanPages(\"more.$ext\", \$n, 0, 1, 10) -> $again" "$count"
  marked_pages "$build: a limit above the feeder" more "$ext" 2

  # A jam at page 3 of 5: two pages written and counted, the jam's code (3000 + TWCC_PAPERJAM),
  # and the next call takes a full feeder again.
  rm -f jam-* next-*
  run "$build" --scanner-control 'pages 5' --scanner-control 'jam-at 3' 'Twain.Connect()' \
    "Twain.ScanPages(\"jam.$ext\", \$n)" "Twain.ScanPages(\"next.$ext\", \$n)"
  expect "$build: a jam at page 3 answers 3020 with 2 pages; the next call 0 with 5" \
    "Twain.ScanPages(\"jam.$ext\", \$n) -> 3020" '  $n = 2' "Twain.ScanPages(\"next.$ext\", \$n) -> 0" '  $n = 5'
  marked_pages "$build: the pages before the jam" jam "$ext" 2
  marked_pages "$build: the batch after the jam" next "$ext" 5
done

summary
