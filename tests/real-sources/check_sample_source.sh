#!/usr/bin/env bash
# The Windows build against a source nobody on this project wrote: the TWAIN Working Group's
# sample source, installed by `make build` into the build's Wine prefix as source 1, scanning
# our test page (tools/test-page.sh, 400 x 600 pixels at 200 dpi). Through tools/velmar-host,
# as a user runs it: native scans in black and white, grey and colour, to files and to
# picture fields; file transfers (TIFF, which the source writes) and the BMP writer (code 2);
# formats the source cannot write; three pages waiting in its feeder; batches of pages in one
# call (Twain.ScanPages), into files and into one PDF; a substituted value;
# a scan with the interface; every capability word read and set once; Reset, Disconnect and
# Connect in a row with the selection kept; both sources listed and chosen by name.
# Every page is compared pixel by pixel with what the source makes of the test page, using
# ImageMagick. One line per check, then the counts. Exit 0 when all passed, 1 when one failed,
# 77 (skipped) when the sample source is not installed.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
host="$repo/tools/velmar-host"
builds="${KV_BUILD_DIR:-$repo/build}"
twain="$builds/windows/wineprefix/drive_c/windows/twain_32"
sample="$builds/sample-source/TWAINDS_Sample01.ds"
if [ ! -f "$sample" ] || ! cmp -s "$sample" "$twain/gphoto2.ds"; then
  echo "skipped: the sample source is not installed in $builds/windows/wineprefix (make build does it when the package is there)"
  exit 77
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
# The source takes the number of pages in its feeder from the environment.
unset CAP_XFERCOUNT TWAIN_SHOWCONSOLEMESSAGES

source "$repo/tests/support/checks.sh"

# What the source makes of the page, R, G and B being a pixel's 8-bit samples: colour as it
# is; grey the Rec. 709 luma (2126 R + 7152 G + 722 B + 5000) / 10000 in integers; black and
# white that grey at or above the threshold, 128.
convert "BMP:$twain/TWAIN_logo.png" -type TrueColor -depth 8 colour.png
convert colour.png -fx 'floor((2126*round(255*r) + 7152*round(255*g) + 722*round(255*b) + 5000) / 10000) / 255' \
  -type TrueColor -depth 8 grey.png
convert grey.png -fx 'r >= 128/255 ? 1 : 0' -type TrueColor -depth 8 bw.png

# The frame is the page's size in inches; the source forgets it (and the rest) at every close.
F='Twain.SetSourceCapability("FRAMES", "0,0,2,3")'
run_source 1 scans 'Twain.Connect()' \
  "$F" 'Twain.ScanToFile("colour.bmp")' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanToFile("grey.bmp")' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanToFile("bw.bmp")' \
  "$F" 'Twain.ScanToField($fcolour:picture)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanToField($fgrey:picture)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanToField($fbw:picture)' \
  "$F" 'Twain.ScanToFile("colour.tif", 0, 0)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanToFile("grey.tif", 0, 0)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanToFile("bw.tif", 0, 0)' \
  "$F" 'Twain.ScanToFile("code2.bmp", 0, 2)' \
  'Twain.ScanToFile("page.png", 0, 7)' 'Twain.ScanToFile("page.jpg", 0, 4)' \
  "$F" 'Twain.ScanToFile("after.bmp")' 'Twain.Disconnect()'
for scan in 'ScanToFile("colour.bmp")' 'ScanToFile("grey.bmp")' 'ScanToFile("bw.bmp")' \
            'ScanToField($fcolour:picture)' 'ScanToField($fgrey:picture)' 'ScanToField($fbw:picture)' \
            'ScanToFile("colour.tif", 0, 0)' 'ScanToFile("grey.tif", 0, 0)' 'ScanToFile("bw.tif", 0, 0)' \
            'ScanToFile("code2.bmp", 0, 2)' 'ScanToFile("after.bmp")'; do
  expect "Twain.$scan answers 0" "Twain.$scan -> 0"
