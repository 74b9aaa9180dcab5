#!/usr/bin/env bash
# A disk that fills while a page is written, on both builds through tools/velmar-host: a
# small file system of its own (tmpfs in a private mount namespace, so only this process tree
# sees it), nearly filled. The extension's own writers and a source's file transfer fail
# without leaving a file behind (ImageIO's without printing a word), and the same calls work
# once there is room.
# One line per check, then the counts; 77 (skipped, with one line saying why) without root.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
builds="${KV_BUILD_DIR:-$repo/build}"
# The Windows build checked: the 32-bit one, or the 64-bit one in its tree (KV_BUILDS).
prefix="$builds/windows/wineprefix"
[ "${KV_BUILDS:-}" = windows64 ] && prefix="$builds/windows64/wineprefix"
skip() {
  echo "skipped: $*"
  exit 77
}

if [ -z "${KV_FULL_DISK_NAMESPACE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "a file system of its own needs root (unshare -m, mount -t tmpfs)"
  command -v unshare >/dev/null || skip "unshare is not installed"
  # Wine opens files in its server: one started outside the namespace would not see the
  # small file system, so the prefix's server is waited for and this run starts its own.
  WINEPREFIX="$prefix" wineserver -w 2>/dev/null
  KV_FULL_DISK_NAMESPACE=1 exec unshare -m bash "$0" "$@"
fi

# In the private mount namespace from here on.
disk="$(mktemp -d)"
mount -t tmpfs -o size=8m tmpfs "$disk" 2>/dev/null || skip "cannot mount a tmpfs on $disk"
trap 'cd /; WINEPREFIX="$prefix" wineserver -k 2>/dev/null; umount "$disk"; rmdir "$disk"' EXIT
cd "$disk" || exit 1
source "$repo/tests/support/checks.sh"
host="$repo/tools/velmar-host"

for build in $checked_builds; do
  if [ "$build" = macos ]; then ext=pict; else ext=bmp; fi
  rm -f ./*
  # All but 8 KB taken: too little for the page (BMP or PICT, about 3 MB) or the PNG the
  # virtual scanner writes at 300 dpi.
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s -8k filler
  out="$("$host" --build "$build" 'Twain.Connect()' 'Twain.SetSourceCapability("XRESOLUTION", 300)' \
    "Twain.ScanToFile(\"page.$ext\")" 'Twain.ScanToFile("page.png", 0, 7)' 2>&1)"
  expect "$build: the page does not fit: 8" "Twain.ScanToFile(\"page.$ext\") -> 8"
  [ ! -e "page.$ext" ] && pass "$build: no half-written page.$ext" || fail "$build: no half-written page.$ext" "$(ls -l)"
  # The virtual scanner says TWCC_OPERATIONERROR when its write fails: the file could not be
  # written, 8, never 13 ("not connected").
  expect "$build: the file transfer that does not fit: 8" 'Twain.ScanToFile("page.png", 0, 7) -> 8'

  [ ! -e page.png ] && pass "$build: no half-written page.png" || fail "$build: no half-written page.png" "$(ls -l)"
  rm -f filler
  out="$("$host" --build "$build" 'Twain.Connect()' "Twain.ScanToFile(\"page.$ext\")" 'Twain.ScanToFile("page.png", 0, 7)' 2>&1)"
  expect "$build: with room again, the same calls work" "Twain.ScanToFile(\"page.$ext\") -> 0" \
    'Twain.ScanToFile("page.png", 0, 7) -> 0'
done

# The Mac build's parts (not in the 64-bit tree's run, KV_BUILDS=windows64).
if checks_mac; then
  # The Mac build's own files of Twain.ScanPages, written through ImageIO, with 4 KB left: each
  # answers 8 and leaves nothing, and nothing is printed (ImageIO answers a failure; its codecs
  # do not print it).
  rm -f ./*
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s -4k filler
  printed="$(mktemp)"  # outside the small file system
  out="$("$host" --build macos 'Twain.Connect()' 'Twain.ScanPages("doc.png", $n, 0, 7, 1)' \
    'Twain.ScanPages("doc.tif", $n, 0, 0, 1)' 'Twain.ScanPages("book.tif", $n, 0, 6, 2)' \
    'Twain.ScanPages("doc.jpg", $n, 0, 4, 1)' 2>"$printed")"
  expect "macos: PNG, TIFF, multi-page TIFF and JPEG that do not fit: 8 each" \
    'Twain.ScanPages("doc.png", $n, 0, 7, 1) -> 8' 'Twain.ScanPages("doc.tif", $n, 0, 0, 1) -> 8' \
    'Twain.ScanPages("book.tif", $n, 0, 6, 2) -> 8' 'Twain.ScanPages("doc.jpg", $n, 0, 4, 1) -> 8'
  left="$(ls -A | grep -vx filler)"
  [ -z "$left" ] && pass "macos: no half-written file of ImageIO's" || fail "macos: no half-written file of ImageIO's" "$left"
  [ ! -s "$printed" ] && pass "macos: nothing printed on standard error" ||
    fail "macos: nothing printed on standard error" "$(cat "$printed")"
  rm -f "$printed"

  # A Mac multi-page TIFF on a disk with room for some of its pages (each page is written to a
  # file of its own beside the book, and the book's file holds room for all of them until it is
  # written once at the end): 8, the count is the pages the book holds, read back by libtiff and
  # ImageMagick, and no page file is left. The next book on the disk now nearly full does the same.
  # The room left is five times one page's file: two pages and their room fit, three do not.
  rm -f ./*
  "$host" --build macos 'Twain.Connect()' 'Twain.SetSourceCapability("PIXELTYPE", 1)' \
    'Twain.ScanPages("probe.tif", $n, 0, 6, 1)' >/dev/null 2>&1
  page_kb=$(( ($(stat -c %s probe.tif 2>/dev/null || echo 200000) + 1023) / 1024 ))
  rm -f ./*
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s "-$((5 * page_kb))k" filler
  out="$("$host" --build macos --scanner-control 'pages 5' 'Twain.Connect()' 'Twain.SetSourceCapability("PIXELTYPE", 1)' \
    'Twain.ScanPages("book.tif", $n, 0, 6)' 'Twain.ScanPages("next.tif", $n, 0, 6)' 'Twain.Disconnect()' 2>&1)"
  for book in book next; do
    counted="$(printf '%s\n' "$out" | awk -v call="Twain.ScanPages(\"$book.tif\"" 'index($0, call) == 1 { getline; print $3; exit }')"
    expect "macos: $book.tif fills the disk: 8" "Twain.ScanPages(\"$book.tif\", \$n, 0, 6) -> 8"
    if [ "$counted" = 0 ]; then
      [ ! -e "$book.tif" ] && pass "macos: no file for $book.tif without a page" || fail "macos: no file for $book.tif without a page" "$(ls -l)"
      continue
    fi
    held="$(tiffinfo "$book.tif" 2>/dev/null | grep -c '^TIFF Directory')"
    read_back="$(identify "$book.tif" 2>/dev/null | wc -l)"
    if [ -n "$counted" ] && [ "$counted" -lt 5 ] && [ "$held" = "$counted" ] && [ "$read_back" = "$counted" ] &&
       tiffinfo -D "$book.tif" >/dev/null 2>&1; then
      pass "macos: $book.tif holds exactly the $counted pages it counts"
    else
      fail "macos: $book.tif holds exactly the pages it counts" "counted '$counted', libtiff $held, ImageMagick $read_back"$'\n'"$out"
    fi
  done
  expect "macos: the host still there" 'Twain.Disconnect() -> 0'
  if ls ./*.part* >/dev/null 2>&1; then fail "macos: no page file left beside the books" "$(ls -l)"; else pass "macos: no page file left beside the books"; fi
fi

# Twain.ScanPages with one TIFF a page, which the extension writes (WIC under Wine, whose TIFF
# is uncompressed: about 0.9 MB a grey page at 100 dpi): room for the first page only. The
# second answers 8 and leaves nothing; the first stays.
rm -f ./*
dd if=/dev/zero of=filler bs=4k 2>/dev/null
truncate -s -1500k filler
out="$("$host" --build "$win_build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.SetSourceCapability("PIXELTYPE", 1)' \
  'Twain.ScanPages("doc.tif", $n, 0, 0)' 2>&1)"
expect "$win_build: the second TIFF page does not fit: 8, one page written" 'Twain.ScanPages("doc.tif", $n, 0, 0) -> 8' \
  '  $n = 1'
if [ -s doc-0001.tif ] && [ ! -e doc-0002.tif ]; then
  pass "$win_build: the first TIFF page kept, no half-written second"
else
  fail "$win_build: the first TIFF page kept, no half-written second" "$(ls -l)"
fi

# The same by memory transfer (TRANSFER MEMORY), on both builds: each page made from its
# strips (Windows: its rows kept in a spool file outside this disk), room for the first page
# only (a grey TIFF page at 100 dpi: about 46 KB with the Mac's LZW and its predictor, 0.9 MB
# uncompressed by WIC under Wine). The second answers 8 and leaves nothing; the first stays and is counted.
for build in $checked_builds; do
  if [ "$build" = macos ]; then room=72k; else room=1500k; fi
  rm -f ./*
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s "-$room" filler
  out="$("$host" --build "$build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.SetOption("TRANSFER", "MEMORY")' \
    'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanPages("mem.tif", $n, 0, 0)' 2>&1)"
  expect "$build: by memory transfer, the second TIFF page does not fit: 8, one page written" \
    'Twain.ScanPages("mem.tif", $n, 0, 0) -> 8' '  $n = 1'
  if [ -s mem-0001.tif ] && [ ! -e mem-0002.tif ]; then
    pass "$build: by memory transfer, the first page kept, no half-written second"
  else
    fail "$build: by memory transfer, the first page kept, no half-written second" "$(ls -l)"
  fi
done

# Windows, a page by memory transfer whose rows pass the spool's window (colour at 100 dpi:
# 2.8 MB of rows, the window a megabyte) while the temporary folder is full (the prefix's
# Temp folder, a small file system of its own, filled): its rows come back into memory and
# the pages are written all the same, the same pixels as by native transfer, and nothing is
# left in the temporary folder.
rm -f ./*
temp="$(sed -n 's/^"TMP"="C:\\\\\(.*\)"$/\1/p' "$prefix/user.reg" | head -1 | sed 's/\\\\/\//g')"
temp="$prefix/drive_c/${temp:-users/$(id -un)/Temp}"
mkdir -p "$temp"
full_temp="$(mktemp -d)"
if mount -t tmpfs -o size=1m tmpfs "$full_temp" && mount --bind "$full_temp" "$temp"; then
  dd if=/dev/zero of="$temp/filler" bs=4k 2>/dev/null
  out="$("$host" --build "$win_build" --scanner-control 'pages 2' 'Twain.Connect()' 'Twain.SetSourceCapability("PIXELTYPE", 2)' \
    'Twain.ScanPages("nat.png", $n, 0, 7)' 'Twain.SetOption("TRANSFER", "MEMORY")' \
    'Twain.SetSourceCapability("PIXELTYPE", 2)' 'Twain.ScanPages("spool.png", $n, 0, 7)' 2>&1)"
  expect "$win_build: temporary folder full, memory pages written from memory: 0, 2 pages" \
    'Twain.ScanPages("nat.png", $n, 0, 7) -> 0' '  $n = 2' 'Twain.ScanPages("spool.png", $n, 0, 7) -> 0' '  $n = 2'
  for k in 1 2; do
    convert "nat-000$k.png" -alpha off -type TrueColor -depth 8 "nat$k.ppm" 2>/dev/null
    same_pixels "$win_build: temporary folder full, memory page $k as the native one" "spool-000$k.png" "nat$k.ppm"
  done
  left="$(ls -A "$temp" | grep -vx filler)"
  [ -z "$left" ] && pass "$win_build: nothing left in the full temporary folder" ||
    fail "$win_build: nothing left in the full temporary folder" "$left"
  umount "$temp"
  umount "$full_temp"
else
  fail "$win_build: a full temporary folder" "cannot mount a tmpfs over $temp"
fi
rmdir "$full_temp"

# Windows replaces an older file of a page's name, but only with a page written in full: on a
# disk without room for a page, the older files stay as they were, and nothing written beside
# them is left.
rm -f ./*
for f in d-0001.bmp d-0001.png e-0001.bmp; do echo kept >"$f"; done
dd if=/dev/zero of=filler bs=4k 2>/dev/null
truncate -s -8k filler
# The PNG at 300 dpi (set again after the batch before, whose end closed the source): WIC's
# PNG of the scanner's page at 100 dpi (about 5 KB) would fit.
out="$("$host" --build "$win_build" --scanner-control 'pages 2' 'Twain.Connect()' 'Twain.ScanPages("d.bmp", $n, 0, 2)' \
  'Twain.SetSourceCapability("XRESOLUTION", 300)' 'Twain.ScanPages("d.png", $n, 0, 7)' \
  'Twain.ScanPages("e.bmp", $n, 0, 1)' 2>&1)"
expect "$win_build: no page fits: 8, no page written" 'Twain.ScanPages("d.bmp", $n, 0, 2) -> 8' '  $n = 0' \
  'Twain.ScanPages("d.png", $n, 0, 7) -> 8' '  $n = 0' 'Twain.ScanPages("e.bmp", $n, 0, 1) -> 8' '  $n = 0'
kept=""
for f in d-0001.bmp d-0001.png e-0001.bmp; do [ "$(cat "$f" 2>/dev/null)" = kept ] || kept+=" $f"; done
[ -z "$kept" ] && pass "$win_build: the older files kept" || fail "$win_build: the older files kept" "changed or gone:$kept"
if ls ./*.part >/dev/null 2>&1; then fail "$win_build: nothing left beside them" "$(ls -l)"; else pass "$win_build: nothing left beside them"; fi
# A multi-page TIFF (Windows) on a disk with room for some of its pages: 8, the count is the
# pages the file holds, and the file reads back with exactly those (libtiff and ImageMagick).
# The next book in the same process, on the disk now full, answers 8 with no page and no file,
# and nothing of the failed book's codec is left to break it. Then a disk full from the start:
# 8, no page, and an older book of that name kept as it was, with nothing beside it.
rm -f ./*
dd if=/dev/zero of=filler bs=4k 2>/dev/null
truncate -s -3m filler
out="$("$host" --build "$win_build" --scanner-control 'pages 5' 'Twain.Connect()' 'Twain.SetSourceCapability("PIXELTYPE", 1)' \
  'Twain.ScanPages("book.tif", $n, 0, 6)' 'Twain.ScanPages("next.tif", $n, 0, 6)' 'Twain.Disconnect()' 2>&1)"
counted="$(printf '%s\n' "$out" | awk '/^Twain.ScanPages\("book.tif"/ { getline; print $3; exit }')"
expect "$win_build: a book that fills the disk: 8" 'Twain.ScanPages("book.tif", $n, 0, 6) -> 8'
held="$(tiffinfo book.tif 2>/dev/null | grep -c '^TIFF Directory')"
read_back="$(identify book.tif 2>/dev/null | wc -l)"
if [ -n "$counted" ] && [ "$counted" -ge 1 ] && [ "$counted" -lt 5 ] && [ "$held" = "$counted" ] &&
   [ "$read_back" = "$counted" ] && tiffinfo -D book.tif >/dev/null 2>&1; then
  pass "$win_build: the book holds exactly the $counted pages it counts"
else
  fail "$win_build: the book holds exactly the pages it counts" "counted '$counted', libtiff $held, ImageMagick $read_back"$'\n'"$out"
fi
expect "$win_build: the next book on the full disk: 8, no page, the host still there" \
  'Twain.ScanPages("next.tif", $n, 0, 6) -> 8' '  $n = 0' 'Twain.Disconnect() -> 0'
[ ! -e next.tif ] && pass "$win_build: no file for the book without a page" || fail "$win_build: no file for the book without a page" "$(ls -l)"

rm -f ./*
echo kept >keep.tif
dd if=/dev/zero of=filler bs=4k 2>/dev/null
truncate -s -8k filler
out="$("$host" --build "$win_build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.ScanPages("keep.tif", $n, 0, 6)' \
  'Twain.ScanPages("keep.tif", $n, 0, 6)' 2>&1)"
expect "$win_build: a book on a disk full from the start: 8, no page, twice" 'Twain.ScanPages("keep.tif", $n, 0, 6) -> 8' \
  '  $n = 0' 'Twain.ScanPages("keep.tif", $n, 0, 6) -> 8' '  $n = 0'
[ "$(cat keep.tif 2>/dev/null)" = kept ] && pass "$win_build: the older book kept" || fail "$win_build: the older book kept" "$(ls -l)"
if ls ./*.part >/dev/null 2>&1; then fail "$win_build: nothing left beside the book" "$(ls -l)"; else pass "$win_build: nothing left beside the book"; fi

# A PDF on both builds on a disk with room for some of its pages (lossless grey at 300 dpi,
# about 14 KB a page): 8, the page that did not fit is cut off and the pages before are closed
# into a PDF that qpdf passes, holding exactly the pages counted. Then a disk full from the
# start: 8, no page, no file, and an older file of the name kept as it was.
for build in $checked_builds; do
  for transfer in NATIVE MEMORY; do
    rm -f ./*
    dd if=/dev/zero of=filler bs=4k 2>/dev/null
    truncate -s -40k filler
    out="$("$host" --build "$build" --scanner-control 'pages 5' 'Twain.Connect()' \
      "Twain.SetOption(\"PDFIMAGES\", \"LOSSLESS\", \"TRANSFER\", \"$transfer\")" \
      'Twain.SetSourceCapability("PIXELTYPE", 1, "XRESOLUTION", 300, "YRESOLUTION", 300)' \
      'Twain.ScanPages("doc.pdf", $n, 0, 10)' 2>&1)"
    counted="$(printf '%s\n' "$out" | awk '/^Twain.ScanPages\("doc.pdf"/ { getline; print $3; exit }')"
    expect "$build, $transfer: a PDF that fills the disk: 8" 'Twain.ScanPages("doc.pdf", $n, 0, 10) -> 8'
    held="$(pdfinfo doc.pdf 2>/dev/null | awk '/^Pages:/ { print $2 }')"
    if [ -n "$counted" ] && [ "$counted" -ge 1 ] && [ "$counted" -lt 5 ] && [ "$held" = "$counted" ] &&
       qpdf --check doc.pdf >/dev/null 2>&1; then
      pass "$build, $transfer: the PDF holds exactly the $counted pages it counts, and qpdf passes it"
    else
      fail "$build, $transfer: the PDF holds exactly the pages it counts" "counted '$counted', pdfinfo '$held'"$'\n'"$out"$'\n'"$(qpdf --check doc.pdf 2>&1 | tail -3)"
    fi
  done
  rm -f ./*
  [ "$build" != macos ] && echo kept >keep.pdf
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s -4k filler
  out="$("$host" --build "$build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.ScanPages("none.pdf", $n, 0, 10)' \
    'Twain.ScanPages("keep.pdf", $n, 0, 10)' 2>&1)"
  if [ "$build" != macos ]; then
    expect "$build: a PDF on a disk full from the start: 8, no page" 'Twain.ScanPages("none.pdf", $n, 0, 10) -> 8' '  $n = 0' \
      'Twain.ScanPages("keep.pdf", $n, 0, 10) -> 8' '  $n = 0'
  else
    expect "$build: a PDF on a disk full from the start: 8, no page" 'Twain.ScanPages("none.pdf", $n, 0, 10) -> 8' '  $n = 0'
  fi
  [ ! -e none.pdf ] && pass "$build: no file for the PDF without a page" || fail "$build: no file for the PDF without a page" "$(ls -l)"
  if [ "$build" != macos ]; then
    [ "$(cat keep.pdf 2>/dev/null)" = kept ] && pass "$win_build: the older PDF kept" || fail "$win_build: the older PDF kept" "$(ls -l)"
    if ls ./*.part >/dev/null 2>&1; then fail "$win_build: nothing left beside the PDF" "$(ls -l)"; else pass "$win_build: nothing left beside the PDF"; fi
  fi
done
# An archival PDF (PDFA "2B") on both builds on a disk full from the start: 8, no page, and
# neither the document nor the temporary file it is written as left behind.
for build in $checked_builds; do
  rm -f ./*
  dd if=/dev/zero of=filler bs=4k 2>/dev/null
  truncate -s -4k filler
  out="$("$host" --build "$build" --scanner-control 'pages 3' 'Twain.Connect()' 'Twain.SetOption("PDFA", "2B")' \
    'Twain.ScanPages("archive.pdf", $n, 0, 10)' 2>&1)"
  expect "$build: an archival PDF on a full disk: 8, no page" 'Twain.SetOption("PDFA", "2B") -> 0' \
    'Twain.ScanPages("archive.pdf", $n, 0, 10) -> 8' '  $n = 0'
  left="$(ls -A | grep -vx filler)"
  [ -z "$left" ] && pass "$build: nothing left of the archival PDF" || fail "$build: nothing left of the archival PDF" "$left"
done
# A disk that leaves room for a PDF's last page but not for its end (a 400 KB file system with a
# 4 KB filler, lossless colour pages at 300 dpi by memory transfer; on Windows with an older
# doc.pdf of 4 KB too): 8, the last page gives way to the end, and the pages before it are a PDF
# holding exactly the pages counted; an older file stays until the new one takes its name.
small="$disk/small"
mkdir -p "$small"
if mount -t tmpfs -o size=400k tmpfs "$small" 2>/dev/null; then
  for build in $checked_builds; do
    rm -f "$small"/*
    head -c 4096 /dev/zero >"$small/filler"
    [ "$build" != macos ] && head -c 4096 /dev/zero >"$small/doc.pdf"
    out="$(cd "$small" && "$host" --build "$build" --scanner-control 'pages 20' 'Twain.Connect()' \
      'Twain.SetOption("PDFIMAGES", "LOSSLESS", "TRANSFER", "MEMORY", "EXISTING", "REPLACE")' \
      'Twain.SetSourceCapability("XRESOLUTION", 300, "YRESOLUTION", 300)' 'Twain.ScanPages("doc.pdf", $n, 0, 10)' 2>&1)"
    counted="$(printf '%s\n' "$out" | awk '/^Twain.ScanPages\("doc.pdf"/ { getline; print $3; exit }')"
    expect "$build: a PDF whose end does not fit after its last page: 8" 'Twain.ScanPages("doc.pdf", $n, 0, 10) -> 8'
    held="$(pdfinfo "$small/doc.pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')"
    if [ -n "$counted" ] && [ "$counted" -ge 1 ] && [ "$held" = "$counted" ] && qpdf --check "$small/doc.pdf" >/dev/null 2>&1 &&
       ! ls "$small"/*.part >/dev/null 2>&1; then
      pass "$build: the pages before the last are a PDF of the $counted pages counted"
    else
      fail "$build: the pages before the last are a PDF of the pages counted" "counted '$counted', pdfinfo '$held'"$'\n'"$out"$'\n'"$(ls -l "$small")"
    fi
  done
  umount "$small"
else
  fail "a 400 KB file system" "cannot mount a tmpfs on $small"
fi
summary