done
same_pixels "native colour page in a BMP" colour.bmp colour.png
same_pixels "native grey page in a BMP" grey.bmp grey.png
same_pixels "native black-and-white page in a BMP" bw.bmp bw.png
same_pixels "colour page in a picture field" fcolour.bmp colour.png
same_pixels "grey page in a picture field" fgrey.bmp grey.png
same_pixels "black-and-white page in a picture field" fbw.bmp bw.png
same_pixels "colour TIFF written by the source (code 0)" colour.tif colour.png
same_pixels "grey TIFF written by the source (code 0)" grey.tif grey.png
same_pixels "black-and-white TIFF written by the source (code 0)" bw.tif bw.png
same_pixels "BMP of a native transfer (code 2)" code2.bmp colour.png
# PNG and JPEG: the source refuses ICAP_IMAGEFILEFORMAT with TWCC_BADVALUE while the scan is
# being set up; nothing is written, and the next scan works.
expect "formats the source cannot write answer 10" \
  'Twain.ScanToFile("page.png", 0, 7) -> 10' 'Twain.ScanToFile("page.jpg", 0, 4) -> 10'
if [ ! -e page.png ] && [ ! -e page.jpg ]; then pass "no file for a refused format"; else fail "no file for a refused format"; fi
same_pixels "the scan after the refused formats" after.bmp colour.png

# Three pages in the feeder: each scan takes one page and puts the rest back; every scan works.
CAP_XFERCOUNT=3 run_source 1 pages \
  "$F" 'Twain.ScanToFile("p1.bmp")' "$F" 'Twain.ScanToFile("p2.bmp")' "$F" 'Twain.ScanToFile("p3.bmp")' \
  "$F" 'Twain.GetSourceCapability("XFERCOUNT", $n)' 'Twain.Disconnect()'
expect "three pages waiting: three scans in a row answer 0" \
  'Twain.ScanToFile("p1.bmp") -> 0' 'Twain.ScanToFile("p2.bmp") -> 0' 'Twain.ScanToFile("p3.bmp") -> 0'
for p in p1 p2 p3; do same_pixels "page $p of three" "$p.bmp" colour.png; done

# Twain.ScanPages: the feeder's pages in one enable. With 40 in the feeder: one page under its
# name as it stands, three, then every page; TIFF pages written by the source; an existing
# page file is replaced. With 2: a limit above the feeder. The scan after each batch works.
printf 'not a picture\n' >forty-0002.bmp
CAP_XFERCOUNT=40 run_source 1 batches \
  "$F" 'Twain.ScanPages("one.bmp", $n, 0, 1, 1)' "$F" 'Twain.ScanPages("three.bmp", $n, 0, 1, 3)' \
  "$F" 'Twain.ScanPages("forty.bmp", $n)' "$F" 'Twain.ScanPages("tiff.tif", $n, 0, 0, 3)' \
  "$F" 'Twain.ScanToFile("afterpages.bmp")' 'Twain.Disconnect()'
expect "ScanPages: 1, 3 and 40 pages and 3 TIFF pages answer 0 with their counts" \
  'Twain.ScanPages("one.bmp", $n, 0, 1, 1) -> 0' '  $n = 1' 'Twain.ScanPages("three.bmp", $n, 0, 1, 3) -> 0' \
  '  $n = 3' 'Twain.ScanPages("forty.bmp", $n) -> 0' '  $n = 40' 'Twain.ScanPages("tiff.tif", $n, 0, 0, 3) -> 0' \
  '  $n = 3' 'Twain.ScanToFile("afterpages.bmp") -> 0'
same_pixels "ScanPages: a batch of one page, under its name" one.bmp colour.png
same_pixels_pages "ScanPages: 3 of 40" three bmp 3 colour.png
same_pixels_pages "ScanPages: all 40, the existing page 2 replaced" forty bmp 40 colour.png
same_pixels_pages "ScanPages: TIFF pages written by the source" tiff tif 3 colour.png
same_pixels "the scan after the batches" afterpages.bmp colour.png
CAP_XFERCOUNT=2 run_source 1 limit "$F" 'Twain.ScanPages("more.bmp", $n, 0, 1, 10)' 'Twain.Disconnect()'
expect "ScanPages: a limit of 10 with 2 in the feeder gives 2" 'Twain.ScanPages("more.bmp", $n, 0, 1, 10) -> 0' '  $n = 2'
same_pixels_pages "ScanPages: a limit above the feeder" more bmp 2 colour.png

# The buffered memory transfer (TRANSFER MEMORY), which the source offers: a batch of two
# pages by memory equals the same batch by native transfer, pixel for pixel, in colour, grey
# and black and white, into PNG (BMP on the way: code 2 is the DIB the extension assembles).
CAP_XFERCOUNT=40 run_source 1 memory 'Twain.Connect()' \
  "$F" 'Twain.ScanPages("ncolour.png", $n, 0, 7, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanPages("ngrey.png", $n, 0, 7, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanPages("nbw.png", $n, 0, 7, 2)' \
  'Twain.SetOption("TRANSFER", "MEMORY")' \
  "$F" 'Twain.ScanPages("mcolour.png", $n, 0, 7, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanPages("mgrey.png", $n, 0, 7, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanPages("mbw.png", $n, 0, 7, 2)' \
  "$F" 'Twain.ScanPages("mcolour.bmp", $n, 0, 2, 1)' 'Twain.Disconnect()'
expect "memory batches answer 0 with their pages" \
  'Twain.ScanPages("mcolour.png", $n, 0, 7, 2) -> 0' '  $n = 2' 'Twain.ScanPages("mgrey.png", $n, 0, 7, 2) -> 0' \
  '  $n = 2' 'Twain.ScanPages("mbw.png", $n, 0, 7, 2) -> 0' '  $n = 2' 'Twain.ScanPages("mcolour.bmp", $n, 0, 2, 1) -> 0'
for kind in colour grey bw; do
  for page in 0001 0002; do
    same_pixels "memory transfer equals native: $kind page $page" "m$kind-$page.png" "$kind.png"
    same_pixels "the native batch: $kind page $page" "n$kind-$page.png" "$kind.png"
  done
done
same_pixels "memory transfer into a BMP (code 2)" mcolour.bmp colour.png

# Into one PDF (code 10), by native and by memory transfer: lossless pages in colour, grey and
# black and white, each image extracted again (pdfimages) with the source's pixels; a JPEG
# page; every file passes qpdf --check, has its pages, and pages of the page's size (400 x
# 600 pixels at 200 dpi: 144 x 216 points).
CAP_XFERCOUNT=40 run_source 1 pdf 'Twain.Connect()' 'Twain.SetOption("PDFIMAGES", "LOSSLESS")' \
  "$F" 'Twain.ScanPages("ncolour.pdf", $n, 0, 10, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanPages("ngrey.pdf", $n, 0, 10, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanPages("nbw.pdf", $n, 0, 10, 2)' \
  'Twain.SetOption("TRANSFER", "MEMORY")' \
  "$F" 'Twain.ScanPages("mcolour.pdf", $n, 0, 10, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 1)' 'Twain.ScanPages("mgrey.pdf", $n, 0, 10, 2)' \
  "$F" 'Twain.SetSourceCapability("PIXELTYPE", 0)' 'Twain.ScanPages("mbw.pdf", $n, 0, 10, 2)' \
  'Twain.SetOption("PDFIMAGES", "JPEG")' "$F" 'Twain.ScanPages("jpeg.pdf", $n, 0, 10, 1)' 'Twain.Disconnect()'
for f in ncolour ngrey nbw mcolour mgrey mbw; do
  expect "PDF $f.pdf: two pages" "Twain.ScanPages(\"$f.pdf\", \$n, 0, 10, 2) -> 0" '  $n = 2'
done
expect "PDF with a JPEG page" 'Twain.ScanPages("jpeg.pdf", $n, 0, 10, 1) -> 0' '  $n = 1'
for f in ncolour ngrey nbw mcolour mgrey mbw jpeg; do
  if qpdf --check "$f.pdf" >/dev/null 2>&1; then pass "qpdf --check $f.pdf"; else fail "qpdf --check $f.pdf" "$(qpdf --check "$f.pdf" 2>&1 | tail -3)"; fi
  size="$(pdfinfo "$f.pdf" 2>/dev/null | sed -n 's/^Page size: *\(.*\) pts.*/\1/p')"
  [ "$size" = "144 x 216" ] && pass "$f.pdf: 144 x 216 points" || fail "$f.pdf: 144 x 216 points" "pdfinfo: $size"
done
for kind in colour grey bw; do
  for how in n m; do
    rm -f img-*
    pdfimages -png "$how$kind.pdf" img
    for i in 000 001; do same_pixels "PDF $how$kind.pdf: image $i" "img-$i.png" "$kind.png"; done
  done
done
enc="$(pdfimages -list jpeg.pdf 2>/dev/null | awk 'NR == 3 { print $9, $13, $14 }')"
[ "$enc" = "jpeg 200 200" ] && pass "jpeg.pdf: a JPEG image at 200 dpi" || fail "jpeg.pdf: a JPEG image at 200 dpi" "pdfimages -list: $enc"

# Reset, Disconnect and Connect in a row. The selection outlives Disconnect: XRESOLUTION's
# values are the sample's (50 to 600), not the virtual scanner's (75 to 600).
run_source 1 sequence 'Twain.Connect()' 'Twain.GetSourceCapRange("XRESOLUTION", $r)' 'Twain.Reset()' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r)' 'Twain.Disconnect()' 'Twain.Connect()' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r)' "$F" 'Twain.ScanToFile("again.bmp")' 'Twain.Disconnect()'
r='  $r = "50,100,150,200,300,400,500,600"'
expect "Reset, Disconnect, Connect: the sample stays selected and scans" \
  'Twain.Connect() -> 0' "Twain.GetSourceCapRange(\"XRESOLUTION\", \$r) -> 0" "$r" 'Twain.Reset() -> (nothing)' \
  "$r" 'Twain.Disconnect() -> 0' 'Twain.Connect() -> 0' "$r" 'Twain.ScanToFile("again.bmp") -> 0'
same_pixels "the scan after Reset, Disconnect and Connect" again.bmp colour.png

# A value the source does not keep as given: it takes the nearest it has and says so with
# TWRC_CHECKSTATUS, 2002.
run_source 1 substituted 'Twain.Connect()' 'Twain.SetSourceCapability("THRESHOLD", 127.5)' \
  'Twain.GetSourceCapability("THRESHOLD", $t)' 'Twain.Disconnect()'
expect "THRESHOLD 127.5 answers 2002 and reads back 127" \
  'Twain.SetSourceCapability("THRESHOLD", 127.5) -> 2002' '  $t = 127'

# Sources by name, without the dialog: both listed (the virtual scanner first, the manager's
# default), and each chosen by its product name is the one the next Connect opens and scans
# from (XRESOLUTION's values tell them apart: 50 to 600 here, 75 to 600 the scanner); a
# choice made while the other is open leaves that one addressed until Disconnect; a name
# that differs in case chooses nothing.
sample_name='TWAIN2 Software Scanner'
scanner_r='  $r = "75,100,150,200,300,600"'
"$host" --build windows 'Twain.GetSourceNames($names, $current)' \
  "Twain.SelectSource(\"$sample_name\")" 'Twain.GetSourceNames($names, $current)' 'Twain.Connect()' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r)' 'Twain.SelectSource("Virtual Scanner")' \
  'Twain.GetSourceCapRange("XRESOLUTION", $r)' "$F" 'Twain.ScanToFile("byname.bmp")' 'Twain.Disconnect()' \
  'Twain.Connect()' 'Twain.GetSourceCapRange("XRESOLUTION", $r)' 'Twain.ScanToFile("scanner.bmp")' \
  'Twain.SelectSource("twain2 software scanner")' 'Twain.Disconnect()' 'Twain.Connect()' \
  'Twain.GetSourceNames($names, $current)' 'Twain.Disconnect()' >names.out 2>names.err
out="$(cat names.out)"
names_line="  \$names = \"Virtual Scanner"$'\r'"$sample_name\""
expect "both sources listed by name, the virtual scanner first and the default" \
  'Twain.GetSourceNames($names, $current) -> 0' "$names_line" '  $current = "Virtual Scanner"'
expect "the sample chosen by name: the next open's source, opened, kept while the scanner is chosen" \
  "Twain.SelectSource(\"$sample_name\") -> 0" "  \$current = \"$sample_name\"" 'Twain.Connect() -> 0' "$r" \
  'Twain.SelectSource("Virtual Scanner") -> 0' "$r" 'Twain.ScanToFile("byname.bmp") -> 0'
same_pixels "the page of the source chosen by name" byname.bmp colour.png
expect "the scanner chosen while the sample was open: opened after Disconnect and scanned from" \
  'Twain.Disconnect() -> 0' 'Twain.Connect() -> 0' "$scanner_r" 'Twain.ScanToFile("scanner.bmp") -> 0'
if [ "$(identify -format '%wx%h' scanner.bmp 2>/dev/null)" = 850x1100 ]; then
  pass "the scanner's page (850 x 1100) from the source chosen by name"
else
  fail "the scanner's page (850 x 1100) from the source chosen by name" "$(identify scanner.bmp 2>&1)"
fi
expect "a name in other case chooses nothing" 'Twain.SelectSource("twain2 software scanner") -> 15' \
  'Twain.Connect() -> 0' "$names_line" '  $current = "Virtual Scanner"'

# With its interface asked for, this build of the source (which has none) accepts the enable
# and then reports nothing: the scan waits until it is killed, having printed what came before.
timeout 8 "$host" --build windows --select 1 'Twain.SelectDataSource()' 'Twain.Connect()' \
  'Twain.ScanToFile("ui.bmp", 1)' >ui.out 2>/dev/null
status=$?
out="$(cat ui.out)"
if [ "$status" -eq 124 ] && [ ! -e ui.bmp ]; then
  expect "ScanToFile with the interface waits for good (killed after 8 s)" 'Twain.Connect() -> 0'
else
  fail "ScanToFile with the interface waits for good (killed after 8 s)" "exit $status: $(cat ui.out)"
fi

# Every capability word read, then set to what was read: the answers are the source's own,
# as listed in sample_capabilities.txt (FRAMES reads "" because the source keeps an
# enumeration of frames, and "" is no frame to set).
words="$(sed -n 's/^    {"\([A-Z0-9]*\)", 0x.*/\1/p' "$repo/src/caps/cap_table.cpp" | head -84)"
calls=('Twain.Connect()')
for w in $words; do
  calls+=("Twain.GetSourceCapability(\"$w\", \$$w)" "Twain.SetSourceCapability(\"$w\", \$$w)")
done
run_source 1 capabilities "${calls[@]}" 'Twain.Disconnect()'
if [ "$(wc -w <<<"$words")" -eq 84 ] &&
   diff -u "$repo/tests/real-sources/sample_capabilities.txt" capabilities.out >capabilities.diff; then
  pass "84 capability words read and set: the answers the source gives"
else
  fail "84 capability words read and set: the answers the source gives" "$(head -40 capabilities.diff)"
fi

summary
